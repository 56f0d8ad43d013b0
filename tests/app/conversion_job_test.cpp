#include "app/conversion_job.h"

#include <gtest/gtest.h>

#include <fstream>
#include <string>

#include "support/scratch_folder.h"

namespace lumivor {
namespace {

TEST(ConversionJobOptions, WorkedExampleToTheCharacter) {
  EXPECT_EQ(FrameInputOptionText("30:1", "320x240"),
            "-f frameinput -input_type canvas -pix_fmt bgr24 -r 30/1 -s 320x240 -re");
  EXPECT_EQ(FrameInputOptionText("30:1", "320x240", false),
            "-f frameinput -input_type canvas -pix_fmt bgr24 -r 30/1 -s 320x240");

  OutputChoices choices;
  choices.FormatIndex = 0;
  choices.Stereo = true;
  choices.SampleRate = SampleRateOfEntry(4);
  choices.BitRate = 768;
  choices.FrameRateText = "30:1";
  choices.FrameSizeText = "320x240";
  EXPECT_EQ(OutputOptionText(choices),
            " -c:v mpeg4 -c:a aac -ac 2  -ar 44100 -b:v 768k -qscale 6  -r 30/1 -s 320x240");
}

TEST(ConversionJobOptions, EveryFormatChannelsAndRates) {
  struct Case {
    int format;
    bool stereo;
    int sampleRateEntry;
    const char* expected;
    const char* extension;
  };
  const Case cases[] = {
      {1, true, 0, " -c:a libmp3lame -ac 2  -ar 0 -b:v 900k -qscale 6  -r 25/1 -s 640x480", ".swf"},
      {2, false, 1, " -c:a libmp3lame -ac 1  -ar 8000 -b:v 900k -qscale 6  -r 25/1 -s 640x480", ".flv"},
      {3, true, 2, " -c:v wmv2 -c:a wmav2 -ac 2  -ar 11025 -b:v 900k -qscale 6  -r 25/1 -s 640x480", ".wmv"},
      {4, true, 3, " -c:v mpeg4 -c:a aac -ac 2  -ar 22050 -b:v 900k -qscale 6  -r 25/1 -s 640x480", ".mov"},
      {5, false, 4,
       " -pix_fmt yuv420p  -c:v libx264  -ac 1  -ar 44100 -b:v 900k -qscale 6  -r 25/1 -s 640x480", ".mkv"},
      // No selection: no codec options and no extension; setting the output then fails.
      {-1, true, 9, " -ac 2  -ar 0 -b:v 900k -qscale 6  -r 25/1 -s 640x480", nullptr},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.format);
    OutputChoices choices;
    choices.FormatIndex = c.format;
    choices.Stereo = c.stereo;
    choices.SampleRate = SampleRateOfEntry(c.sampleRateEntry);
    choices.BitRate = 900;
    choices.FrameRateText = "25:1";
    choices.FrameSizeText = "640x480";
    EXPECT_EQ(OutputOptionText(choices), c.expected);
    const OutputFormat* format = OutputFormatAt(c.format);
    if (c.extension == nullptr) {
      EXPECT_EQ(format, nullptr);
    } else {
      ASSERT_NE(format, nullptr);
      EXPECT_STREQ(format->Extension, c.extension);
      EXPECT_EQ(OutputFormatIndex(format->Entry), c.format);
    }
  }
}

TEST(ConversionJobOptions, FrameSizeText) {
  struct Case {
    const char* text;
    int width, height;
  };
  const Case cases[] = {
      {"320x240", 320, 240}, {"640", 320, 640},     {"x", 320, 320},        {"1280X960", 320, 320},
      {"abcx90", 320, 90},   {"174x144x2", 174, 320}, {" 160x120", 160, 120}, {"", 320, 320},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.text);
    const FrameSize size = ParseFrameSizeText(c.text);
    EXPECT_EQ(size.Width, c.width);
    EXPECT_EQ(size.Height, c.height);
  }
}

TEST(ConversionJobNaming, UniqueNamesCountUpPastTakenOnes) {
  testing::ScratchFolder folder;
  const auto touch = [](const std::string& name) { std::ofstream(name) << "x"; };

  EXPECT_EQ(UniqueOutputName(folder.Path(), "slideshow-", ".mp4"), folder / "slideshow-_(new).mp4");
  EXPECT_EQ(UniqueOutputName(folder.Path() + "/", "slideshow-song.mp3", ".mp4"), folder / "slideshow-song_(new).mp4");

  touch(folder / "slideshow-song_(new).mp4");
  EXPECT_EQ(UniqueOutputName(folder.Path(), "slideshow-song.mp3", ".mp4"), folder / "slideshow-song_(new_1).mp4");
  touch(folder / "slideshow-song_(new_1).mp4");
  EXPECT_EQ(UniqueOutputName(folder.Path(), "slideshow-song.mp3", ".mp4"), folder / "slideshow-song_(new_2).mp4");
  // Another extension is another name.
  EXPECT_EQ(UniqueOutputName(folder.Path(), "slideshow-song.mp3", ".mkv"), folder / "slideshow-song_(new).mkv");

  // A link whose target is gone still holds its name.
  std::filesystem::create_symlink(folder / "nowhere", folder / "slideshow-tempaudio-a_(new).mp4");
  EXPECT_EQ(UniqueOutputName(folder.Path(), "slideshow-tempaudio-a.mp3", ".mp4"),
            folder / "slideshow-tempaudio-a_(new_1).mp4");
}

}  // namespace
}  // namespace lumivor
