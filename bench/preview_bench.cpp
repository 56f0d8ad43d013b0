// Studio's live preview under load: a 1280x720 show at 30 frames a second with zooming photos and
// drawn transitions, played on the steady clock (no sound device, as on a build machine). It
// prints the frames dropped per 100 while playing and the time from Play to the first frame, from
// a fresh position each time (nothing drawn there yet), which is what a person waits for after a
// scrub. Goals: at most 1 dropped per 100, the first frame within 0.5 s.
//
//   preview_bench [seconds of play, default 12]
#include <stdlib.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <filesystem>
#include <stdexcept>
#include <string>
#include <system_error>
#include <thread>
#include <vector>

#include "app/photos/picture_file.h"
#include "app/run/live_show.h"
#include "app/samples/sample_pictures.h"

namespace {

using namespace std::chrono_literals;
using Clock = std::chrono::steady_clock;

class PhotoFolder {
 public:
  PhotoFolder() {
    std::string pattern = (std::filesystem::temp_directory_path() / "lumivor-bench-XXXXXX").string();
    if (::mkdtemp(pattern.data()) == nullptr) throw std::runtime_error("cannot make a folder like " + pattern);
    folder_ = pattern;
  }
  ~PhotoFolder() {
    std::error_code ignored;
    std::filesystem::remove_all(folder_, ignored);
  }
  std::string Write(const std::string& name, lumivor::SamplePicture kind, int width, int height) {
    const std::string path = folder_ + "/" + name;
    std::string error;
    if (!lumivor::WritePictureFile(path, lumivor::MakeSamplePicture(kind, width, height), error)) {
      throw std::runtime_error(error);
    }
    return path;
  }

 private:
  std::string folder_;
};

}  // namespace

int main(int argc, char** argv) {
  const double playSeconds = argc > 1 ? std::max(1.0, std::atof(argv[1])) : 12.0;
  PhotoFolder folder;
  lumivor::RunRequest request;
  for (int i = 0; i < 8; ++i) {
    const bool pattern = i % 2 == 1;
    request.Photos.push_back(folder.Write("photo" + std::to_string(i) + (pattern ? ".png" : ".bmp"),
                                          pattern ? lumivor::SamplePicture::Pattern : lumivor::SamplePicture::Landscape,
                                          pattern ? 1200 : 1600, pattern ? 1600 : 1200));
  }
  request.Width = 1280;
  request.Height = 720;
  request.RateNumerator = 30;
  request.HoldSeconds = 2;
  request.TransitionSeconds = 1;
  request.Motion = lumivor::MotionKind::Zoom;
  request.RandomEffects = true;
  request.Seed = 2024;

  lumivor::LiveShow show;
  show.SoundOutput = false;
  std::string error;
  if (!show.Open(request, 0, error)) {
    std::fprintf(stderr, "cannot open the show: %s\n", error.c_str());
    return 1;
  }

  // Play from the start: the display asks for its frame every 2 ms, as Studio's pane does every 5.
  std::vector<double> firstFrames;
  std::int64_t shown = 0;
  std::int64_t dropped = 0;
  auto play = [&](std::int64_t from, double seconds) {
    show.SeekFrame(from);
    const std::int64_t shownBefore = show.FramesShown();
    const std::int64_t droppedBefore = show.FramesDropped();
    show.Play();
    const auto start = Clock::now();
    while (Clock::now() - start < std::chrono::duration<double>(seconds) && show.Playing()) {
      show.CurrentFrame();
      if (!show.RenderError().empty()) throw std::runtime_error(show.RenderError());
      std::this_thread::sleep_for(2ms);
    }
    show.Pause();
    firstFrames.push_back(show.SecondsToFirstFrame());
    shown += show.FramesShown() - shownBefore;
    dropped += show.FramesDropped() - droppedBefore;
  };
  try {
    play(0, playSeconds);
    // Scrubs into the middle of transitions and holds, then a short play from each.
    for (const std::int64_t at : {400, 95, 250, 20, 330}) play(at, 1.5);
  } catch (const std::exception& failure) {
    std::fprintf(stderr, "the show stopped: %s\n", failure.what());
    return 1;
  }
  std::sort(firstFrames.begin(), firstFrames.end());
  const double perHundred = shown + dropped > 0 ? 100.0 * static_cast<double>(dropped) / static_cast<double>(shown + dropped) : 0;
  std::printf("preview 1280x720 at 30 fps, zoom and drawn transitions, %lld frames\n",
              static_cast<long long>(show.FrameCount()));
  std::printf("frames shown %lld, dropped %lld: %.2f dropped per 100\n", static_cast<long long>(shown),
              static_cast<long long>(dropped), perHundred);
  std::printf("first frame after Play: median %.3f s, worst %.3f s (%zu plays)\n", firstFrames[firstFrames.size() / 2],
              firstFrames.back(), firstFrames.size());
  return 0;
}
