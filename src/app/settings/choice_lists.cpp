#include "app/settings/choice_lists.h"

namespace lumivor {

std::span<const std::string_view> ChoiceItems(SettingsChoice choice) {
  switch (choice) {
    case SettingsChoice::Format: return FormatItems;
    case SettingsChoice::Quality: return QualityItems;
    case SettingsChoice::VideoSize: return VideoSizeItems;
    case SettingsChoice::FrameRate: return FrameRateItems;
    case SettingsChoice::SampleRate: return SampleRateItems;
    case SettingsChoice::BitRate: return BitRateItems;
  }
  return {};
}

}  // namespace lumivor
