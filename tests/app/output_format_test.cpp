// The H.264/AAC format: its option text gives exactly its preset, and it was added without moving
// any entry a stored settings file points at.
#include <gtest/gtest.h>

#include <string>

#include "app/settings/choice_lists.h"
#include "app/run/conversion_job.h"
#include "app/run/run_request.h"
#include "app/settings/settings_page.h"

namespace lumivor {
namespace {

TEST(ModernOutputFormat, OptionTextIsThePresetWithoutBitRateOrQualityScale) {
  RunRequest request;
  request.FormatIndex = ModernFormatIndex;
  request.Stereo = true;
  request.SampleRate = 44100;
  request.BitRate = 1200;
  request.RateNumerator = 30;
  request.RateDenominator = 1;
  request.Width = 1920;
  request.Height = 1080;
  const std::string text = OutputOptionText(request);
  EXPECT_EQ(text,
            " -c:v libx264 -pix_fmt yuv420p -crf 20 -preset medium -c:a aac -b:a 192k -movflags +faststart"
            " -ac 2  -ar 44100 -r 30/1 -s 1920x1080");
  // Either would override the constant quality the preset is defined by.
  EXPECT_EQ(text.find("-qscale"), std::string::npos);
  EXPECT_EQ(text.find("-b:v"), std::string::npos);

  const OutputFormat* format = OutputFormatAt(ModernFormatIndex);
  ASSERT_NE(format, nullptr);
  EXPECT_STREQ(format->Entry, "mp4 (H.264/AAC)");
  EXPECT_STREQ(format->Extension, ".mp4");
  EXPECT_EQ(OutputFormatIndex("mp4 (H.264/AAC)"), ModernFormatIndex);
  // The described mp4 keeps its name and its codec.
  EXPECT_EQ(OutputFormatIndex("mp4"), 0);
}

TEST(ModernOutputFormat, AppendedSoStoredIndexesKeepTheirMeaning) {
  const std::string_view formats[] = {"mp4", "swf", "flv", "wmv", "mov", "mkv", "mp4 (H.264/AAC)"};
  ASSERT_EQ(std::size(FormatItems), std::size(formats));
  for (std::size_t i = 0; i < std::size(formats); ++i) EXPECT_EQ(FormatItems[i], formats[i]);

  ASSERT_EQ(std::size(VideoSizeItems), 19u);
  EXPECT_EQ(VideoSizeItems[6], "320x240");
  EXPECT_EQ(VideoSizeItems[14], "1280x960");
  const std::string_view added[] = {"1280x720", "1920x1080", "2560x1440", "3840x2160"};
  for (std::size_t i = 0; i < std::size(added); ++i) EXPECT_EQ(VideoSizeItems[15 + i], added[i]);

  const DefaultChoices* defaults = DefaultChoicesFor(ModernFormatIndex);
  ASSERT_NE(defaults, nullptr);
  EXPECT_EQ(VideoSizeItems[defaults->VideoSizeIndex], "1920x1080");
  EXPECT_EQ(SampleRateItems[defaults->SampleRateIndex], "44100");
  EXPECT_EQ(FrameRateItems[defaults->FrameRateIndex], "30:1");
  EXPECT_TRUE(defaults->Stereo);
}

}  // namespace
}  // namespace lumivor
