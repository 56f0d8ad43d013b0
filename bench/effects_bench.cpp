// What a transition frame costs next to the plain copy every frame needs anyway: each effect is
// timed through the whole caller contract (copy of the old picture included), so the ratio to
// BM_FrameCopy is the price of the effect itself.
#include <benchmark/benchmark.h>

#include <cstring>
#include <vector>

#include "app/sample_pictures.h"
#include "effects/effect.h"
#include "effects/random.h"

namespace {

constexpr int FrameWidth = 1280;
constexpr int FrameHeight = 960;

struct Pictures {
  lumivor::Bitmap Old = lumivor::MakeSamplePicture(lumivor::SamplePicture::Landscape, FrameWidth, FrameHeight);
  lumivor::Bitmap New = lumivor::MakeSamplePicture(lumivor::SamplePicture::Pattern, FrameWidth, FrameHeight);
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
