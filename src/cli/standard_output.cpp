#include "cli/standard_output.h"

#include <unistd.h>

#include <cerrno>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <iostream>
#include <mutex>
#include <streambuf>

namespace lumivor::cli {

namespace {

// No put area of the base class: every character reaches overflow or xsputn, which hold a lock,
// so that a command writing from two threads cannot tear the buffer (the C library's streams lock
// the same way).
class DescriptorBuffer : public std::streambuf {
 public:
  DescriptorBuffer(int fd, bool lineBuffered) : fd_(fd), lineBuffered_(lineBuffered) {}
  int Error() const {
    std::lock_guard<std::mutex> guard(mutex_);
    return error_;
  }

 protected:
  int_type overflow(int_type c) override {
    if (traits_type::eq_int_type(c, traits_type::eof())) return sync() == 0 ? traits_type::not_eof(c) : c;
    const char byte = traits_type::to_char_type(c);
    return xsputn(&byte, 1) == 1 ? c : traits_type::eof();
  }

  std::streamsize xsputn(const char* data, std::streamsize size) override {
    std::lock_guard<std::mutex> guard(mutex_);
    pending_.append(data, static_cast<std::size_t>(size));
    const bool drain = pending_.size() >= Capacity ||
                       (lineBuffered_ && std::memchr(data, '\n', static_cast<std::size_t>(size)) != nullptr);
    if (drain && !Drain()) return 0;
    return size;
  }

  int sync() override {
    std::lock_guard<std::mutex> guard(mutex_);
    return Drain() ? 0 : -1;
  }

 private:
  static constexpr std::size_t Capacity = 8192;

  // Once a write has failed the rest is dropped: the output is incomplete either way, and the
  // first failure's reason is the one to report.
  bool Drain() {
    std::size_t done = 0;
    while (error_ == 0 && done < pending_.size()) {
      const ssize_t n = ::write(fd_, pending_.data() + done, pending_.size() - done);
      if (n < 0 && errno == EINTR) continue;
      if (n <= 0) {
        error_ = n < 0 ? errno : EIO;
        break;
      }
      done += static_cast<std::size_t>(n);
    }
    pending_.clear();
    return error_ == 0;
  }

  const int fd_;
  const bool lineBuffered_;
  mutable std::mutex mutex_;
  std::string pending_;
  int error_ = 0;
};

// Never destroyed: std::cout may be flushed after main returns, by the library's own exit code.
DescriptorBuffer* standard_output_buffer = nullptr;

}  // namespace

void TakeOverStandardOutput() {
  if (standard_output_buffer != nullptr) return;
  standard_output_buffer = new DescriptorBuffer(STDOUT_FILENO, IsTerminal(STDOUT_FILENO));
  std::cout.rdbuf(standard_output_buffer);
}

bool FinishStandardOutput(const std::string& command) {
  errno = 0;
  std::cout.flush();
  int error = standard_output_buffer != nullptr ? standard_output_buffer->Error() : 0;
  // Anything written through the C streams as well.
  const bool flushed = std::fflush(stdout) == 0;
  if (error == 0 && (!flushed || std::ferror(stdout) != 0)) error = errno;
  if (error == 0 && flushed && std::cout && std::ferror(stdout) == 0) return true;
  std::cerr << "lumivor" << (command.empty() ? "" : " ") << command << ": cannot write to standard output"
            << (error != 0 ? std::string(": ") + std::strerror(error) : std::string()) << '\n';
  return false;
}

std::string TerminalSafeText(const std::string& text) {
  static constexpr char hex[] = "0123456789abcdef";
  std::string safe;
  safe.reserve(text.size());
  auto escape = [&](unsigned char byte) {
    safe += "\\x";
    safe += hex[byte >> 4];
    safe += hex[byte & 0x0F];
  };
  const std::size_t size = text.size();
  for (std::size_t i = 0; i < size;) {
    const auto byte = static_cast<unsigned char>(text[i]);
    if (byte < 0x80) {
      if ((byte < 0x20 && byte != '\n' && byte != '\t') || byte == 0x7F) {
        escape(byte);
      } else {
        safe += static_cast<char>(byte);
      }
      ++i;
      continue;
    }
    // The length of a well-formed UTF-8 sequence starting here, 0 when it is not one.
    std::size_t length = 0;
    std::uint32_t codePoint = 0;
    if (byte >= 0xC2 && byte <= 0xDF) {
      length = 2, codePoint = byte & 0x1F;
    } else if (byte >= 0xE0 && byte <= 0xEF) {
      length = 3, codePoint = byte & 0x0F;
    } else if (byte >= 0xF0 && byte <= 0xF4) {
      length = 4, codePoint = byte & 0x07;
    }
    for (std::size_t k = 1; k < length; ++k) {
      const auto next = i + k < size ? static_cast<unsigned char>(text[i + k]) : 0;
      if ((next & 0xC0) != 0x80) {
        length = 0;
        break;
      }
      codePoint = (codePoint << 6) | (next & 0x3F);
    }
    // Overlong forms, surrogates and values past U+10FFFF are not UTF-8 either.
    const bool valid = length != 0 && !(length == 3 && codePoint < 0x800) && !(length == 4 && codePoint < 0x10000) &&
                       !(codePoint >= 0xD800 && codePoint <= 0xDFFF) && codePoint <= 0x10FFFF;
    if (!valid) {
      escape(byte);
      ++i;
    } else if (codePoint >= 0x80 && codePoint <= 0x9F) {
      for (std::size_t k = 0; k < length; ++k) escape(static_cast<unsigned char>(text[i + k]));
      i += length;
    } else {
      safe.append(text, i, length);
      i += length;
    }
  }
  return safe;
}

bool IsTerminal(int fd) { return ::isatty(fd) != 0; }

}  // namespace lumivor::cli
