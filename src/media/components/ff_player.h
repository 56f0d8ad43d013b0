// The player component: plays one media file, its sound through SDL and, when the file has
// pictures and display is on, its pictures in a window. The application previews audio tracks
// with it. Playback runs on threads of its own; state and position come back through events.
#pragma once

#include <atomic>
#include <condition_variable>
#include <cstdint>
#include <functional>
#include <map>
#include <memory>
#include <mutex>
#include <string>
#include <thread>

#include "raster/raster.h"
#include "media/components/ff_base_component.h"
#include "media/components/ff_decoder.h"
#include "media/components/player_events.h"
#include "media/runtime/ff_headers.h"
#include "media/runtime/sdl_load.h"

namespace lumivor {

enum TAudioDriver : int { adDefault, adDirectSound, adWaveOut };
enum TVideoDriver : int { vdDefault, vdDirectDraw, vdGDI };
using TAudioVolume = int;  // 0 (silent) to 128 (unchanged)

class TCustomPlayer;
using FileOpenEvent = std::function<void(TCustomPlayer* Sender, std::int64_t ADuration, int AFrameWidth,
                                          int AFrameHeight, int& AScreenWidth, int& AScreenHeight)>;
using PlayStateEvent = std::function<void(TCustomPlayer* Sender, TPlayState APlayState)>;
using PositionEvent = std::function<void(TCustomPlayer* Sender, std::int64_t APTS)>;
using PlayerAudioHookEvent = std::function<void(TCustomPlayer* Sender, std::int64_t APTS, const std::uint8_t* ASample,
                                           int ASize, int ASampleRate, int AChannels)>;
using PlayerVideoHookEvent =
    std::function<void(TCustomPlayer* Sender, Bitmap& ABitmap, std::int64_t APTS, bool& AUpdate)>;
using PlayerFrameHookEvent = std::function<void(TCustomPlayer* Sender, const AVFrame* APicture, AVPixelFormat APixFmt,
                                           int AWidth, int AHeight, std::int64_t APTS)>;
using PlayerBeforeFindStreamInfoEvent = std::function<void(TCustomPlayer* Sender, AVFormatContext* AFormatContext)>;

struct PlayContext;

class TCustomPlayer : public TFFBaseComponent {
 public:
  TCustomPlayer();
  ~TCustomPlayer() override;
  TCustomPlayer(const TCustomPlayer&) = delete;
  TCustomPlayer& operator=(const TCustomPlayer&) = delete;

  // Properties. Mute and AudioVolume are read by the sound output while it plays.
  TAudioDriver AudioDriver = adDefault;
  bool AudioHook = false;
  std::atomic<TAudioVolume> AudioVolume{128};
  bool DisableAudio = false;
  bool DisableVideo = false;
  bool DisableDisplay = false;
  std::atomic<bool> Mute{false};
  bool FrameHook = false;
  int ScreenWidth = 0;
  int ScreenHeight = 0;
  bool TriggerEventInMainThread = true;
  TVideoDriver VideoDriver = vdDefault;
  bool VideoHook = false;
  float AspectRatio() const { return aspectRatio_.load(); }
  // A different value while a file is open redraws the picture.
  void SetAspectRatio(float value);

  FileOpenEvent OnFileOpen;
  PlayStateEvent OnState;
  PositionEvent OnPosition;
  PlayerAudioHookEvent OnAudioHook;
  PlayerVideoHookEvent OnVideoHook;
  PlayerFrameHookEvent OnFrameHook;
  PlayerBeforeFindStreamInfoEvent OnBeforeFindStreamInfo;

  bool LibrariesLoaded() const;
  bool SDLLoaded() const;
  bool LoadLibraries(const std::string& folder, bool withSDL = true);
  // An option for the next Open ("sws_flags" for the picture scaler); options are reset by Open.
  void SetOption(const std::string& key, const std::string& value);

  // screenHandle: the window to show pictures in (a native window id), 0 for a window of the
  // player's own when the file has pictures.
  bool Open(const std::string& fileName, std::uintptr_t screenHandle = 0, bool startPaused = false);
  void Stop(bool wait);
  void TogglePause();
  // The window was resized or uncovered: draw the picture again.
  void Refresh();

  TPlayState PlayerState() const { return state_.load(); }
  std::string LastErrorText;
  const std::string& FileName() const { return fileName_; }
  // True while the thread that delivers OnState and OnPosition runs.
  bool EventThreadRunning() const { return eventThreadRunning_.load(); }
  TFFDecoder& Decoder() { return decoder_; }

 protected:
  // The SDL functions the player calls, copied from its loader: a subclass may replace entries.
  SDLFunctions& SDL() { return sdl_; }
  // The client size of the screen window; the default asks SDL about the window made from the
  // handle. False when the size cannot be told.
  virtual bool ScreenClientSize(std::uintptr_t screenHandle, int& width, int& height);

 private:
  friend struct PlayerThreads;

  void SetPlayerState(TPlayState state);
  // Main thread only, like everything else that touches SDL's video.
  bool InitSDL(std::uintptr_t screenHandle);
  void QuitSDL();
  void Display(PlayContext& context);
  bool OpenPlayContext(const std::string& fileName, bool startPaused);
  void ClosePlayContext();
  void StartEventThread();
  void EndEventThread();
  void JoinPlayThread();
  void PlayThreadRun(std::shared_ptr<PlayContext> context);
  void EventThreadRun();
  void DeliverEvent(const PlayerEvent& event);
  void ReportPosition(PlayContext& context);
  void PushSDLEvent(std::uint32_t type);
  void SetError(const std::string& text);

  TSDLLoader sdlLoader_;
  SDLFunctions sdl_;
  bool withSDL_ = true;
  std::atomic<float> aspectRatio_{0.0f};
  std::atomic<TPlayState> state_{psStop};
  std::string fileName_;
  std::uintptr_t screenHandle_ = 0;
  SDLWindowPtr screenWindow_;  // made from screenHandle_, on the main thread
  std::map<std::string, std::string> options_;
  int swsFlags_ = 4;
  TFFDecoder decoder_;
  PositionFilter positions_;

  // The play context and the threads around it.
  // Freed by the play thread under the player lock; operations that outlive a lock hold a share.
  std::mutex contextMutex_;
  std::shared_ptr<PlayContext> context_;
  std::atomic<bool> openAbort_{false};
  std::mutex playerLock_;
  std::thread playThread_;
  std::atomic<bool> playThreadStarted_{false};
  std::mutex stoppedMutex_;
  std::condition_variable stoppedSignal_;
  bool stopped_ = true;

  EventQueue events_;
  std::thread eventThread_;
  std::atomic<bool> eventTerminate_{false};
  std::atomic<bool> eventThreadRunning_{false};
};

class TFFPlayer : public TCustomPlayer {};

}  // namespace lumivor
