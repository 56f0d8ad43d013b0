// What a run's progress reports and its end say to a person: the share done, the frames, the
// speed, the size written, the time left, and at the end what became of the video. Pure
// functions, so that every face (the window, the console) says the same and the wording is
// tested without a run.
#pragma once

#include <cstdint>
#include <optional>
#include <string>

#include "app/run/conversion_job.h"

namespace lumivor {

struct ShowProgress {
  // Frames encoded so far; negative before the engine has counted any.
  std::int64_t FramesDone = -1;
  // Frames the finished video will have; 0 or less when unknown.
  std::int64_t ShowFrames = 0;
  // The engine's average encoding speed; 0 or less before it can tell one.
  int FramesPerSecond = -1;
  // Bytes written to the video so far.
  std::int64_t Bytes = 0;
  // Estimated seconds until the last frame (EstimateSecondsLeft); none while it cannot be told.
  std::optional<double> SecondsLeft;
};

// 0 to 99 while the run goes: the frames done over the show's frames. 100 is kept for a run that
// has written its video, so that a full bar never stands over a file still being closed.
int ProgressPosition(const ShowProgress& progress);

// The seconds the rest of the show takes at the pace measured between two reports of the same
// run (frames and wall-clock seconds between them). None until the pace rests on at least a
// second and a frame: the first reports come while the encoder fills its look-ahead and would
// promise far too much or too little.
std::optional<double> EstimateSecondsLeft(std::int64_t framesDone, std::int64_t showFrames, std::int64_t framesAtStart,
                                          double secondsSinceStart);

// "00:13", "59:59", "1:00:00": whole seconds, rounded up so that a countdown ends at 00:00 only
// when nothing is left. Negative or not finite values read as 0.
std::string ClockText(double seconds);

// "Frame 390 of 782 · 30 fps · 0.6 MB · 00:13 left"; a part the report cannot tell is left out.
std::string ProgressStatusText(const ShowProgress& progress);

// The status line while the audio tracks are joined, before the show's frames begin:
// "Joining the audio tracks · 00:12 of 00:30" (without " of ..." when the length is unknown).
std::string JoiningStatusText(std::int64_t doneMicroseconds, std::int64_t totalMicroseconds);

// The status line once the run has ended: "Written: <video>", "Stopped: <what was kept>" or
// "Failed: <reason>"; none for a Start that only asked for photos.
std::optional<std::string> RunEndStatusText(const JobResult& result);

// The engine's report as it stands, for the log: "Frame number: 390; FPS: 30; Size: 612345; Time:
// 13000000" (bytes and microseconds).
std::string RawProgressLine(const TProgressInfo& info);

}  // namespace lumivor
