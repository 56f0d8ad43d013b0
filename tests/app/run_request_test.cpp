#include "app/run/run_request.h"

#include <gtest/gtest.h>

#include <optional>
#include <string>

#include "app/run/conversion_job.h"
#include "app/settings/settings_store.h"
#include "app/show/frame_sequencer.h"

namespace lumivor {
namespace {

TEST(RunRequestSize, ReadsWhatTheEngineReads) {
  struct Case {
    const char* text;
    std::optional<VideoSize> size;
  };
  const Case cases[] = {
      {"320x240", VideoSize{320, 240}},
      {"1280X720", VideoSize{1280, 720}},
      {"640x480 ", VideoSize{640, 480}},
      {"\t 160x120", VideoSize{160, 120}},
      {"640*480", VideoSize{640, 480}},
      {"hd720", VideoSize{1280, 720}},
      {" vga ", VideoSize{640, 480}},
      {"uhd2160", VideoSize{3840, 2160}},
      {"ntsc-film", VideoSize{352, 240}},
      // The engine's names are spelled in lower case only.
      {"HD720", std::nullopt},
      {"640", std::nullopt},
      {"x", std::nullopt},
      {"", std::nullopt},
      {"abcx90", std::nullopt},
      {"0x10", std::nullopt},
      {"640x-480", std::nullopt},
      {"640x480x2", std::nullopt},
      {"640x 480", std::nullopt},
      {"99999999999x10", std::nullopt},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(std::string("\"") + c.text + "\"");
    EXPECT_EQ(ParseVideoSize(c.text), c.size);
  }
  EXPECT_TRUE(FrameSizeInRange({8192, 1}));
  EXPECT_FALSE(FrameSizeInRange({8193, 10}));
  EXPECT_FALSE(FrameSizeInRange({10, 0}));
}

// The sequencer is sized from the request's numbers and the encoder's "-s" is written from the
// same numbers, so a size entered any way the engine accepts reaches both alike.
TEST(RunRequestSize, CanvasAndEncodedFrameAgree) {
  struct Case {
    const char* entered;
    const char* frame;
  };
  const Case cases[] = {{"hd720", "1280x720"}, {"1280X720", "1280x720"}, {"640x480 ", "640x480"}};
  for (const Case& c : cases) {
    SCOPED_TRACE(c.entered);
    MemorySettingsStore settings;
    settings.WriteString(settings_key::VideoSize, c.entered);
    RunRequest request;
    std::string errorText;
    ASSERT_TRUE(RequestFromSettings(settings, request, errorText)) << errorText;
    EXPECT_EQ(std::to_string(request.Width) + "x" + std::to_string(request.Height), c.frame);
    const std::string size = std::string(" -s ") + c.frame;
    EXPECT_NE(FrameInputOptionText(request).find(size), std::string::npos) << FrameInputOptionText(request);
    const std::string output = OutputOptionText(request);
    EXPECT_EQ(output.substr(output.size() - size.size()), size);
  }
}

TEST(RunRequestSettings, UnreadableStoredSizeIsRefusedByName) {
  for (const char* text : {"640", "big", "100000x120"}) {
    SCOPED_TRACE(text);
    MemorySettingsStore settings;
    settings.WriteString(settings_key::VideoSize, text);
    RunRequest request;
    request.Width = 17;
    std::string errorText;
    EXPECT_FALSE(RequestFromSettings(settings, request, errorText));
    EXPECT_EQ(errorText, std::string("Invalid frame size: ") + text);
    EXPECT_EQ(request.Width, 17) << "a refused file leaves the request as it was";
  }
}

// What one run asks of the engine survives being stored and read back: the settings file and the
// request are two spellings of the same choices.
TEST(RunRequestSettings, StoredAndReadBackGiveTheSameOptionTexts) {
  struct Case {
    const char* name;
    int format, width, height, numerator, denominator;
    bool stereo;
    int sampleRate, bitRate;
    double hold, transition;
    int sizeIndex;  // the window's list entry, -1 for a typed size
  };
  const Case cases[] = {
      {"listed entries", 0, 320, 240, 30, 1, true, 44100, 768, 5, 2, 6},
      {"typed size, mono, source rate", 3, 1000, 500, 25, 1, false, 0, 900, 8, 1, -1},
      {"h264 at 15:1", 6, 1920, 1080, 15, 1, true, 22050, 1200, 2.5, 0.5, 16},
      {"no format", -1, 128, 96, 30, 1, true, 8000, 192, 0, 0, 0},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    RunRequest stored;
    stored.FormatIndex = c.format;
    stored.Width = c.width;
    stored.Height = c.height;
    stored.RateNumerator = c.numerator;
    stored.RateDenominator = c.denominator;
    stored.Stereo = c.stereo;
    stored.SampleRate = c.sampleRate;
    stored.BitRate = c.bitRate;
    stored.HoldSeconds = c.hold;
    stored.TransitionSeconds = c.transition;
    stored.MusicEndRule = MusicEnd::Loop;
    stored.Screen = ScreenMode::Blur;
    stored.Motion = MotionKind::Zoom;
    stored.MotionStrength = 40;
    stored.AutoRotate = false;
    stored.OutputFolder = "/videos/mine";
    MemorySettingsStore settings;
    StoreRequestSettings(stored, settings);

    RunRequest read;
    std::string errorText;
    ASSERT_TRUE(RequestFromSettings(settings, read, errorText)) << errorText;
    EXPECT_EQ(FrameInputOptionText(read), FrameInputOptionText(stored));
    EXPECT_EQ(OutputOptionText(read), OutputOptionText(stored));
    EXPECT_EQ(read.FormatIndex, c.format);
    EXPECT_DOUBLE_EQ(read.HoldSeconds, c.hold);
    EXPECT_DOUBLE_EQ(read.TransitionSeconds, c.transition);
    EXPECT_EQ(read.MusicEndRule, MusicEnd::Loop);
    EXPECT_EQ(read.Screen, ScreenMode::Blur);
    EXPECT_EQ(read.Motion, MotionKind::Zoom);
    EXPECT_EQ(read.MotionStrength, 40);
    EXPECT_FALSE(read.AutoRotate);
    EXPECT_EQ(read.OutputFolder, "/videos/mine");
    // The window restores its lists by index; a typed size has none.
    EXPECT_EQ(settings.ReadInteger(settings_key::VideoSizeIndex, -5), c.sizeIndex);
    EXPECT_EQ(settings.ReadBool(settings_key::Mono, !c.stereo), !c.stereo);
  }
}

// A file that has only the window's list indexes (an older file, or one written before any size
// was typed) gives the entries those indexes name.
TEST(RunRequestSettings, IndexesAloneNameTheirEntries) {
  MemorySettingsStore settings;
  settings.WriteInteger(settings_key::VideoSizeIndex, 10);  // "640x480"
  settings.WriteInteger(settings_key::FrameRateIndex, 1);   // "25:1"
  RunRequest request;
  std::string errorText;
  ASSERT_TRUE(RequestFromSettings(settings, request, errorText)) << errorText;
  EXPECT_EQ(request.Width, 640);
  EXPECT_EQ(request.Height, 480);
  EXPECT_EQ(request.RateNumerator, 25);
  EXPECT_EQ(request.RateDenominator, 1);
}

// The scaler is kept between runs; a file without it, or with a word the program does not know,
// gets the smooth one, and the sequencer is handed what the request says.
TEST(RunRequestSettings, TheScalerIsStoredAndHandedToTheSequencer) {
  struct Case {
    const char* stored;  // nullptr: no key
    PictureScaler expected;
  };
  const Case cases[] = {
      {"nearest", PictureScaler::Nearest}, {"smooth", PictureScaler::Smooth}, {nullptr, PictureScaler::Smooth},
      {"Nearest", PictureScaler::Smooth},  {"cubic", PictureScaler::Smooth},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.stored ? c.stored : "missing");
    MemorySettingsStore settings;
    if (c.stored) settings.WriteString(settings_key::Scaler, c.stored);
    RunRequest read;
    read.Scaler = c.expected == PictureScaler::Smooth ? PictureScaler::Nearest : PictureScaler::Smooth;
    std::string errorText;
    ASSERT_TRUE(RequestFromSettings(settings, read, errorText)) << errorText;
    EXPECT_EQ(read.Scaler, c.expected);
    FrameSequencer fromRequest, fromSettings;
    fromRequest.Scaler = fromSettings.Scaler = c.expected == PictureScaler::Smooth ? PictureScaler::Nearest
                                                                                      : PictureScaler::Smooth;
    ApplyPictureSettings(read, fromRequest);
    ApplyPictureSettings(settings, fromSettings);
    EXPECT_EQ(fromRequest.Scaler, c.expected);
    EXPECT_EQ(fromSettings.Scaler, c.expected);

    MemorySettingsStore again;
    StoreRequestSettings(read, again);
    EXPECT_EQ(again.ReadString(settings_key::Scaler, ""), PictureScalerName(c.expected));
  }
}

}  // namespace
}  // namespace lumivor
