// The player under SDL's headless drivers: "dummy" video, and the "disk" audio driver, which writes
// what the sound callback produced to a file, so that the test can read what would have been heard.
#include <gtest/gtest.h>

#include <cmath>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <algorithm>
#include <fstream>
#include <functional>
#include <iterator>
#include <numbers>
#include <string>
#include <vector>

#include "media/components/ff_player.h"
#include "media/runtime/ff_load.h"
#include "media/runtime/ff_log.h"
#include "media/runtime/main_thread.h"
#include "media/runtime/sdl_load.h"
#include "media_maker.h"

namespace lumivor {
namespace {

using testing::MediaSpec;

bool WaitFor(const std::function<bool()>& condition, int milliseconds = 10000) {
  return WaitServing(condition, std::chrono::milliseconds(milliseconds));
}

std::vector<std::int16_t> ReadSamples(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  const std::vector<char> bytes(std::istreambuf_iterator<char>(in), {});
  std::vector<std::int16_t> samples(bytes.size() / 2);
  std::memcpy(samples.data(), bytes.data(), samples.size() * 2);
  return samples;
}

// What the player reported, in order; filled on the main thread.
struct Reports {
  std::vector<TPlayState> States;
  std::vector<std::int64_t> Positions;
  int Count(TPlayState state) const { return static_cast<int>(std::count(States.begin(), States.end(), state)); }
  bool Has(TPlayState state) const { return Count(state) > 0; }
};

// A player whose screen window reports a fixed client size, as a panel of the window would.
class PanelPlayer : public TFFPlayer {
 public:
  int PanelWidth = 0;
  int PanelHeight = 0;

 protected:
  bool ScreenClientSize(std::uintptr_t, int& width, int& height) override {
    width = PanelWidth;
    height = PanelHeight;
    return true;
  }
};

class Player : public ::testing::Test {
 protected:
  static void SetUpTestSuite() {
    folder_ = new testing::TempFolder();
    ::setenv("SDL_VIDEODRIVER", "dummy", 1);
    ::setenv("SDL_AUDIODRIVER", "disk", 1);
    std::string error;
    MediaSpec tone;
    tone.Format = "wav";
    tone.Seconds = 0.6;
    ok_ = testing::WriteMediaFile(Tone(), tone, error);
    MediaSpec mp3;
    mp3.Format = "mp3";
    mp3.Audio.Codec = "libmp3lame";
    mp3.Seconds = 0.6;
    ok_ = ok_ && testing::WriteMediaFile(Mp3(), mp3, error);
    MediaSpec clip;
    clip.Format = "matroska";
    clip.Seconds = 0.6;
    clip.HasVideo = true;
    clip.Video.Width = 160;
    clip.Video.Height = 120;
    clip.Video.FrameRate = 10;
    ok_ = ok_ && testing::WriteMediaFile(Clip(), clip, error);
    error_ = error;
  }
  static void TearDownTestSuite() {
    delete folder_;
    folder_ = nullptr;
  }
  void SetUp() override {
    ASSERT_TRUE(ok_) << error_;
    ::setenv("SDL_DISKAUDIOFILE", Output().c_str(), 1);
  }

  static std::string Tone() { return folder_->Path("tone.wav"); }
  static std::string Mp3() { return folder_->Path("tone.mp3"); }
  static std::string Clip() { return folder_->Path("clip.mkv"); }
  static std::string Output() { return folder_->Path("heard.raw"); }

  static void Load(TCustomPlayer& player) {
    ASSERT_TRUE(player.LoadLibraries(TFFLoader::Instance().LibraryPath(), true)) << player.LastErrorText;
  }
  static void Record(TCustomPlayer& player, Reports& reports) {
    player.OnState = [&reports](TCustomPlayer*, TPlayState state) { reports.States.push_back(state); };
    player.OnPosition = [&reports](TCustomPlayer*, std::int64_t position) { reports.Positions.push_back(position); };
  }

  static testing::TempFolder* folder_;
  static bool ok_;
  static std::string error_;
};
testing::TempFolder* Player::folder_ = nullptr;
bool Player::ok_ = false;
std::string Player::error_;

// The tone of the generated file: 440 Hz at half scale, the same on both channels.
std::int16_t ToneSample(int index) {
  return static_cast<std::int16_t>(0.5 * std::sin(2 * std::numbers::pi * 440.0 * index / 44100) * 32767);
}

TEST_F(Player, ToneReachesTheOutputUnchangedAtFullVolumeAndSilenceOtherwise) {
  struct Case {
    const char* Name;
    int Volume;
    bool Mute;
    bool Audible;
  };
  const Case cases[] = {{"volume 128", 128, false, true}, {"muted", 128, true, false}, {"volume 0", 0, false, false}};
  for (const Case& c : cases) {
    SCOPED_TRACE(c.Name);
    std::remove(Output().c_str());
    TFFPlayer player;
    Load(player);
    Reports reports;
    Record(player, reports);
    player.AudioVolume = c.Volume;
    player.Mute = c.Mute;
    ASSERT_TRUE(player.Open(Tone())) << player.LastErrorText;
    ASSERT_TRUE(WaitFor([&] { return reports.Has(psEnd); })) << "the file did not play to its end";
    player.Stop(true);

    // Decoding and the clock go on whatever is heard.
    ASSERT_GE(reports.Positions.size(), 5u);
    EXPECT_TRUE(std::is_sorted(reports.Positions.begin(), reports.Positions.end()));
    EXPECT_GE(reports.Positions.back(), 400000);

    const std::vector<std::int16_t> heard = ReadSamples(Output());
    const int frames = static_cast<int>(0.6 * 44100);
    ASSERT_GE(heard.size(), static_cast<std::size_t>(frames) * 2);
    if (!c.Audible) {
      EXPECT_TRUE(std::all_of(heard.begin(), heard.end(), [](std::int16_t s) { return s == 0; }));
      continue;
    }
    // Silence may come first while the device starts; the tone starts at its first non-zero sample.
    const auto first = std::find_if(heard.begin(), heard.end(), [](std::int16_t s) { return s != 0; });
    ASSERT_NE(first, heard.end());
    const std::size_t start = static_cast<std::size_t>(first - heard.begin());
    ASSERT_EQ(start % 2, 0u);
    ASSERT_GE(heard.size() - start, static_cast<std::size_t>(frames - 1) * 2);
    int mismatches = 0;
    for (int i = 1; i < frames; ++i) {
      for (int channel = 0; channel < 2; ++channel) {
        if (heard[start + (i - 1) * 2 + channel] != ToneSample(i) && mismatches++ < 3) {
          ADD_FAILURE() << "sample " << i << " channel " << channel << ": " << heard[start + (i - 1) * 2 + channel]
                        << " instead of " << ToneSample(i);
        }
      }
    }
    EXPECT_EQ(mismatches, 0);
  }
}

}  // namespace
}  // namespace lumivor
