#include "app/settings/settings_store.h"

#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <charconv>
#include <cstring>
#include <filesystem>
#include <span>
#include <system_error>
#include <vector>

#include "app/files/input_file.h"
#include "app/files/output_file.h"

namespace lumivor {

namespace {

constexpr std::string_view Blanks = " \t";

std::string_view trim(std::string_view text) {
  const auto first = text.find_first_not_of(Blanks);
  if (first == std::string_view::npos) return {};
  const auto last = text.find_last_not_of(Blanks);
  return text.substr(first, last - first + 1);
}

char lower(char c) { return (c >= 'A' && c <= 'Z') ? static_cast<char>(c - 'A' + 'a') : c; }

bool same_ignoring_case(std::string_view a, std::string_view b) {
  return a.size() == b.size() && std::equal(a.begin(), a.end(), b.begin(), [](char x, char y) { return lower(x) == lower(y); });
}

bool has_line_break(std::string_view text) { return text.find_first_of("\r\n") != std::string_view::npos; }

// One line of the file without its line ending, and where it sits in the text.
struct IniLine {
  std::string_view Text;
  std::size_t Begin = 0;  // offset of the first character
  std::size_t End = 0;    // offset just past the line's text (before "\r\n" or "\n")
};

std::vector<IniLine> split_lines(std::string_view text) {
  std::vector<IniLine> lines;
  std::size_t begin = 0;
  while (begin < text.size()) {
    std::size_t next = text.find('\n', begin);
    const std::size_t stop = next == std::string_view::npos ? text.size() : next;
    std::size_t end = stop;
    if (end > begin && text[end - 1] == '\r') --end;
    lines.push_back({text.substr(begin, end - begin), begin, end});
    begin = next == std::string_view::npos ? text.size() : next + 1;
  }
  return lines;
}

// The section a line opens, or nothing when the line is not a section header.
std::optional<std::string_view> section_name(std::string_view line) {
  const std::string_view t = trim(line);
  if (t.empty() || t.front() != '[') return std::nullopt;
  const auto close = t.find(']');
  if (close == std::string_view::npos) return std::nullopt;
  return trim(t.substr(1, close - 1));
}

bool is_comment(std::string_view line) {
  const std::string_view t = trim(line);
  return !t.empty() && (t.front() == ';' || t.front() == '#');
}

// The key a line sets, or nothing for blank, comment and malformed lines.
std::optional<std::string_view> key_of(std::string_view line) {
  if (is_comment(line)) return std::nullopt;
  const auto equals = line.find('=');
  if (equals == std::string_view::npos) return std::nullopt;
  const std::string_view key = trim(line.substr(0, equals));
  if (key.empty()) return std::nullopt;
  return key;
}

// Index range [first, last) of the lines inside the first section named section; first is the
// line after the header. Nothing when the section is missing.
std::optional<std::pair<std::size_t, std::size_t>> section_lines(const std::vector<IniLine>& lines,
                                                                 std::string_view section) {
  for (std::size_t i = 0; i < lines.size(); ++i) {
    const auto name = section_name(lines[i].Text);
    if (!name || !same_ignoring_case(*name, section)) continue;
    std::size_t last = i + 1;
    while (last < lines.size() && !section_name(lines[last].Text)) ++last;
    return std::make_pair(i + 1, last);
  }
  return std::nullopt;
}

bool read_whole_file(const std::string& fileName, std::string& text, std::string& reason) {
  const int fd = OpenInputFile(fileName, reason);
  if (fd < 0) return false;
  text.clear();
  char buffer[4096];
  for (;;) {
    const ssize_t got = ::read(fd, buffer, sizeof buffer);
    if (got == 0) break;
    if (got < 0) {
      if (errno == EINTR) continue;
      reason = std::strerror(errno);
      ::close(fd);
      return false;
    }
    text.append(buffer, static_cast<std::size_t>(got));
  }
  ::close(fd);
  return true;
}

bool file_missing(const std::string& fileName) {
  std::error_code error;
  const auto status = std::filesystem::status(fileName, error);
  return status.type() == std::filesystem::file_type::not_found;
}

std::optional<int> parse_integer(std::string_view text) {
  text = trim(text);
  if (!text.empty() && text.front() == '+') text.remove_prefix(1);
  int value = 0;
  const auto [end, error] = std::from_chars(text.data(), text.data() + text.size(), value);
  if (error != std::errc() || end != text.data() + text.size() || text.empty()) return std::nullopt;
  return value;
}

}  // namespace

// ---------------------------------------------------------------------------------------------

std::string SettingsStore::ReadString(std::string_view key, const std::string& defaultValue) const {
  return Find(key).value_or(defaultValue);
}

int SettingsStore::ReadInteger(std::string_view key, int defaultValue) const {
  const auto text = Find(key);
  if (!text) return defaultValue;
  return parse_integer(*text).value_or(defaultValue);
}

bool SettingsStore::ReadBool(std::string_view key, bool defaultValue) const {
  return ReadInteger(key, defaultValue ? 1 : 0) != 0;
}

bool SettingsStore::WriteString(std::string_view key, const std::string& value) {
  std::string errorText;
  // A line break inside a value would end its line and could plant other keys in the file.
  if (key.empty() || has_line_break(key) || key.find('=') != std::string_view::npos || trim(key) != key) {
    errorText = "Invalid settings key \"" + std::string(key) + "\"";
  } else if (has_line_break(value)) {
    errorText = "The value of " + std::string(key) + " cannot hold a line break";
  } else if (Store(key, value, errorText)) {
    lastErrorText_.clear();
    return true;
  }
  lastErrorText_ = errorText;
  if (OnWriteFailed) OnWriteFailed(lastErrorText_);
  return false;
}

bool SettingsStore::WriteInteger(std::string_view key, int value) { return WriteString(key, std::to_string(value)); }

bool SettingsStore::WriteBool(std::string_view key, bool value) { return WriteString(key, value ? "1" : "0"); }

// ---------------------------------------------------------------------------------------------

namespace detail {

std::optional<std::string> FindIniValue(std::string_view text, std::string_view section, std::string_view key) {
  const std::vector<IniLine> lines = split_lines(text);
  const auto range = section_lines(lines, section);
  if (!range) return std::nullopt;
  for (std::size_t i = range->first; i < range->second; ++i) {
    const auto lineKey = key_of(lines[i].Text);
    if (!lineKey || !same_ignoring_case(*lineKey, key)) continue;
    const std::string_view line = lines[i].Text;
    return std::string(trim(line.substr(line.find('=') + 1)));
  }
  return std::nullopt;
}

std::string SetIniValue(std::string_view text, std::string_view section, std::string_view key,
                        std::string_view value) {
  const std::string newline = text.find("\r\n") != std::string_view::npos ? "\r\n" : "\n";
  const std::vector<IniLine> lines = split_lines(text);
  std::string result(text);
  const auto range = section_lines(lines, section);
  if (!range) {
    if (!result.empty() && result.back() != '\n') result += newline;
    if (!result.empty()) result += newline;
    result += "[" + std::string(section) + "]" + newline;
    result += std::string(key) + "=" + std::string(value) + newline;
    return result;
  }
  for (std::size_t i = range->first; i < range->second; ++i) {
    const auto lineKey = key_of(lines[i].Text);
    if (!lineKey || !same_ignoring_case(*lineKey, key)) continue;
    // The key keeps the spelling the file gave it.
    const std::string line = std::string(*lineKey) + "=" + std::string(value);
    result.replace(lines[i].Begin, lines[i].End - lines[i].Begin, line);
    return result;
  }
  // A new key goes after the section's last non-blank line, so blank lines that separate it from
  // the next section stay where they are.
  std::size_t after = range->first - 1;  // the header
  for (std::size_t i = range->first; i < range->second; ++i) {
    if (!trim(lines[i].Text).empty()) after = i;
  }
  const std::string line = std::string(key) + "=" + std::string(value);
  const IniLine& anchor = lines[after];
  std::size_t lineEnd = text.find('\n', anchor.End);
  if (lineEnd == std::string_view::npos) {
    // The anchor is the file's last line and has no line ending yet.
    result.insert(text.size(), newline + line + newline);
  } else {
    result.insert(lineEnd + 1, line + newline);
  }
  return result;
}

}  // namespace detail

// ---------------------------------------------------------------------------------------------

IniSettingsStore::IniSettingsStore(std::string fileName, std::string section)
    : fileName_(std::move(fileName)), section_(std::move(section)) {}

std::optional<std::string> IniSettingsStore::Find(std::string_view key) const {
  std::string text;
  std::string reason;
  if (!read_whole_file(fileName_, text, reason)) return std::nullopt;
  return detail::FindIniValue(text, section_, key);
}

bool IniSettingsStore::Store(std::string_view key, const std::string& value, std::string& errorText) {
  std::string text;
  std::string reason;
  if (!file_missing(fileName_) && !read_whole_file(fileName_, text, reason)) {
    // Writing without the old content would lose every other key; a name that is not a regular
    // file must not be replaced at all.
    errorText = "Cannot write the settings file " + fileName_ + ": " + reason;
    return false;
  }
  const std::filesystem::path folder = std::filesystem::path(fileName_).parent_path();
  if (!folder.empty()) {
    std::error_code error;
    std::filesystem::create_directories(folder, error);
    if (error) {
      errorText = "Cannot create the settings folder " + folder.string() + ": " + error.message();
      return false;
    }
  }
  const std::string updated = detail::SetIniValue(text, section_, key, value);
  const auto* bytes = reinterpret_cast<const std::uint8_t*>(updated.data());
  return WriteFileReplacing(fileName_, std::span<const std::uint8_t>(bytes, updated.size()), errorText);
}

// ---------------------------------------------------------------------------------------------

bool MemorySettingsStore::CaseInsensitiveLess::operator()(const std::string& a, const std::string& b) const {
  return std::lexicographical_compare(a.begin(), a.end(), b.begin(), b.end(),
                                      [](char x, char y) { return lower(x) < lower(y); });
}

std::optional<std::string> MemorySettingsStore::Find(std::string_view key) const {
  const auto found = values_.find(std::string(key));
  if (found == values_.end()) return std::nullopt;
  return found->second;
}

bool MemorySettingsStore::Store(std::string_view key, const std::string& value, std::string&) {
  values_[std::string(key)] = value;
  return true;
}

}  // namespace lumivor
