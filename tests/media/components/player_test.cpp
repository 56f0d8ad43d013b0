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
#include <thread>
#include <map>
#include <mutex>
#include <optional>

#include "media/components/ff_player.h"
#include "media/runtime/ff_load.h"
#include "media/runtime/ff_log.h"
#include "media/runtime/main_thread.h"
#include "media/runtime/sdl_load.h"
#include "media_maker.h"
#include "support/scratch_folder.h"

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
    folder_ = new testing::ScratchFolder();
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

  static std::string Tone() { return *folder_ / "tone.wav"; }
  static std::string Mp3() { return *folder_ / "tone.mp3"; }
  static std::string Clip() { return *folder_ / "clip.mkv"; }
  static std::string Output() { return *folder_ / "heard.raw"; }

  static void Load(TCustomPlayer& player) {
    ASSERT_TRUE(player.LoadLibraries(TFFLoader::Instance().LibraryPath(), true)) << player.LastErrorText;
  }
  static void Record(TCustomPlayer& player, Reports& reports) {
    player.OnState = [&reports](TCustomPlayer*, TPlayState state) { reports.States.push_back(state); };
    player.OnPosition = [&reports](TCustomPlayer*, std::int64_t position) { reports.Positions.push_back(position); };
  }

  static testing::ScratchFolder* folder_;
  static bool ok_;
  static std::string error_;
};
testing::ScratchFolder* Player::folder_ = nullptr;
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
    Reports reports;
    TFFPlayer player;
    Load(player);
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
    // Silence comes first while the device starts, and wherever a loaded machine lets decoding
    // fall behind the device; what matters is that every sample of sound is the file's, in order.
    // So both sides are compared with their silent sample frames left out.
    std::vector<std::int16_t> sound;
    for (std::size_t i = 0; i + 1 < heard.size(); i += 2) {
      if (heard[i] != 0 || heard[i + 1] != 0) sound.insert(sound.end(), {heard[i], heard[i + 1]});
    }
    // The file holds at least the 0.6 s asked for (whole encoder frames), never a second.
    std::vector<std::int16_t> tone;
    for (int i = 0; i < 44100; ++i) {
      if (ToneSample(i) != 0) tone.insert(tone.end(), {ToneSample(i), ToneSample(i)});
    }
    ASSERT_GE(sound.size(), static_cast<std::size_t>(frames - 10) * 2) << "part of the tone was not heard";
    ASSERT_LT(sound.size(), tone.size());
    int mismatches = 0;
    for (std::size_t i = 0; i < sound.size(); ++i) {
      if (sound[i] != tone[i] && mismatches++ < 3) {
        ADD_FAILURE() << "sample value " << i << ": " << sound[i] << " instead of " << tone[i];
      }
    }
    EXPECT_EQ(mismatches, 0);
  }
}

TEST_F(Player, StatesFollowPlayPauseResumeEndAndStop) {
  Reports reports;
  TFFPlayer player;
  Load(player);
  Record(player, reports);
  ASSERT_TRUE(player.Open(Tone())) << player.LastErrorText;
  ASSERT_TRUE(WaitFor([&] { return reports.Positions.size() >= 3; }));

  player.TogglePause();
  EXPECT_EQ(player.PlayerState(), psPause);
  ASSERT_TRUE(WaitFor([&] { return reports.Has(psPause); }));
  // One more position may still come: the clock's value at the moment of pausing.
  WaitFor([] { return false; }, 60);
  const std::int64_t pausedAt = reports.Positions.empty() ? 0 : reports.Positions.back();
  WaitFor([] { return false; }, 300);
  ASSERT_FALSE(reports.Positions.empty());
  EXPECT_LE(reports.Positions.back() - pausedAt, 30000) << "the position moved while paused";

  player.TogglePause();
  EXPECT_EQ(player.PlayerState(), psResume);
  ASSERT_TRUE(WaitFor([&] { return reports.Has(psEnd); }));
  EXPECT_EQ(player.PlayerState(), psEnd);
  WaitFor([] { return false; }, 200);
  player.Stop(true);
  EXPECT_EQ(player.PlayerState(), psStop);
  ASSERT_TRUE(WaitFor([&] { return !player.EventThreadRunning(); }));
  EXPECT_EQ(reports.States, (std::vector<TPlayState>{psPlay, psPause, psResume, psEnd, psStop}));
}

TEST_F(Player, AStopEndsPlaybackBeforeTheEndAndAPausedStartHoldsStill) {
  Reports reports;
  TFFPlayer player;
  Load(player);
  Record(player, reports);
  ASSERT_TRUE(player.Open(Tone(), 0, true)) << player.LastErrorText;
  WaitFor([] { return false; }, 300);
  EXPECT_TRUE(reports.Positions.empty() || reports.Positions.back() < 50000)
      << "a file opened paused played on to " << reports.Positions.back();
  player.Stop(true);
  ASSERT_TRUE(WaitFor([&] { return !player.EventThreadRunning(); }));
  EXPECT_EQ(reports.States, (std::vector<TPlayState>{psPlay, psStop}));
  EXPECT_FALSE(reports.Has(psEnd));
}

TEST_F(Player, OpenWhilePlayingStopsTheFirstFileCompletely) {
  Reports reports;
  TFFPlayer player;
  Load(player);
  Record(player, reports);
  ASSERT_TRUE(player.Open(Tone())) << player.LastErrorText;
  ASSERT_TRUE(WaitFor([&] { return reports.Has(psPlay); }));
  ASSERT_TRUE(player.Open(Mp3())) << player.LastErrorText;
  // The first file's stop has been delivered by the time the second one plays.
  ASSERT_GE(reports.States.size(), 2u);
  EXPECT_EQ(reports.States[0], psPlay);
  EXPECT_EQ(reports.States[1], psStop);
  EXPECT_EQ(player.FileName(), Mp3());
  ASSERT_TRUE(WaitFor([&] { return reports.Has(psEnd); }));
  player.Stop(true);
  ASSERT_TRUE(WaitFor([&] { return !player.EventThreadRunning(); }));
  EXPECT_EQ(reports.States, (std::vector<TPlayState>{psPlay, psStop, psPlay, psEnd, psStop}));
}

TEST_F(Player, FileOpenReportsTheFrameSizeAndTakesTheScreenSizeFromThePanel) {
  struct Case {
    std::string File;
    std::uintptr_t Panel;
    bool DisableDisplay;
    int FrameWidth, FrameHeight, ScreenWidth, ScreenHeight;
  };
  // Without display there are no pictures: even a video reports no frame size then. Without a
  // panel there is no client area to take the screen size from.
  const Case cases[] = {{Tone(), 1234, true, -1, -1, 320, 200},
                        {Mp3(), 1234, true, -1, -1, 320, 200},
                        {Clip(), 1234, true, -1, -1, 320, 200},
                        {Clip(), 0, false, 160, 120, 0, 0}};
  for (const Case& c : cases) {
    SCOPED_TRACE(c.File + (c.DisableDisplay ? " without display" : ""));
    PanelPlayer player;
    Load(player);
    player.PanelWidth = 320;
    player.PanelHeight = 200;
    player.DisableDisplay = c.DisableDisplay;
    std::int64_t duration = 0;
    int frameWidth = 0;
    int frameHeight = 0;
    int screenWidthSeen = -5;
    player.OnFileOpen = [&](TCustomPlayer*, std::int64_t d, int w, int h, int& screenWidth, int&) {
      duration = d;
      frameWidth = w;
      frameHeight = h;
      screenWidthSeen = screenWidth;
    };
    ASSERT_TRUE(player.Open(c.File, c.Panel)) << player.LastErrorText;
    EXPECT_EQ(frameWidth, c.FrameWidth);
    EXPECT_EQ(frameHeight, c.FrameHeight);
    EXPECT_EQ(screenWidthSeen, 0);
    EXPECT_NEAR(static_cast<double>(duration), 600000.0, 60000.0);
    EXPECT_EQ(player.ScreenWidth, c.ScreenWidth);
    EXPECT_EQ(player.ScreenHeight, c.ScreenHeight);
    player.Stop(true);
  }
}

TEST_F(Player, TheEventThreadEndsWithoutAStateHandler) {
  std::vector<std::int64_t> positions;
  TFFPlayer player;
  Load(player);
  player.OnPosition = [&](TCustomPlayer*, std::int64_t position) { positions.push_back(position); };
  ASSERT_TRUE(player.Open(Tone())) << player.LastErrorText;
  EXPECT_TRUE(player.EventThreadRunning());
  ASSERT_TRUE(WaitFor([&] { return positions.size() >= 3; }));
  player.Stop(true);
  EXPECT_TRUE(WaitFor([&] { return !player.EventThreadRunning(); }, 2000));
}

TEST_F(Player, AVideoClipPlaysToItsEndThroughTheHooks) {
  Reports reports;
  std::atomic<int> decoded{0};
  std::atomic<int> shown{0};
  std::vector<std::string> errors;
  TFFPlayer player;
  Load(player);
  Record(player, reports);
  player.FrameHook = true;
  player.OnFrameHook = [&](TCustomPlayer*, const AVFrame*, AVPixelFormat, int width, int height, std::int64_t) {
    if (width == 160 && height == 120) ++decoded;
  };
  player.VideoHook = true;
  player.OnVideoHook = [&](TCustomPlayer*, Bitmap&, std::int64_t, bool&) {
    ++shown;
    throw std::runtime_error("hook failed");
  };
  DefaultLogger().SetOnLog([&](const void*, int, TLogLevel level, const std::string& message) {
    if (level <= llError) errors.push_back(message);
  });
  ASSERT_TRUE(player.Open(Clip())) << player.LastErrorText;
  const bool ended = WaitFor([&] { return reports.Has(psEnd); });
  player.Stop(true);
  DefaultLogger().SetOnLog(nullptr);
  ASSERT_TRUE(ended);
  EXPECT_EQ(decoded.load(), 6);
  EXPECT_GE(shown.load(), 5);
  ASSERT_FALSE(errors.empty());
  EXPECT_EQ(errors.front(), "Error occurs OnVideoHook: hook failed");
  EXPECT_EQ(reports.Count(psEnd), 1);
}

TEST_F(Player, OpenFailuresLeaveThePlayerStoppedAndReusable) {
  {
    TFFPlayer bare;
    TFFLoader::Instance().Unload(LibrarySet{lbSWScale});
    EXPECT_FALSE(bare.LibrariesLoaded());
    EXPECT_FALSE(bare.Open(Tone()));
    EXPECT_EQ(bare.LastErrorText, "LibAV not loaded.");
  }
  Reports reports;
  TFFPlayer player;
  ASSERT_TRUE(player.LoadLibraries(TFFLoader::Instance().LibraryPath(), false)) << player.LastErrorText;
  EXPECT_TRUE(player.LibrariesLoaded());
  EXPECT_FALSE(player.SDLLoaded());
  EXPECT_FALSE(player.Open(Tone()));
  EXPECT_EQ(player.LastErrorText, "SDL not loaded.");

  Load(player);
  EXPECT_FALSE(player.Open(*folder_ / "missing.wav"));
  EXPECT_NE(player.LastErrorText.find("missing.wav"), std::string::npos) << player.LastErrorText;
  EXPECT_EQ(player.PlayerState(), psStop);
  Record(player, reports);
  ASSERT_TRUE(player.Open(Mp3())) << player.LastErrorText;
  ASSERT_TRUE(WaitFor([&] { return reports.Has(psEnd); }));
}

TEST_F(Player, HooksSeeTheOpeningFileAndEverySoundBufferAndTheDecoderDescribesIt) {
  std::atomic<std::int64_t> bytes{0};
  std::atomic<int> rate{0};
  std::atomic<int> channels{0};
  std::atomic<std::int64_t> firstPts{AV_NOPTS_VALUE};
  int beforeFindStreamInfo = 0;
  Reports reports;
  TFFPlayer player;
  Load(player);
  Record(player, reports);
  player.AudioHook = true;
  player.OnAudioHook = [&](TCustomPlayer*, std::int64_t pts, const std::uint8_t*, int size, int r, int c) {
    std::int64_t none = AV_NOPTS_VALUE;
    firstPts.compare_exchange_strong(none, pts);
    bytes += size;
    rate = r;
    channels = c;
  };
  player.OnBeforeFindStreamInfo = [&](TCustomPlayer*, AVFormatContext* context) {
    if (context != nullptr && context->nb_streams == 1) ++beforeFindStreamInfo;
  };
  ASSERT_TRUE(player.Open(Tone())) << player.LastErrorText;
  EXPECT_EQ(beforeFindStreamInfo, 1);
  EXPECT_EQ(player.Decoder().StreamCount, 1);
  EXPECT_EQ(player.Decoder().AudioStreamCount, 1);
  ASSERT_TRUE(WaitFor([&] { return reports.Has(psEnd); }));
  player.Stop(true);
  EXPECT_EQ(player.Decoder().StreamCount, -1) << "the decoder still describes a closed file";

  EXPECT_EQ(rate.load(), 44100);
  EXPECT_EQ(channels.load(), 2);
  EXPECT_EQ(firstPts.load(), 0);
  // Every sample of the file, in whole sample frames, went through the hook once.
  EXPECT_GE(bytes.load(), static_cast<std::int64_t>(0.6 * 44100) * 4);
  EXPECT_LT(bytes.load(), static_cast<std::int64_t>(0.7 * 44100) * 4);
  EXPECT_EQ(bytes.load() % 4, 0);
}

TEST_F(Player, EventsComeFromTheEventThreadWhenNotSentToTheMainThread) {
  std::mutex mutex;
  std::vector<TPlayState> states;
  bool onMainThread = false;
  TFFPlayer player;
  Load(player);
  player.TriggerEventInMainThread = false;
  player.OnState = [&](TCustomPlayer*, TPlayState state) {
    std::lock_guard<std::mutex> guard(mutex);
    states.push_back(state);
    onMainThread = onMainThread || IsMainThread();
  };
  ASSERT_TRUE(player.Open(Mp3())) << player.LastErrorText;
  // No serving of the main thread from here on: plain sleeps only.
  for (int i = 0; i < 500; ++i) {
    {
      std::lock_guard<std::mutex> guard(mutex);
      if (std::find(states.begin(), states.end(), psEnd) != states.end()) break;
    }
    std::this_thread::sleep_for(std::chrono::milliseconds(10));
  }
  player.Stop(true);
  for (int i = 0; i < 200 && player.EventThreadRunning(); ++i) std::this_thread::sleep_for(std::chrono::milliseconds(10));
  std::lock_guard<std::mutex> guard(mutex);
  EXPECT_EQ(states, (std::vector<TPlayState>{psPlay, psEnd, psStop}));
  EXPECT_FALSE(onMainThread);
}

TEST_F(Player, AStopWhileAFileIsBeingOpenedCallsTheOpenOff) {
  Reports reports;
  TFFPlayer player;
  Load(player);
  Record(player, reports);
  player.OnBeforeFindStreamInfo = [](TCustomPlayer* sender, AVFormatContext*) { sender->Stop(false); };
  EXPECT_FALSE(player.Open(Tone()));
  EXPECT_EQ(player.LastErrorText, "Open aborted.");
  EXPECT_EQ(player.PlayerState(), psStop);
  EXPECT_FALSE(player.EventThreadRunning());

  player.OnBeforeFindStreamInfo = nullptr;
  ASSERT_TRUE(player.Open(Mp3())) << player.LastErrorText;
  ASSERT_TRUE(WaitFor([&] { return reports.Has(psEnd); }));
  player.Stop(true);
  ASSERT_TRUE(WaitFor([&] { return !player.EventThreadRunning(); }));
  EXPECT_EQ(reports.States, (std::vector<TPlayState>{psPlay, psEnd, psStop}));
}

// A player on a machine whose sound device refuses every channel count.
class DeafPlayer : public TFFPlayer {
 public:
  static inline std::vector<int> Tried;
  void RefuseSound() {
    Tried.clear();
    SDL().SDL_OpenAudioDevice = [](const char*, int, const SDL_AudioSpec* wanted, SDL_AudioSpec*, int) {
      Tried.push_back(wanted->channels);
      return SDL_AudioDeviceID{0};
    };
  }
};

TEST_F(Player, ASoundDeviceThatRefusesLeavesPicturesPlayingAndSoundOnlyFilesUnplayable) {
  Reports reports;
  std::vector<std::string> errors;
  DeafPlayer player;
  Load(player);
  player.RefuseSound();
  Record(player, reports);
  DefaultLogger().SetOnLog([&](const void*, int, TLogLevel level, const std::string& message) {
    if (level <= llError) errors.push_back(message);
  });
  const bool toneOpened = player.Open(Tone());
  const std::string toneError = player.LastErrorText;
  const bool clipOpened = player.Open(Clip());
  const bool ended = clipOpened && WaitFor([&] { return reports.Has(psEnd); });
  player.Stop(true);
  DefaultLogger().SetOnLog(nullptr);

  EXPECT_FALSE(toneOpened);
  // The refusal says nothing of its own here, so the player words it.
  EXPECT_EQ(toneError, Tone() + ": cannot play the sound: the sound device refused to open");
  ASSERT_TRUE(clipOpened) << player.LastErrorText;
  EXPECT_TRUE(ended) << "the pictures did not play to their end";
  EXPECT_EQ(DeafPlayer::Tried, (std::vector<int>{2, 1, 2, 1}));
  EXPECT_NE(std::find(errors.begin(), errors.end(), "No more channel combinations to try, audio open failed"),
            errors.end());
}


// SDL as the player uses it, counted: what was made and freed of each kind, and which calls into
// SDL's video came from a thread other than the main thread (SDL's video belongs to the thread
// that initialised it).
struct SDLWatch {
  static inline SDLFunctions Real;
  static inline std::mutex Mutex;
  static inline std::map<std::string, int> Made;
  static inline std::map<std::string, int> Freed;
  static inline std::vector<std::string> OffMainThread;
  static inline bool RefuseRenderer = false;

  static void Reset() {
    std::lock_guard<std::mutex> guard(Mutex);
    Made.clear();
    Freed.clear();
    OffMainThread.clear();
    RefuseRenderer = false;
  }
  static void Video(const char* call) {
    if (IsMainThread()) return;
    std::lock_guard<std::mutex> guard(Mutex);
    OffMainThread.push_back(call);
  }
  static void Count(std::map<std::string, int>& counts, const char* kind) {
    std::lock_guard<std::mutex> guard(Mutex);
    ++counts[kind];
  }
  static int Of(const std::map<std::string, int>& counts, const char* kind) {
    std::lock_guard<std::mutex> guard(Mutex);
    const auto it = counts.find(kind);
    return it == counts.end() ? 0 : it->second;
  }

  static int Init(Uint32 flags) {
    Video("SDL_Init");
    return Real.SDL_Init(flags);
  }
  static void Quit() {
    Video("SDL_Quit");
    Real.SDL_Quit();
  }
  static void PumpEvents() {
    Video("SDL_PumpEvents");
    Real.SDL_PumpEvents();
  }
  static SDL_Window* CreateWindow(const char* title, int x, int y, int w, int h, Uint32 flags) {
    Video("SDL_CreateWindow");
    SDL_Window* window = Real.SDL_CreateWindow(title, x, y, w, h, flags);
    if (window != nullptr) Count(Made, "window");
    return window;
  }
  static void DestroyWindow(SDL_Window* window) {
    Video("SDL_DestroyWindow");
    if (window != nullptr) Count(Freed, "window");
    Real.SDL_DestroyWindow(window);
  }
  static SDL_Renderer* CreateRenderer(SDL_Window* window, int index, Uint32 flags) {
    Video("SDL_CreateRenderer");
    if (RefuseRenderer) return nullptr;
    SDL_Renderer* renderer = Real.SDL_CreateRenderer(window, index, flags);
    if (renderer != nullptr) Count(Made, "renderer");
    return renderer;
  }
  static void DestroyRenderer(SDL_Renderer* renderer) {
    Video("SDL_DestroyRenderer");
    if (renderer != nullptr) Count(Freed, "renderer");
    Real.SDL_DestroyRenderer(renderer);
  }
  static SDL_Texture* CreateTexture(SDL_Renderer* renderer, Uint32 format, int access, int w, int h) {
    Video("SDL_CreateTexture");
    SDL_Texture* texture = Real.SDL_CreateTexture(renderer, format, access, w, h);
    if (texture != nullptr) Count(Made, "texture");
    return texture;
  }
  static void DestroyTexture(SDL_Texture* texture) {
    Video("SDL_DestroyTexture");
    if (texture != nullptr) Count(Freed, "texture");
    Real.SDL_DestroyTexture(texture);
  }
  static void RenderPresent(SDL_Renderer* renderer) {
    Video("SDL_RenderPresent");
    Count(Made, "picture");
    Real.SDL_RenderPresent(renderer);
  }
  static SDL_AudioDeviceID OpenAudioDevice(const char* name, int capture, const SDL_AudioSpec* wanted,
                                           SDL_AudioSpec* granted, int changes) {
    const SDL_AudioDeviceID device = Real.SDL_OpenAudioDevice(name, capture, wanted, granted, changes);
    if (device != 0) Count(Made, "sound device");
    return device;
  }
  static void CloseAudioDevice(SDL_AudioDeviceID device) {
    Count(Freed, "sound device");
    Real.SDL_CloseAudioDevice(device);
  }
};

class WatchedPlayer : public TFFPlayer {
 public:
  void Watch() {
    SDLFunctions& sdl = SDL();
    SDLWatch::Real = sdl;
    sdl.SDL_Init = SDLWatch::Init;
    sdl.SDL_Quit = SDLWatch::Quit;
    sdl.SDL_PumpEvents = SDLWatch::PumpEvents;
    sdl.SDL_CreateWindow = SDLWatch::CreateWindow;
    sdl.SDL_DestroyWindow = SDLWatch::DestroyWindow;
    sdl.SDL_CreateRenderer = SDLWatch::CreateRenderer;
    sdl.SDL_DestroyRenderer = SDLWatch::DestroyRenderer;
    sdl.SDL_CreateTexture = SDLWatch::CreateTexture;
    sdl.SDL_DestroyTexture = SDLWatch::DestroyTexture;
    sdl.SDL_RenderPresent = SDLWatch::RenderPresent;
    sdl.SDL_OpenAudioDevice = SDLWatch::OpenAudioDevice;
    sdl.SDL_CloseAudioDevice = SDLWatch::CloseAudioDevice;
  }
};

TEST_F(Player, EverythingMadeIsFreedOnEveryPathAndVideoStaysOnTheMainThread) {
  enum Ending { ToTheEnd, StoppedAtOnce, PausedAndStopped, OpenFails, OpenedAgain };
  struct Case {
    const char* Name;
    std::string File;
    Ending End;
    bool RefuseRenderer;
    std::optional<int> Windows, Renderers, SoundDevices;  // made; empty: whatever happened
  };
  const Case cases[] = {
      {"clip played to its end", Clip(), ToTheEnd, false, 1, 1, 1},
      {"clip stopped at once", Clip(), StoppedAtOnce, false, {}, {}, 1},
      {"clip paused, resumed, paused and stopped", Clip(), PausedAndStopped, false, 1, 1, 1},
      {"clip whose renderer is refused", Clip(), ToTheEnd, true, 1, 0, 1},
      {"sound only", Tone(), ToTheEnd, false, 0, 0, 1},
      {"missing file", *folder_ / "missing.mkv", OpenFails, false, 0, 0, 0},
      {"clip opened again over itself, three times", Clip(), OpenedAgain, false, {}, {}, 3},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.Name);
    SDLWatch::Reset();
    SDLWatch::RefuseRenderer = c.RefuseRenderer;
    {
      Reports reports;
      WatchedPlayer player;
      Load(player);
      player.Watch();
      Record(player, reports);
      const bool opened = player.Open(c.File);
      EXPECT_EQ(opened, c.End != OpenFails) << player.LastErrorText;
      if (opened) {
        switch (c.End) {
          case ToTheEnd:
            EXPECT_TRUE(WaitFor([&] { return reports.Has(psEnd); }));
            break;
          case PausedAndStopped:
            // Pausing waits for the player lock while the play thread may be drawing through the
            // main thread: this must not lock up.
            EXPECT_TRUE(WaitFor([] { return SDLWatch::Of(SDLWatch::Made, "picture") > 0; }));
            player.TogglePause();
            WaitFor([] { return false; }, 50);
            player.TogglePause();
            player.TogglePause();
            break;
          case OpenedAgain:
            for (int i = 0; i < 2; ++i) {
              WaitFor([] { return false; }, 30 * i);
              EXPECT_TRUE(player.Open(c.File)) << player.LastErrorText;
            }
            break;
          default:
            break;
        }
        player.Stop(true);
      }
    }
    for (const char* kind : {"window", "renderer", "texture", "sound device"}) {
      EXPECT_EQ(SDLWatch::Of(SDLWatch::Freed, kind), SDLWatch::Of(SDLWatch::Made, kind)) << kind;
    }
    if (c.Windows) {
      EXPECT_EQ(SDLWatch::Of(SDLWatch::Made, "window"), *c.Windows);
    }
    if (c.Renderers) {
      EXPECT_EQ(SDLWatch::Of(SDLWatch::Made, "renderer"), *c.Renderers);
    }
    if (c.SoundDevices) {
      EXPECT_EQ(SDLWatch::Of(SDLWatch::Made, "sound device"), *c.SoundDevices);
    }
    if (c.End == ToTheEnd && !c.RefuseRenderer && c.File == Clip()) {
      EXPECT_GE(SDLWatch::Of(SDLWatch::Made, "picture"), 5) << "the clip's pictures were not drawn";
    }
    std::lock_guard<std::mutex> guard(SDLWatch::Mutex);
    EXPECT_EQ(SDLWatch::OffMainThread, std::vector<std::string>{}) << "SDL video called off the main thread";
  }
}

// The drivers reach SDL as hints: the environment is never written (other threads read it), the
// user's SDL_AUDIODRIVER / SDL_VIDEODRIVER choose when the player has no choice of its own, and a
// choice of the player's (no display; a named driver) wins over them.
TEST_F(Player, DriverChoicesLeaveTheEnvironmentAlone) {
  struct Case {
    const char* Name;
    const char* AudioVariable;
    const char* VideoVariable;
    TAudioDriver Audio;
    bool DisableDisplay;
    bool Opens;
    std::string Error;  // part of LastErrorText, when it fails
  };
  const Case cases[] = {
      {"no display wins over the user's video driver", "disk", "no-such-video", adDefault, true, true, ""},
      {"the user's video driver", "disk", "no-such-video", adDefault, false, false, "no-such-video not available"},
      {"the user's sound driver", "no-such-audio", "dummy", adDefault, true, false, "'no-such-audio' not available"},
      {"the user's sound driver again", "disk", "dummy", adDefault, true, true, ""},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.Name);
    ::setenv("SDL_AUDIODRIVER", c.AudioVariable, 1);
    ::setenv("SDL_VIDEODRIVER", c.VideoVariable, 1);
    {
      TFFPlayer player;
      Load(player);
      player.AudioDriver = c.Audio;
      player.DisableDisplay = c.DisableDisplay;
      const bool opened = player.Open(Tone());
      EXPECT_EQ(opened, c.Opens) << player.LastErrorText;
      if (!c.Opens) {
        EXPECT_NE(player.LastErrorText.find(c.Error), std::string::npos) << player.LastErrorText;
        EXPECT_EQ(player.LastErrorText.rfind("Could not initialize SDL with ScreenHandle(0): ", 0), 0u);
      }
      player.Stop(true);
    }
    EXPECT_STREQ(std::getenv("SDL_AUDIODRIVER"), c.AudioVariable);
    EXPECT_STREQ(std::getenv("SDL_VIDEODRIVER"), c.VideoVariable);
  }
  // A driver the player names overrides the user's, whatever it makes of this machine.
  {
    ::setenv("SDL_AUDIODRIVER", "no-such-audio", 1);
    TFFPlayer player;
    Load(player);
    player.AudioDriver = adWaveOut;
    player.DisableDisplay = true;
    player.Open(Tone());
    EXPECT_EQ(player.LastErrorText.find("no-such-audio"), std::string::npos) << player.LastErrorText;
    player.Stop(true);
    EXPECT_STREQ(std::getenv("SDL_AUDIODRIVER"), "no-such-audio");
  }
  ::setenv("SDL_VIDEODRIVER", "dummy", 1);
  ::setenv("SDL_AUDIODRIVER", "disk", 1);
}

// No sound device: the reason SDL gives is what the caller gets, not "no stream to play".
TEST_F(Player, ASoundOutputThatCannotOpenGivesSDLsReason) {
  const std::string unwritable = *folder_ / "no-such-folder/heard.raw";
  ::setenv("SDL_DISKAUDIOFILE", unwritable.c_str(), 1);
  TFFPlayer player;
  Load(player);
  EXPECT_FALSE(player.Open(Tone()));
  EXPECT_EQ(player.LastErrorText, Tone() + ": cannot play the sound: Couldn't open " + unwritable);
  EXPECT_EQ(player.PlayerState(), psStop);
  ::setenv("SDL_DISKAUDIOFILE", Output().c_str(), 1);
  ASSERT_TRUE(player.Open(Tone())) << player.LastErrorText;
  player.Stop(true);
}

}  // namespace
}  // namespace lumivor
