// What a slideshow frame costs the sequencer next to a plain copy of a 24-bit frame, the least any
// frame source has to do: a held frame is one conversion of the fitted photo into the canvas, a
// transition frame adds the composition by its effect (all effects in turn, averaged).
//
// A caption laid over a held frame (at full strength) and over a transition's (faded) is timed
// on its own: it is drawn on every frame of its photo.
//
// The frame is 1280x960; the photo is a sample picture of 1600x1200 stored as a BMP, decoded once
// per run and not counted.
#include <benchmark/benchmark.h>
#include <stdlib.h>
#include <unistd.h>

#include <cstdio>
#include <cstring>
#include <filesystem>
#include <stdexcept>
#include <string>
#include <system_error>
#include <vector>

#include "app/show/caption_art.h"
#include "app/show/frame_sequencer.h"
#include "app/photos/picture_file.h"
#include "app/samples/sample_pictures.h"

namespace {

constexpr int FrameWidth = 1280;
constexpr int FrameHeight = 960;

// One BMP photo in a private temporary folder, removed at exit.
class PhotoFolder {
 public:
  PhotoFolder() {
    std::string pattern = (std::filesystem::temp_directory_path() / "lumivor-bench-XXXXXX").string();
    if (::mkdtemp(pattern.data()) == nullptr) throw std::runtime_error("cannot make a folder like " + pattern);
    folder_ = pattern;
    photo_ = folder_ + "/photo.bmp";
    std::string error;
    const lumivor::Bitmap picture = lumivor::MakeSamplePicture(lumivor::SamplePicture::Landscape, 1600, 1200);
    if (!lumivor::WritePictureFile(photo_, picture, error)) throw std::runtime_error(error);
    list_.push_back(photo_);
  }
  ~PhotoFolder() {
    std::error_code ignored;
    std::filesystem::remove_all(folder_, ignored);
  }
  const std::vector<std::string>& List() const { return list_; }

 private:
  std::string folder_;
  std::string photo_;
  std::vector<std::string> list_;
};

const PhotoFolder& photos() {
  static const PhotoFolder shared;
  return shared;
}

void BM_PlainFrameCopy(benchmark::State& state) {
  lumivor::Bitmap source(FrameWidth, FrameHeight, 24), canvas(FrameWidth, FrameHeight, 24);
  std::memset(source.Bits(), 0x40, source.ImageSize());
  for (auto _ : state) {
    std::memcpy(canvas.Bits(), source.Bits(), source.ImageSize());
    benchmark::DoNotOptimize(canvas.Bits());
    benchmark::ClobberMemory();
  }
  state.SetItemsProcessed(state.iterations());
}
BENCHMARK(BM_PlainFrameCopy);

void BM_HeldFrame(benchmark::State& state) {
  lumivor::FrameSequencer sequencer;
  sequencer.Photos = [] () -> const std::vector<std::string>& { return photos().List(); };
  // A hold far longer than the benchmark: every timed frame is a held one.
  sequencer.ResetRun(FrameWidth, FrameHeight, 1 << 30, 1, false);
  lumivor::Bitmap canvas(FrameWidth, FrameHeight, 24);
  sequencer.ReadFrameCanvas(canvas);  // the opening transition's only frame, which loads the photo
  for (auto _ : state) {
    benchmark::DoNotOptimize(sequencer.ReadFrameCanvas(canvas));
    benchmark::ClobberMemory();
  }
  state.SetItemsProcessed(state.iterations());
}
BENCHMARK(BM_HeldFrame);

// 100 transition frames each compose a new progress value; the run is started again, untimed,
// whenever it ends, and the call that loads the photo is not timed either.
void BM_TransitionFrame(benchmark::State& state) {
  lumivor::FrameSequencer sequencer;
  sequencer.Photos = [] () -> const std::vector<std::string>& { return photos().List(); };
  lumivor::Bitmap canvas(FrameWidth, FrameHeight, 24);
  bool ended = true;
  for (auto _ : state) {
    if (ended || (sequencer.PhotoIndex() < 0 && sequencer.TransitionCounter() == 0)) {
      state.PauseTiming();
      if (ended) sequencer.ResetRun(FrameWidth, FrameHeight, 1, 100, false);
      ended = sequencer.ReadFrameCanvas(canvas) < 0;
      state.ResumeTiming();
      continue;
    }
    ended = sequencer.ReadFrameCanvas(canvas) < 0;
    benchmark::ClobberMemory();
  }
  state.SetItemsProcessed(state.iterations());
}
BENCHMARK(BM_TransitionFrame);

// A moving photo's held frame at 1920x1080: sampled afresh from its scaled copy every frame, then
// converted into the canvas. The copy is made once, with the call that loads the photo.
void BM_MovingHeldFrame1080(benchmark::State& state) {
  lumivor::FrameSequencer sequencer;
  sequencer.Photos = [] () -> const std::vector<std::string>& { return photos().List(); };
  sequencer.Motion = lumivor::MotionKind::Random;
  sequencer.ResetRun(1920, 1080, 1 << 20, 1, false, 1u);
  lumivor::Bitmap canvas(1920, 1080, 24);
  sequencer.ReadFrameCanvas(canvas);
  for (auto _ : state) {
    benchmark::DoNotOptimize(sequencer.ReadFrameCanvas(canvas));
    benchmark::ClobberMemory();
  }
  state.SetItemsProcessed(state.iterations());
}
BENCHMARK(BM_MovingHeldFrame1080);

// A one-line caption of a 1280x960 frame over a canvas; the arguments are the caption's opacity
// (255 in a hold, less in a transition) and the canvas's bits per pixel (24 is what a run hands
// the encoder, 32 what the preview draws).
void BM_CaptionOverFrame(benchmark::State& state) {
  const lumivor::Bitmap caption =
      lumivor::RenderCaption("Photo 12 of the summer, by the lake at Ohrid", FrameWidth, FrameHeight);
  const lumivor::Point at = lumivor::CaptionPosition(caption, FrameWidth, FrameHeight);
  lumivor::Bitmap canvas(FrameWidth, FrameHeight, static_cast<int>(state.range(1)));
  std::memset(canvas.Bits(), 0x80, canvas.ImageSize());
  const int opacity = static_cast<int>(state.range(0));
  for (auto _ : state) {
    lumivor::CompositeCaption(canvas, caption, at.X, at.Y, opacity);
    benchmark::ClobberMemory();
  }
  state.counters["caption_pixels"] = static_cast<double>(caption.Width()) * caption.Height();
  state.SetItemsProcessed(state.iterations());
}
BENCHMARK(BM_CaptionOverFrame)->Args({255, 24})->Args({128, 24})->Args({255, 32})->Args({128, 32});

}  // namespace

BENCHMARK_MAIN();
