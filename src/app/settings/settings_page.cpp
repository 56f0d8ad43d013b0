#include "app/settings/settings_page.h"

#include <iterator>

#include "app/settings/output_folder.h"

namespace lumivor {

namespace {

// The frame rate goes back to "30:1" for every format: it is the choice of a first run, and every
// container of the format table takes it.
//
// mkv carries H.264 with the container's default audio. It gets the choices of the other formats
// whose codecs take a bit rate the same way (mp4, wmv, mov): "1200" kb/s at "320x240", the sample
// rate of the source and Stereo. So Default resets every choice whatever the format, rather than
// leaving the choices of an mkv run as they happened to be.
constexpr DefaultChoices DefaultTable[] = {
    // bit rate, frame size, sample rate, frame rate, stereo
    {7, 6, 0, 0, true},  // mp4: "1200", "320x240", "as source", "30:1"
    {5, 6, 0, 0, true},  // swf: "768"
    {5, 6, 0, 0, true},  // flv: "768"
    {7, 6, 0, 0, true},  // wmv: "1200"
    {7, 6, 0, 0, true},  // mov: "1200"
    {7, 6, 0, 0, true},  // mkv: "1200"
    // H.264/AAC: 1920x1080, the size most screens and phones show full; 44100 Hz stereo, which
    // every AAC player takes (the source's rate may be one that some players refuse). Its codec
    // options fix the quality, so the bit rate stays "1200" only for a later switch of format.
    {7, 16, 4, 0, true},
};
static_assert(std::size(DefaultTable) == std::size(FormatItems), "one Default row per format");

constexpr const char* DefaultPhotoDelayStored = "5";
constexpr const char* DefaultEffectDelayStored = "2";

}  // namespace

const DefaultChoices* DefaultChoicesFor(int formatIndex) {
  if (formatIndex < 0 || formatIndex >= static_cast<int>(std::size(DefaultTable))) return nullptr;
  return &DefaultTable[formatIndex];
}

SettingsPage::SettingsPage(SettingsView& view, SettingsStore& store, const TGlobalObject& global)
    : view_(view), store_(store), global_(global) {}

void SettingsPage::FillList(SettingsChoice choice) {
  std::vector<std::string> items;
  for (std::string_view item : ChoiceItems(choice)) items.emplace_back(item);
  view_.SetItems(choice, items);
}

void SettingsPage::FormShow() {
  view_.SetOutputFolderText(OutputFolderForWindowShow(store_));
  view_.SetOutputFolderEnabled(false);

  view_.SetStartEnabled(true);
  view_.SetPauseEnabled(false);
  view_.SetStopEnabled(false);
  view_.SetExitEnabled(true);
  view_.SetRandomEffectsChecked(true);

  // The frame-rate list is filled once, when the window is built.
  for (SettingsChoice choice : {SettingsChoice::SampleRate, SettingsChoice::Format, SettingsChoice::BitRate,
                                SettingsChoice::Quality, SettingsChoice::VideoSize})
    FillList(choice);

  view_.SetItemIndex(SettingsChoice::Format, store_.ReadInteger(settings_key::Format, 0));
  view_.SetItemIndex(SettingsChoice::Quality, store_.ReadInteger(settings_key::QualityIndex, 0));
  view_.SetItemIndex(SettingsChoice::VideoSize, store_.ReadInteger(settings_key::VideoSizeIndex, 0));
  view_.SetItemIndex(SettingsChoice::SampleRate, store_.ReadInteger(settings_key::SampleRate, 0));
  view_.SetItemIndex(SettingsChoice::FrameRate, store_.ReadInteger(settings_key::FrameRateIndex, 0));
  view_.SetStereoChecked(store_.ReadBool(settings_key::Stereo, true));
  view_.SetMonoChecked(store_.ReadBool(settings_key::Mono, false));

  view_.SetPhotoDelayText(store_.ReadString(settings_key::PhotoDelay, DefaultPhotoDelayStored));
  view_.SetEffectDelayText(store_.ReadString(settings_key::EffectDelay, DefaultEffectDelayStored));

  view_.SetWindowTitle(global_.ProductName() + " Free Ver" + global_.VersionText());
}

void SettingsPage::StoreIndex(std::string_view key, SettingsChoice choice) {
  store_.WriteInteger(key, view_.ItemIndex(choice));
}

void SettingsPage::StoreIndexAndText(std::string_view indexKey, std::string_view textKey, SettingsChoice choice) {
  StoreIndex(indexKey, choice);
  store_.WriteString(textKey, view_.ItemText(choice));
}

void SettingsPage::cmbFormatChange() { StoreIndex(settings_key::Format, SettingsChoice::Format); }
void SettingsPage::cmbQualityChange() { StoreIndex(settings_key::QualityIndex, SettingsChoice::Quality); }
void SettingsPage::cmbVideoSizeChange() {
  StoreIndexAndText(settings_key::VideoSizeIndex, settings_key::VideoSize, SettingsChoice::VideoSize);
}
void SettingsPage::cmbFramerateChange() {
  StoreIndexAndText(settings_key::FrameRateIndex, settings_key::FrameRate, SettingsChoice::FrameRate);
}
void SettingsPage::cmbSampleRateChange() { StoreIndex(settings_key::SampleRate, SettingsChoice::SampleRate); }
void SettingsPage::cmbBitRateChange() {
  StoreIndexAndText(settings_key::BitRateIndex, settings_key::BitRate, SettingsChoice::BitRate);
}

// Both keys every time: the conversion reads "stereo" alone, so the pair must never disagree.
void SettingsPage::StoreChannels() {
  store_.WriteBool(settings_key::Stereo, view_.StereoChecked());
  store_.WriteBool(settings_key::Mono, view_.MonoChecked());
}
void SettingsPage::rdoStereoClick() { StoreChannels(); }
void SettingsPage::rdoMonoClick() { StoreChannels(); }

void SettingsPage::UpDownPhotoClick() { store_.WriteString(settings_key::PhotoDelay, view_.PhotoDelayText()); }
void SettingsPage::UpDownEffectClick() { store_.WriteString(settings_key::EffectDelay, view_.EffectDelayText()); }

void SettingsPage::btnDefaultClick() {
  view_.SetPhotoDelayText(DefaultPhotoDelay);
  view_.SetEffectDelayText(DefaultEffectDelay);
  const DefaultChoices* choices = DefaultChoicesFor(view_.ItemIndex(SettingsChoice::Format));
  if (choices == nullptr) return;
  view_.SetItemIndex(SettingsChoice::BitRate, choices->BitRateIndex);
  view_.SetItemIndex(SettingsChoice::VideoSize, choices->VideoSizeIndex);
  view_.SetItemIndex(SettingsChoice::SampleRate, choices->SampleRateIndex);
  view_.SetItemIndex(SettingsChoice::FrameRate, choices->FrameRateIndex);
  view_.SetStereoChecked(choices->Stereo);
  view_.SetMonoChecked(!choices->Stereo);
  cmbBitRateChange();
  cmbFramerateChange();
  cmbVideoSizeChange();
  cmbSampleRateChange();
  rdoStereoClick();
}

void SettingsPage::StoreDelays() {
  store_.WriteString(settings_key::PhotoDelay, view_.PhotoDelayText());
  store_.WriteString(settings_key::EffectDelay, view_.EffectDelayText());
}

}  // namespace lumivor
