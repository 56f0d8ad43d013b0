#include "cli/probe_command.h"

#include <sys/stat.h>

#include <cinttypes>
#include <cstdarg>
#include <cstdio>
#include <cstring>
#include <sstream>

#include "app/files/input_file.h"
#include "cli/arguments.h"
#include "cli/standard_output.h"
#include "media/components/ff_decoder.h"

namespace lumivor {
namespace {

// The audio list's duration form: hours are not limited to two digits and nothing is rounded,
// unlike the file information text's duration.
std::string TrackDurationText(std::int64_t us) {
  char text[64];
  std::snprintf(text, sizeof text, "%.2d:%.2d:%.2d.%.3d", static_cast<int>(us / 1000000 / 3600),
                static_cast<int>((us / 1000000 / 60) % 60), static_cast<int>((us / 1000000) % 60),
                static_cast<int>((us % 1000000) * 1000 / 1000000));
  return text;
}

std::string Trim(const std::string& text) {
  const auto first = text.find_first_not_of(" \t\r\n");
  if (first == std::string::npos) return std::string();
  return text.substr(first, text.find_last_not_of(" \t\r\n") - first + 1);
}

void WriteLine(std::ostream& out, const char* format, ...) __attribute__((format(printf, 2, 3)));
void WriteLine(std::ostream& out, const char* format, ...) {
  char text[1024];
  va_list args;
  va_start(args, format);
  std::vsnprintf(text, sizeof text, format, args);
  va_end(args);
  out << text << '\n';
}

void Report(TFFDecoder& decoder, std::ostream& out) {
  out << "***FFDecoder.FileInfoText\n" << Trim(decoder.FileInfoText()) << "\n\n";
  WriteLine(out, "File Size: %" PRId64, decoder.FileSize);
  TFileStreamInfo file;
  decoder.GetFileStreamInfo(file);
  if (file.Duration >= 0) {
    WriteLine(out, "File Duration: %s", TrackDurationText(file.Duration).c_str());
  } else {
    out << "File Duration is not preseted\n";
  }
  for (int i = 0; i < decoder.StreamCount; ++i) {
    if (decoder.IsVideoStream(i)) {
      TVideoStreamInfo video;
      decoder.GetVideoStreamInfo(i, video);
      WriteLine(out, "Stream #%d: Video", i);
      if (video.DurationUS >= 0) {
        WriteLine(out, "  Video Length: %s", TrackDurationText(video.DurationUS).c_str());
      } else {
        out << "  Video Length is not preseted\n";
      }
      WriteLine(out, "  Video Frame Rate: %f",
                video.FrameRateDen != 0 ? static_cast<double>(video.FrameRateNum) / video.FrameRateDen : 0.0);
      if (video.BitRate >= 1) {
        WriteLine(out, "  Video Bit Rate: %d kb", video.BitRate / 1000);
      } else {
        out << "  Video Bit Rate is not preseted\n";
      }
      WriteLine(out, "  Frame size (width X height): %dx%d", video.Width, video.Height);
    } else if (decoder.IsAudioStream(i)) {
      TAudioStreamInfo audio;
      decoder.GetAudioStreamInfo(i, audio);
      WriteLine(out, "Stream #%d: Audio", i);
      if (audio.DurationUS >= 0) {
        WriteLine(out, "  Audio Length: %s", TrackDurationText(audio.DurationUS).c_str());
      } else {
        out << "  Audio Length is not preseted\n";
      }
      WriteLine(out, "  Audio Sample Rate: %d hz", audio.SampleRate);
      if (audio.BitRate >= 1) {
        WriteLine(out, "  Audio Bit Rate: %d kb", audio.BitRate / 1000);
      } else {
        out << "  Audio Bit Rate is not preseted\n";
      }
    }
  }
}

}  // namespace

namespace {

constexpr const char* Usage =
    "usage: lumivor probe [--allow-protocols] [--] FILE...\n"
    "Reports what each media file holds: its format, duration, bit rate, tags and streams.\n"
    "\n"
    "FILE is a file on this machine, whatever characters its name has (\"a:b.mp3\" is a file).\n"
    "  --allow-protocols  FILE may also be a URL the media library opens itself: http:, udp:,\n"
    "                     tcp:, pipe:, concat:, data: ... (this may connect to other machines\n"
    "                     or read other files than the one named)\n"
    "  --                 every word after this one is a FILE, even one starting with \"-\"\n"
    "  -h, --help         this text\n"
    "Exit status: 0 when every file was reported, 1 when some could not be, 2 on a usage error.\n";

// As the library reads a name: a scheme of letters, digits, "+", "-" and "." before the first
// ":" picks a protocol, and so does a leading "subfile,". Anything else is a file.
bool names_a_protocol(const std::string& name) {
  const std::size_t scheme =
      std::strspn(name.c_str(), "abcdefghijklmnopqrstuvwxyzABCDEFGHIJKLMNOPQRSTUVWXYZ0123456789+-.");
  return (scheme > 0 && scheme < name.size() && name[scheme] == ':') || name.rfind("subfile,", 0) == 0;
}

// The name the library gets for a local file: one it could read as a protocol gets a "./" in
// front, which no scheme contains, so it stays the file it names.
std::string local_file_name(const std::string& name) {
  return names_a_protocol(name) && name[0] != '/' ? "./" + name : name;
}

void print(std::ostream& stream, const std::string& text, bool terminal) {
  stream << (terminal ? cli::TerminalSafeText(text) : text);
}

}  // namespace

int RunProbe(const std::vector<std::string>& arguments, std::ostream& out, std::ostream& err, bool outIsTerminal,
             bool errIsTerminal) {
  static constexpr cli::OptionRule Options[] = {{"--allow-protocols", cli::OptionKind::Flag}};
  cli::ParsedArguments parsed;
  try {
    parsed = cli::ParseArguments(arguments, Options);
    if (!parsed.Help && parsed.Positionals.empty()) cli::fail_usage("no FILE given");
  } catch (const cli::CommandError& error) {
    print(err, cli::CommandErrorText("probe", error), errIsTerminal);
    return cli::ExitUsage;
  }
  if (parsed.Help) {
    out << Usage;
    return 0;
  }
  const bool allowProtocols = parsed.Has("--allow-protocols");
  std::vector<std::pair<std::size_t, std::string>> files;  // argument number, name
  for (std::size_t i = 0; i < parsed.Positionals.size(); ++i)
    files.emplace_back(parsed.PositionalAt[i] + 1, parsed.Positionals[i]);

  TFFDecoder decoder;
  int status = 0;
  bool first = true;
  for (const auto& [number, file] : files) {
    std::string failure;
    std::string libraryName = file;
    // A name that exists here is that file, even with --allow-protocols; only other names may be
    // URLs then.
    struct stat info {};
    const bool url = allowProtocols && names_a_protocol(file) && ::stat(file.c_str(), &info) != 0;
    if (file.empty()) {
      failure = "argument " + std::to_string(number) + " is an empty file name";
    } else if (!url) {
      // Checked before the library opens it: a FIFO or a device would block the open or be read
      // from as if it were a file.
      std::string reason;
      if (!CheckInputFile(file, reason)) failure = file + ": " + reason;
    }
    if (failure.empty()) {
      if (!url) libraryName = local_file_name(file);
      // Also what the file itself may open: a playlist or a reference inside it reaches no
      // network or pseudo protocol either.
      if (!allowProtocols) decoder.SetOption("protocol_whitelist", "file");
      if (!decoder.LoadFile(libraryName)) failure = decoder.LastErrorText;
    }
    if (!failure.empty()) {
      print(err, "lumivor probe: " + failure + "\n", errIsTerminal);
      status = 1;
      continue;
    }
    std::ostringstream report;
    if (!first) report << '\n';
    first = false;
    Report(decoder, report);
    print(out, report.str(), outIsTerminal);
    decoder.CloseFile();
  }
  out.flush();
  return status;
}

}  // namespace lumivor
