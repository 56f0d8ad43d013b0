// The settings page's fixed lists. A stored choice is an index into one of these, so the entries
// and their order are part of every settings file already written: append, never reorder.
#pragma once

#include <span>
#include <string_view>

namespace lumivor {

// The six list controls of the settings page.
enum class SettingsChoice { Format, Quality, VideoSize, FrameRate, SampleRate, BitRate };

// The conversion job's output format list (OutputFormatAt) has one row per entry, in this order.
inline constexpr std::string_view FormatItems[] = {"mp4", "swf", "flv", "wmv", "mov", "mkv", "mp4 (H.264/AAC)"};

// The frame size is also typed by hand (width, "x", height), so its box is editable.
inline constexpr std::string_view VideoSizeItems[] = {
    "128x96",  "160x120", "174x144", "208x160", "208x176", "240x180", "320x240", "400x300",
    "480x360", "512x384", "640x480", "768x576", "800x600", "1024x768", "1280x960",
    // The sizes of today's screens, for the H.264 format.
    "1280x720", "1920x1080", "2560x1440", "3840x2160"};
inline constexpr std::string_view VideoSizeDesignText = "320x240";

inline constexpr std::string_view QualityItems[] = {
    "0 (Highest Quality)", "1", "2", "3", "4", "5", "6 (Recommend)", "7", "8", "9", "10 (Lowest Quality)"};

// Frames per second as numerator:denominator. The window fills this list when it is built; the
// others are filled each time the window is shown.
inline constexpr std::string_view FrameRateItems[] = {"30:1", "25:1", "15:1"};

// Hertz; "as source" asks for no particular rate.
inline constexpr std::string_view SampleRateItems[] = {"as source", "8000", "11025", "22050", "44100"};

// Kilobits per second. The list is never shown; the Default command selects in it so that its
// change handler stores the bit rate the conversion reads.
inline constexpr std::string_view BitRateItems[] = {"192", "256", "384", "512", "640", "768", "900", "1200", "1500"};

std::span<const std::string_view> ChoiceItems(SettingsChoice choice);

// The up-down ranges of the two delay boxes, in whole seconds.
struct DelayRange {
  int Min, Max;
};
inline constexpr DelayRange PhotoDelayRange = {0, 3000};
inline constexpr DelayRange EffectDelayRange = {0, 100};

}  // namespace lumivor
