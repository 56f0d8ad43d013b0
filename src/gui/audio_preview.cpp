#include "gui/audio_preview.h"

#include "media/components/ff_player.h"

namespace lumivor::gui {

AudioPreview::AudioPreview() : player_(std::make_unique<TFFPlayer>()) {}
AudioPreview::~AudioPreview() = default;

void AudioPreview::SetDisplayDisabled(bool disabled) { player_->DisableDisplay = disabled; }
bool AudioPreview::LibrariesLoaded() const { return player_->LibrariesLoaded(); }
bool AudioPreview::SDLLoaded() const { return player_->SDLLoaded(); }
bool AudioPreview::LoadLibraries(const std::string& folder, bool withSDL) {
  return player_->LoadLibraries(folder, withSDL);
}
bool AudioPreview::Open(const std::string& fileName, std::uintptr_t screenHandle, bool startPaused) {
  return player_->Open(fileName, screenHandle, startPaused);
}
void AudioPreview::Stop(bool wait) { player_->Stop(wait); }
void AudioPreview::TogglePause() { player_->TogglePause(); }
void AudioPreview::Refresh() { player_->Refresh(); }
TPlayState AudioPreview::PlayerState() const { return player_->PlayerState(); }
const std::string& AudioPreview::LastErrorText() const { return player_->LastErrorText; }
const std::string& AudioPreview::FileName() const { return player_->FileName(); }

}  // namespace lumivor::gui
