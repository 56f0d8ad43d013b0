#include "app/run/progress_text.h"

#include <algorithm>
#include <cinttypes>
#include <cmath>
#include <cstdio>

namespace lumivor {

namespace {

// The middle dot between the parts, in UTF-8 (the window and the terminal both take it).
constexpr const char* Separator = " \xC2\xB7 ";

// An error text may carry the library's line breaks; the status line is one line.
std::string one_line(std::string text) {
  for (char& c : text) {
    if (c == '\n' || c == '\r' || c == '\t') c = ' ';
  }
  return text;
}

}  // namespace

int ProgressPosition(const ShowProgress& progress) {
  if (progress.ShowFrames <= 0 || progress.FramesDone <= 0) return 0;
  const std::int64_t done = std::min(progress.FramesDone, progress.ShowFrames);
  // In 64 bits with the division last: a show of millions of frames must neither overflow nor
  // round every frame to nothing.
  return static_cast<int>(std::min<std::int64_t>(99, done * 100 / progress.ShowFrames));
}

std::optional<double> EstimateSecondsLeft(std::int64_t framesDone, std::int64_t showFrames, std::int64_t framesAtStart,
                                          double secondsSinceStart) {
  constexpr double ShortestMeasure = 1.0;
  if (showFrames <= 0 || !std::isfinite(secondsSinceStart) || secondsSinceStart < ShortestMeasure) return std::nullopt;
  const std::int64_t measured = framesDone - std::max<std::int64_t>(framesAtStart, 0);
  if (measured <= 0) return std::nullopt;
  const std::int64_t left = std::max<std::int64_t>(0, showFrames - framesDone);
  return static_cast<double>(left) * secondsSinceStart / static_cast<double>(measured);
}

std::string ClockText(double seconds) {
  std::int64_t whole = 0;
  // Beyond a century the clock says nothing useful; the cap keeps the conversion defined.
  if (std::isfinite(seconds) && seconds > 0) whole = static_cast<std::int64_t>(std::ceil(std::min(seconds, 3.2e9)));
  const std::int64_t hours = whole / 3600;
  const int minutes = static_cast<int>(whole / 60 % 60);
  const int secs = static_cast<int>(whole % 60);
  char text[48];
  if (hours > 0) {
    std::snprintf(text, sizeof text, "%" PRId64 ":%02d:%02d", hours, minutes, secs);
  } else {
    std::snprintf(text, sizeof text, "%02d:%02d", minutes, secs);
  }
  return text;
}

std::string ProgressStatusText(const ShowProgress& progress) {
  std::int64_t done = std::max<std::int64_t>(progress.FramesDone, 0);
  std::string text = "Frame ";
  if (progress.ShowFrames > 0) {
    done = std::min(done, progress.ShowFrames);
    text += std::to_string(done) + " of " + std::to_string(progress.ShowFrames);
  } else {
    text += std::to_string(done);
  }
  if (progress.FramesPerSecond > 0) text += Separator + std::to_string(progress.FramesPerSecond) + " fps";
  char size[48];
  std::snprintf(size, sizeof size, "%.1f MB", static_cast<double>(std::max<std::int64_t>(progress.Bytes, 0)) / 1e6);
  text += Separator;
  text += size;
  if (progress.SecondsLeft) text += Separator + ClockText(*progress.SecondsLeft) + " left";
  return text;
}

std::string JoiningStatusText(std::int64_t doneMicroseconds, std::int64_t totalMicroseconds) {
  std::string text = std::string("Joining the audio tracks") + Separator +
                     ClockText(static_cast<double>(std::max<std::int64_t>(doneMicroseconds, 0) / 1000000));
  if (totalMicroseconds > 0) text += " of " + ClockText(static_cast<double>(totalMicroseconds) / 1e6);
  return text;
}

std::optional<std::string> RunEndStatusText(const JobResult& result) {
  switch (result.End) {
    case JobEnd::AddedPhotos:
      return std::nullopt;
    case JobEnd::Finished:
      return "Written: " + result.OutputFile;
    case JobEnd::Stopped:
      return result.OutputFile.empty() ? std::string("Stopped: no video was written")
                                       : "Stopped: " + result.OutputFile + " holds the show up to the stop";
    case JobEnd::Failed:
      return "Failed: " + one_line(result.ErrorText.empty() ? std::string("the run failed") : result.ErrorText);
  }
  return std::nullopt;
}

std::string RawProgressLine(const TProgressInfo& info) {
  char text[160];
  std::snprintf(text, sizeof text, "Frame number: %d; FPS: %d; Size: %" PRId64 "; Time: %" PRId64, info.FrameNumber,
                info.FPS, info.CurrentSize, info.CurrentDuration);
  return text;
}

}  // namespace lumivor
