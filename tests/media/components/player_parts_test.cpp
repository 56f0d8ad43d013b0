// The player's parts that work without playing anything: the event queue, the position filter,
// the clocks' rules, the sound device's channel fallbacks and volume, and the SDL loader.
#include <gtest/gtest.h>

#include <cmath>
#include <cstdint>
#include <cstdlib>
#include <limits>
#include <string>
#include <vector>

#include "media/components/player_audio.h"
#include "media/components/player_clock.h"
#include "media/components/player_events.h"
#include "media/runtime/ff_load.h"
#include "media/runtime/sdl_load.h"

namespace lumivor {
namespace {

TEST(PlayerEventQueue, KeepsOnlyTheNewestOfABurstAndDropsTheOldestWhenFull) {
  struct Post {
    int Kind;
    std::int64_t Value;
  };
  struct Case {
    const char* Name;
    std::vector<Post> Posts;
    std::vector<Post> Taken;
  };
  std::vector<Post> alternating;
  std::vector<Post> lastTen;
  for (int i = 0; i < 12; ++i) alternating.push_back({i % 2 == 0 ? pePosition : peState, i});
  for (int i = 2; i < 12; ++i) lastTen.push_back({i % 2 == 0 ? pePosition : peState, i});
  const Case cases[] = {
      {"a burst of positions", {{pePosition, 1}, {pePosition, 2}, {pePosition, 3}}, {{pePosition, 3}}},
      {"kinds interleaved",
       {{pePosition, 1}, {peState, psPause}, {pePosition, 2}, {pePosition, 3}, {peState, psResume}},
       {{pePosition, 1}, {peState, psPause}, {pePosition, 3}, {peState, psResume}}},
      {"states of a burst", {{peState, psPlay}, {peState, psEnd}}, {{peState, psEnd}}},
      {"more than ten", alternating, lastTen},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.Name);
    EventQueue queue;
    for (const Post& post : c.Posts) queue.Post(post.Kind, post.Value);
    ASSERT_EQ(queue.Count(), static_cast<int>(c.Taken.size()));
    for (const Post& expected : c.Taken) {
      PlayerEvent event;
      ASSERT_TRUE(queue.Take(event));
      EXPECT_EQ(event.Kind, expected.Kind);
      EXPECT_EQ(event.Value, expected.Value);
    }
    PlayerEvent none;
    EXPECT_FALSE(queue.Take(none));
    EXPECT_FALSE(queue.WaitNotEmpty(std::chrono::milliseconds(1)));
  }
}

TEST(PlayerEventQueue, ANotificationAfterTheNewestWasTakenGetsASlotOfItsOwn) {
  EventQueue queue;
  queue.Post(pePosition, 1);
  PlayerEvent event;
  ASSERT_TRUE(queue.Take(event));
  queue.Post(pePosition, 2);
  ASSERT_TRUE(queue.WaitNotEmpty(std::chrono::milliseconds(1)));
  ASSERT_TRUE(queue.Take(event));
  EXPECT_EQ(event.Value, 2);
}

TEST(PlayerPositionFilter, PostsOnlyMovesOfMoreThanTwentyMilliseconds) {
  struct Step {
    std::int64_t Position;
    bool Posted;
  };
  const Step steps[] = {{0, true},      {20000, false}, {20001, true},  {30000, false},
                        {40001, false}, {40002, true},  {19000, true},  {19000, false}};
  PositionFilter filter;
  for (const Step& step : steps) {
    SCOPED_TRACE(step.Position);
    EXPECT_EQ(filter.Accept(step.Position), step.Posted);
  }
  filter.Reset();
  EXPECT_TRUE(filter.Accept(19000));
}

TEST(PlayerClock, PicturesAreHeldOrHurriedAgainstTheMasterClock) {
  const double nan = std::numeric_limits<double>::quiet_NaN();
  struct Case {
    double Delay, Video, Master, Expected;
  };
  const Case cases[] = {
      {0.04, 10.0, 10.0, 0.04},   // in step
      {0.04, 10.0, 10.05, 0.0},   // late by more than the delay: at once
      {0.04, 10.05, 10.0, 0.08},  // early: twice the delay
      {0.04, 10.02, 10.0, 0.04},  // within the threshold
      {0.005, 10.0, 10.011, 0.0}, // the threshold is never below 10 ms
      {0.005, 10.0, 10.009, 0.005},
      {0.04, 30.0, 10.0, 0.04},   // ten seconds apart: not compared
      {0.04, nan, 10.0, 0.04},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(testing::Message() << c.Delay << " " << c.Video << " " << c.Master);
    EXPECT_NEAR(TargetDelay(c.Delay, c.Video, c.Master), c.Expected, 1e-12);
  }
}

TEST(PlayerClock, ExternalClockSpeedFollowsTheQueues) {
  struct Case {
    double Speed;
    int Video, Audio;
    double Expected;
  };
  const Case cases[] = {
      {1.0, 2, 20, 0.999},   {0.9, 0, 0, 0.9},      {1.0, 11, 11, 1.001}, {1.01, 11, -1, 1.01},
      {1.0, -1, 11, 1.001},  {0.95, 5, 5, 0.951},   {1.005, 11, 5, 1.004}, {1.0, 5, 5, 1.0},
      {0.9995, 5, 5, 1.0},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(testing::Message() << c.Speed << " " << c.Video << " " << c.Audio);
    EXPECT_NEAR(ExternalClockSpeed(c.Speed, c.Video, c.Audio), c.Expected, 1e-9);
  }
}

TEST(PlayerClock, StandsStillWhilePausedAndFollowsOnlyFarAwayClocks) {
  std::atomic<bool> paused{false};
  PlaybackClock clock(&paused);
  EXPECT_TRUE(std::isnan(clock.Get()));
  clock.Set(5.0, 100.0);
  EXPECT_DOUBLE_EQ(clock.GetAt(101.5), 6.5);
  paused = true;
  EXPECT_DOUBLE_EQ(clock.GetAt(200.0), 5.0);
  paused = false;

  PlaybackClock other(&paused);
  const double now = PlayerTime();
  other.Set(50.0, now);
  PlaybackClock follower(&paused);
  follower.Follow(other);  // no value yet: takes the other's
  EXPECT_NEAR(follower.Get(), other.Get(), 0.01);
  follower.Set(45.0);
  follower.Follow(other);  // five seconds apart: kept
  EXPECT_LT(follower.Get(), other.Get() - 4.0);
  follower.Set(39.0);
  follower.Follow(other);  // more than ten apart: taken
  EXPECT_NEAR(follower.Get(), other.Get(), 0.01);
}

// A sound device that takes no more than a given number of channels.
// A sound device that takes up to MaxChannels channels. Like SDL it keeps one error text, which a
// refusal sets (when Refusal is not empty) and which anything else may have left behind.
struct FakeDevice {
  static inline std::vector<int> Tried;
  static inline std::vector<SDL_AudioDeviceID> Closed;
  static inline int MaxChannels = 0;
  static inline SDL_AudioFormat GrantedFormat = AUDIO_S16SYS;
  static inline std::string Refusal = "refused";
  static inline std::string LastError;
  static SDL_AudioDeviceID Open(const char*, int, const SDL_AudioSpec* wanted, SDL_AudioSpec* granted, int) {
    Tried.push_back(wanted->channels);
    if (wanted->channels > MaxChannels) {
      if (!Refusal.empty()) LastError = Refusal;
      return 0;
    }
    *granted = *wanted;
    granted->format = GrantedFormat;
    granted->size = 4096;
    return 7;
  }
  static void Close(SDL_AudioDeviceID device) { Closed.push_back(device); }
  static const char* Error() { return LastError.c_str(); }
  static void ClearError() { LastError.clear(); }
  static SDLFunctions Functions() {
    SDLFunctions sdl;
    sdl.SDL_OpenAudioDevice = Open;
    sdl.SDL_CloseAudioDevice = Close;
    sdl.SDL_GetError = Error;
    sdl.SDL_ClearError = ClearError;
    return sdl;
  }
};

class PlayerAudio : public ::testing::Test {
 protected:
  void SetUp() override {
    TFFLoader& loader = TFFLoader::Instance();
    ASSERT_TRUE(loader.AllLoaded(PlayerLibraries) || loader.Load(PlayerLibraries)) << loader.LastError();
    ::unsetenv("SDL_AUDIO_CHANNELS");
    FakeDevice::Tried.clear();
    FakeDevice::Closed.clear();
    FakeDevice::GrantedFormat = AUDIO_S16SYS;
    FakeDevice::Refusal = "refused";
    FakeDevice::LastError.clear();
  }
  void TearDown() override { ::unsetenv("SDL_AUDIO_CHANNELS"); }
};

TEST_F(PlayerAudio, ARefusedChannelCountStepsDownThroughTheFallbacks) {
  struct Case {
    int Channels, MaxChannels;
    std::vector<int> Tried;
    bool Opened;
  };
  const Case cases[] = {
      {6, 0, {6, 4, 2, 1}, false}, {8, 0, {8, 6, 4, 2, 1}, false}, {5, 2, {5, 6, 4, 2}, true},
      {3, 1, {3, 6, 4, 2, 1}, true}, {2, 2, {2}, true},            {7, 4, {7, 6, 4}, true},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(testing::Message() << c.Channels << " channels, device takes " << c.MaxChannels);
    FakeDevice::Tried.clear();
    FakeDevice::MaxChannels = c.MaxChannels;
    AVChannelLayout layout{};
    lib::av_channel_layout_default(&layout, c.Channels);
    FakeDevice::Closed.clear();
    {
      AudioOutput output;
      std::string error;
      std::string cause;
      const bool opened =
          OpenAudioOutput(FakeDevice::Functions(), 44100, layout, nullptr, nullptr, output, error, cause);
      EXPECT_EQ(FakeDevice::Tried, c.Tried);
      EXPECT_EQ(opened, c.Opened);
      if (opened) {
        EXPECT_EQ(output.Channels, c.Tried.back());
        EXPECT_EQ(output.Layout.nb_channels, c.Tried.back());
        EXPECT_EQ(output.DeviceId(), 7u);
        EXPECT_EQ(output.BufferSize, 4096);
      } else {
        EXPECT_EQ(error, "No more channel combinations to try, audio open failed");
        EXPECT_EQ(cause, "refused");
      }
      EXPECT_EQ(FakeDevice::Closed, std::vector<SDL_AudioDeviceID>{}) << "closed while still wanted";
    }
    // The output owns what it opened: the device closes with it, once.
    EXPECT_EQ(FakeDevice::Closed, c.Opened ? std::vector<SDL_AudioDeviceID>{7} : std::vector<SDL_AudioDeviceID>{});
    lib::av_channel_layout_uninit(&layout);
  }
}

TEST_F(PlayerAudio, ARefusalGivesSDLsReasonNotAnOldErrorText) {
  struct Case {
    std::string Refusal;  // what SDL says when it refuses; empty: nothing
    std::string Cause;
  };
  const Case cases[] = {
      {"ALSA: Couldn't open audio device: No such file or directory",
       "ALSA: Couldn't open audio device: No such file or directory"},
      {"", "the sound device refused to open"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.Cause);
    FakeDevice::MaxChannels = 0;
    FakeDevice::Refusal = c.Refusal;
    FakeDevice::LastError = "Failed loading udev_device_get_action";  // left over from SDL_Init
    AVChannelLayout stereo{};
    lib::av_channel_layout_default(&stereo, 2);
    AudioOutput output;
    std::string error;
    std::string cause;
    EXPECT_FALSE(OpenAudioOutput(FakeDevice::Functions(), 44100, stereo, nullptr, nullptr, output, error, cause));
    EXPECT_EQ(cause, c.Cause);
    lib::av_channel_layout_uninit(&stereo);
  }
}

TEST_F(PlayerAudio, ChannelOverrideInvalidParametersAndUnsupportedFormats) {
  AVChannelLayout stereo{};
  lib::av_channel_layout_default(&stereo, 2);
  std::string error;
  std::string cause;
  FakeDevice::MaxChannels = 8;

  ::setenv("SDL_AUDIO_CHANNELS", "1", 1);
  {
    AudioOutput output;
    ASSERT_TRUE(OpenAudioOutput(FakeDevice::Functions(), 22050, stereo, nullptr, nullptr, output, error, cause))
        << error;
    EXPECT_EQ(FakeDevice::Tried, std::vector<int>{1});
    EXPECT_EQ(output.SampleRate, 22050);
  }
  ::unsetenv("SDL_AUDIO_CHANNELS");

  AudioOutput output;
  EXPECT_FALSE(OpenAudioOutput(FakeDevice::Functions(), 0, stereo, nullptr, nullptr, output, error, cause));
  EXPECT_EQ(error, "Invalid sample rate or channel count!");
  EXPECT_EQ(cause, error);

  FakeDevice::Closed.clear();
  FakeDevice::GrantedFormat = AUDIO_F32SYS;
  EXPECT_FALSE(OpenAudioOutput(FakeDevice::Functions(), 44100, stereo, nullptr, nullptr, output, error, cause));
  EXPECT_EQ(error, "SDL advised audio format " + std::to_string(AUDIO_F32SYS) + " is not supported!");
  EXPECT_EQ(cause, error);
  EXPECT_EQ(FakeDevice::Closed, std::vector<SDL_AudioDeviceID>{7}) << "a device opened in a format not taken stays open";
  EXPECT_FALSE(output.Device);
  lib::av_channel_layout_uninit(&stereo);
}

TEST(SDLLoader, APathHeldByAnotherLoaderIsRefusedUntilItIsUnloaded) {
  const std::string folder = TFFLoader::Instance().LibraryPath();
  TSDLLoader first;
  ASSERT_TRUE(first.Load(folder)) << first.LastError();
  EXPECT_TRUE(first.Loaded());
  EXPECT_EQ(first.VersionMajor(), 2);
  EXPECT_TRUE(first.Load(folder)) << "the same loader and path is a no-op";

  TSDLLoader second;
  EXPECT_FALSE(second.Load(folder));
  EXPECT_FALSE(second.Loaded());
  EXPECT_EQ(second.LastError(), first.Path() + " alreay loaded in another instance.");
  EXPECT_EQ(second.Functions().SDL_Init, nullptr);

  first.Unload();
  EXPECT_FALSE(first.Loaded());
  EXPECT_EQ(first.Functions().SDL_Init, nullptr);
  EXPECT_TRUE(second.Load(folder)) << second.LastError();
}

TEST(SDLLoader, AMissingLibraryOrFunctionFailsWithItsText) {
  TSDLLoader loader;
  EXPECT_FALSE(loader.Load("/nonexistent", "libnothing-here.so.0"));
  EXPECT_EQ(loader.LastError().rfind("Load library /nonexistent/libnothing-here.so.0 error: ", 0), 0u)
      << loader.LastError();
  // A real library that is not SDL has none of its functions.
  EXPECT_FALSE(loader.Load("", "libm.so.6"));
  EXPECT_EQ(loader.LastError().rfind("Load function SDL_GetVersion@libm.so.6 error: ", 0), 0u) << loader.LastError();
  EXPECT_FALSE(loader.Loaded());
}

TEST(PlayerVolume, SamplesAreCopiedScaledOrSilenced) {
  TSDLLoader loader;
  ASSERT_TRUE(loader.Load(TFFLoader::Instance().LibraryPath())) << loader.LastError();
  const std::vector<std::int16_t> source = {1000, -2000, 30000, -32768};
  struct Case {
    int Volume;
    bool Mute;
    std::vector<std::int16_t> Expected;
  };
  const Case cases[] = {{128, false, source}, {0, false, {0, 0, 0, 0}}, {128, true, {0, 0, 0, 0}},
                        {64, false, {500, -1000, 15000, -16384}}};
  for (const Case& c : cases) {
    SCOPED_TRACE(testing::Message() << c.Volume << (c.Mute ? " muted" : ""));
    std::vector<std::int16_t> target = {7, 7, 7, 7};
    WriteAudio(loader.Functions(), reinterpret_cast<std::uint8_t*>(target.data()),
               reinterpret_cast<const std::uint8_t*>(source.data()), 8, c.Mute, c.Volume);
    EXPECT_EQ(target, c.Expected);
  }
}

}  // namespace
}  // namespace lumivor
