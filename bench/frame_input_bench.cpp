// What the frame input costs per 1280x960 picture next to the plain copy of one: the handler
// only hands over a picture prepared beforehand (one copy onto the canvas, as the slideshow
// does), and the adapter turns it into a packet (its one copy, rows reordered top first).
//
//   BM_FrameCopy          one memcpy of the picture: the floor any hand-over pays
//   BM_ReadPacket         the adapter alone: handler copy + packet + row copy
//   BM_TaskToNullMuxer    whole tasks through the engine, decoded as rawvideo and written to the
//                         null muxer; frames per second is the figure to compare
//
// Build without sanitizers for meaningful figures, e.g.
//   cmake -S . -B build-bench -DCMAKE_BUILD_TYPE=Release -DLUMIVOR_BUILD_BENCH=ON -DLUMIVOR_BUILD_TESTS=OFF
//   cmake --build build-bench --target frame_input_bench && build-bench/bench/frame_input_bench
#include <benchmark/benchmark.h>

#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

#include "raster/raster.h"
#include "media/components/frame_input.h"
#include "media/engine/ffmpeg.h"
#include "media/runtime/ff_load.h"
#include "media/runtime/ff_log.h"
#include "media/runtime/library_objects.h"

namespace {

using namespace lumivor;

constexpr int kWidth = 1280;
constexpr int kHeight = 960;
constexpr int kFramesPerTask = 100;

const std::string& InputOptions() {
  static const std::string options = "-f frameinput -input_type canvas -pix_fmt bgr24 -r 25 -s 1280x960";
  return options;
}

const Bitmap& PreparedPicture() {
  static const Bitmap picture = [] {
    Bitmap made(kWidth, kHeight, 24);
    for (int y = 0; y < kHeight; ++y) {
      std::uint8_t* row = made.ScanLine(y);
      for (int i = 0; i < made.Stride(); ++i) row[i] = static_cast<std::uint8_t>(i ^ y);
    }
    return made;
  }();
  return picture;
}

bool Ready(benchmark::State& state) {
  static const bool loaded = [] {
    if (!TFFLoader::Instance().Load(EncoderLibraries)) return false;
    RegisterFrameInput();
    DefaultLogger().SetTriggerEventInMainThread(false);
    DefaultLogger().InstallLogCallback();
    DefaultLogger().SetLogLevel(llError);
    return true;
  }();
  if (!loaded) state.SkipWithError("the media libraries could not be loaded");
  return loaded;
}

// The handler of every benchmark here: the prepared picture onto the canvas, limit frames long.
void HandOverPrepared(TFrameInputAdapter& adapter, int limit) {
  adapter.TriggerEventInMainThread = false;
  adapter.OnReadFrameCanvas = [limit](TFrameInputAdapter&, Bitmap& canvas, PInputFrameInfo info) {
    if (limit > 0 && info->FrameNumber > limit) return -1;
    std::memcpy(canvas.Bits(), PreparedPicture().Bits(), PreparedPicture().ImageSize());
    return 0;
  };
}

void BM_FrameCopy(benchmark::State& state) {
  const Bitmap& source = PreparedPicture();
  std::vector<std::uint8_t> frame(source.ImageSize());
  for (auto _ : state) {
    std::memcpy(frame.data(), source.Bits(), source.ImageSize());
    benchmark::DoNotOptimize(frame.data());
    benchmark::ClobberMemory();
  }
  state.SetItemsProcessed(state.iterations());
  state.SetBytesProcessed(state.iterations() * static_cast<std::int64_t>(source.ImageSize()));
}
BENCHMARK(BM_FrameCopy);

void BM_ReadPacket(benchmark::State& state) {
  if (!Ready(state)) return;
  TFrameInputAdapter adapter;
  HandOverPrepared(adapter, 0);
  TCustomFFmpeg engine;
  {
    OptionsContextScope scope(engine);
    if (engine.OpenInputFile(scope.Context(), InputOptions(), adapter.InputName(), "") < 0) {
      state.SkipWithError(engine.LastErrMsg.c_str());
      return;
    }
  }
  TInputFile& file = *engine.InputFiles[0];
  PacketPtr packet(lib::av_packet_alloc());
  for (auto _ : state) {
    if (file.InProcessFormat->ReadPacket(file.Context.get(), packet.get()) < 0) {
      state.SkipWithError("read packet failed");
      break;
    }
    benchmark::DoNotOptimize(packet->data);
    lib::av_packet_unref(packet.get());
  }
  state.SetItemsProcessed(state.iterations());
}
BENCHMARK(BM_ReadPacket);

void BM_TaskToNullMuxer(benchmark::State& state) {
  if (!Ready(state)) return;
  TFrameInputAdapter adapter;
  HandOverPrepared(adapter, kFramesPerTask);
  for (auto _ : state) {
    TCustomFFmpeg engine;
    {
      OptionsContextScope scope(engine);
      if (engine.OpenInputFile(scope.Context(), InputOptions(), adapter.InputName(), "") < 0) {
        state.SkipWithError(engine.LastErrMsg.c_str());
        break;
      }
    }
    {
      OptionsContextScope scope(engine);
      if (engine.OpenOutputFile(scope.Context(), "-f null -c:v rawvideo", false, "null", "") < 0) {
        state.SkipWithError(engine.LastErrMsg.c_str());
        break;
      }
    }
    engine.Start(false);  // in this thread: the events are raised directly
    if (engine.Exception) {
      state.SkipWithError(engine.ExceptionMsg.c_str());
      break;
    }
  }
  state.SetItemsProcessed(state.iterations() * kFramesPerTask);
}
BENCHMARK(BM_TaskToNullMuxer)->Unit(benchmark::kMillisecond);

}  // namespace

BENCHMARK_MAIN();
