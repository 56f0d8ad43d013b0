#include "cli/probe_command.h"

#include <cinttypes>
#include <cstdarg>
#include <cstdio>
#include <iostream>

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

int RunProbe(const std::vector<std::string>& files, std::ostream& out, std::ostream& err) {
  if (files.empty()) {
    err << "usage: lumivor probe FILE...\n";
    return 1;
  }
  TFFDecoder decoder;
  int status = 0;
  bool first = true;
  for (const std::string& file : files) {
    if (!decoder.LoadFile(file)) {
      err << decoder.LastErrorText << '\n';
      status = 1;
      continue;
    }
    if (!first) out << '\n';
    first = false;
    Report(decoder, out);
    decoder.CloseFile();
  }
  out.flush();
  return status;
}

}  // namespace lumivor
