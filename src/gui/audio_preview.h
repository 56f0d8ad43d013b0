// The audio page's preview player, behind a header of its own: the player component's header
// and the engine's declare event types of the same names, so the window (which holds the run's
// encoder) reaches the player only through this.
#pragma once

#include <cstdint>
#include <memory>
#include <string>

#include "media/components/player_events.h"

namespace lumivor {
class TFFPlayer;
}

namespace lumivor::gui {

class AudioPreview {
 public:
  AudioPreview();
  ~AudioPreview();
  AudioPreview(const AudioPreview&) = delete;
  AudioPreview& operator=(const AudioPreview&) = delete;

  // Pictures are not shown, only the sound played (where the player cannot use our windows).
  void SetDisplayDisabled(bool disabled);

  bool LibrariesLoaded() const;
  bool SDLLoaded() const;
  bool LoadLibraries(const std::string& folder, bool withSDL);
  bool Open(const std::string& fileName, std::uintptr_t screenHandle, bool startPaused);
  void Stop(bool wait);
  void TogglePause();
  void Refresh();

  TPlayState PlayerState() const;
  const std::string& LastErrorText() const;
  const std::string& FileName() const;

 private:
  std::unique_ptr<TFFPlayer> player_;
};

}  // namespace lumivor::gui
