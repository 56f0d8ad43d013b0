// Beat detection over a 5-minute song: the joined sound decoded to one channel and tracked, the
// goal under 3 s. The song is made once with Debian's ffmpeg program (a 120 bpm kick under a
// chord, as MP3 at 128 kb/s like the joined sound), so the decoding cost is that of a real file.
#include <benchmark/benchmark.h>

#include <cstdlib>
#include <filesystem>
#include <string>

#include "app/run/beat_track.h"
#include "media/components/ff_decoder.h"
#include "media/runtime/ff_load.h"

namespace {

std::string song_file() {
  static const std::string path = [] {
    const std::string file = (std::filesystem::temp_directory_path() / "lumivor_beat_bench.mp3").string();
    const std::string command =
        "ffmpeg -v error -y -f lavfi -i \"aevalsrc='0.6*sin(2*PI*60*t)*exp(-mod(t,0.5)*30)"
        "+0.1*sin(2*PI*440*t)+0.08*sin(2*PI*554*t)':s=44100:d=300\" -ac 2 -b:a 128k \"" + file + "\"";
    return std::system(command.c_str()) == 0 ? file : std::string();
  }();
  return path;
}

void BM_DetectBeatsFiveMinutes(benchmark::State& state) {
  lumivor::TFFDecoder loader;
  if (!loader.LibrariesLoaded() && !loader.LoadLibraries(lumivor::TFFLoader::DefaultLibraryPath())) {
    state.SkipWithError("the media libraries cannot be loaded");
    return;
  }
  const std::string song = song_file();
  if (song.empty()) {
    state.SkipWithError("ffmpeg could not make the song");
    return;
  }
  for (auto _ : state) {
    lumivor::BeatTrack track;
    std::string error;
    if (!lumivor::DetectBeats(song, track, error)) state.SkipWithError(error.c_str());
    benchmark::DoNotOptimize(track.BeatSeconds.data());
    state.counters["bpm"] = track.Bpm;
  }
}
BENCHMARK(BM_DetectBeatsFiveMinutes)->Unit(benchmark::kMillisecond)->Iterations(3);

}  // namespace

BENCHMARK_MAIN();
