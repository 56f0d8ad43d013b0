// What a transition frame costs next to the plain copy every frame needs anyway: each effect is
// timed through the whole caller contract (copy of the old picture included), so the ratio to
// BM_FrameCopy is the price of the effect itself.
//
// The frame is 1280x960 unless LUMIVOR_BENCH_FRAME says otherwise (e.g. 320x240). A frame small
// enough to stay in cache shows what the effects cost where memory is fast: there the copy is
// cheap and any per-pixel work of an effect shows in full.
#include <benchmark/benchmark.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "app/samples/sample_pictures.h"
#include "effects/effect.h"
#include "effects/random.h"

namespace {

struct FrameSize {
  int Width = 1280;
  int Height = 960;
};

FrameSize frame_size() {
  FrameSize size;
  const char* text = std::getenv("LUMIVOR_BENCH_FRAME");
  int width = 0, height = 0;
  char tail = 0;
  if (text != nullptr && std::sscanf(text, "%dx%d%c", &width, &height, &tail) == 2 && width > 0 && height > 0 &&
      width <= 16384 && height <= 16384) {
    size = {width, height};
  } else if (text != nullptr) {
    std::fprintf(stderr, "effects_bench: LUMIVOR_BENCH_FRAME=%s is not WIDTHxHEIGHT; using 1280x960\n", text);
  }
  return size;
}

struct Pictures {
  FrameSize Size = frame_size();
  lumivor::Bitmap Old = lumivor::MakeSamplePicture(lumivor::SamplePicture::Landscape, Size.Width, Size.Height);
  lumivor::Bitmap New = lumivor::MakeSamplePicture(lumivor::SamplePicture::Pattern, Size.Width, Size.Height);
  Pictures() { New.SetSourceSeed(0x2468ACE1u); }
};

const Pictures& pictures() {
  static const Pictures shared;
  return shared;
}

void BM_FrameCopy(benchmark::State& state) {
  const lumivor::Bitmap& source = pictures().Old;
  std::vector<std::uint8_t> frame(source.ImageSize());
  for (auto _ : state) {
    std::memcpy(frame.data(), source.Bits(), source.ImageSize());
    benchmark::DoNotOptimize(frame.data());
    benchmark::ClobberMemory();
  }
  state.SetBytesProcessed(static_cast<std::int64_t>(state.iterations()) * static_cast<std::int64_t>(source.ImageSize()));
  state.SetLabel(std::to_string(source.Width()) + "x" + std::to_string(source.Height()));
}
BENCHMARK(BM_FrameCopy);

void BM_Effect(benchmark::State& state) {
  const int effect = static_cast<int>(state.range(0));
  lumivor::Bitmap frame;
  lumivor::RandomSeed = 0;
  for (auto _ : state) {
    lumivor::ComposeTransitionFrame(frame, pictures().Old, pictures().New, effect, 50);
    benchmark::DoNotOptimize(frame.Bits());
    benchmark::ClobberMemory();
  }
  state.SetLabel(lumivor::EffectList[effect - 1].Name);
}
BENCHMARK(BM_Effect)->DenseRange(1, lumivor::EffectCount);

}  // namespace

BENCHMARK_MAIN();
