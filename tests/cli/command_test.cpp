// Runs the built lumivor program as a person or a script would, and checks what it prints,
// returns and writes.
#include <gtest/gtest.h>

#include <filesystem>

#include "app/photos/picture_file.h"
#include "app/picture_test_support.h"
#include "cli/cli_test_support.h"
#include "app/samples/sample_pictures.h"
#include "effects/effect.h"
#include "effects/random.h"

namespace lumivor {
namespace {

using testing::FileText;
using testing::FolderEntries;
using testing::Lines;
using testing::RunLumivor;
using testing::RunResult;
using testing::ScratchFolder;

// Blue, green and red equal everywhere. The fourth byte is left out: the picture files the
// program writes do not keep it.
bool SameColours(const Bitmap& a, const Bitmap& b) {
  if (a.Width() != b.Width() || a.Height() != b.Height()) return false;
  for (int y = 0; y < a.Height(); ++y)
    for (int x = 0; x < a.Width(); ++x)
      if ((a.Pixel(x, y) & 0xFFFFFF) != (b.Pixel(x, y) & 0xFFFFFF)) return false;
  return true;
}

Bitmap ReadBack(const std::string& name) {
  Bitmap picture;
  std::string error;
  EXPECT_TRUE(ReadPictureFile(name, picture, error)) << error;
  return picture;
}

TEST(EffectListTest, PrintsEveryEntryInTableOrder) {
  ScratchFolder folder;
  const RunResult run = RunLumivor(folder, {"effect", "--list"});
  ASSERT_EQ(run.ExitCode, 0) << run.Err;
  EXPECT_EQ(run.Err, "");
  const std::vector<std::string> lines = Lines(run.Out);
  ASSERT_EQ(lines.size(), 176u);
  for (int i = 0; i < EffectCount; ++i)
    EXPECT_EQ(lines[i], std::to_string(i + 1) + "\t" + EffectList[i].Name);
  const std::pair<int, const char*> rows[] = {
      {1, "Expand from right"},        {18, "Expand from bottom"},
      {33, "Expand from bottom"},      {76, "Unven shred from bottom"},
      {135, "Push and sqeeze down"},   {146, "Rectangles apear from left and disapear to right"},
      {169, "Dissolve"},               {176, "Slide out from top"},
  };
  for (const auto& [number, name] : rows) EXPECT_EQ(lines[number - 1], std::to_string(number) + "\t" + name);
}

TEST(EffectListTest, HelpPrintsTheUsage) {
  ScratchFolder folder;
  for (const char* option : {"--help", "-h"}) {
    SCOPED_TRACE(option);
    const RunResult run = RunLumivor(folder, {"effect", option});
    EXPECT_EQ(run.ExitCode, 0) << run.Err;
    EXPECT_EQ(run.Out.rfind("usage: lumivor effect --list\n", 0), 0u) << run.Out;
    EXPECT_EQ(run.Err, "");
  }
}

class EffectFrameTest : public ::testing::Test {
 protected:
  void SetUp() override {
    oldName_ = folder_ / "old.bmp";
    newName_ = folder_ / "new.bmp";
    Write(oldName_, MakeSamplePicture(SamplePicture::Landscape, 40, 30));
    Write(newName_, MakeSamplePicture(SamplePicture::Pattern, 40, 30));
    Write(folder_ / "small.bmp", MakeSamplePicture(SamplePicture::Pattern, 20, 30));
    ASSERT_TRUE(testing::WriteWholeFile(folder_ / "garbage.bmp", {'B', 'M', 1, 2, 3}));
  }

  void Write(const std::string& name, const Bitmap& picture) {
    std::string error;
    ASSERT_TRUE(WritePictureFile(name, picture, error)) << error;
  }

  // A frame made by the program, read back (PNG through libpng).
  Bitmap Frame(const std::vector<std::string>& arguments, const std::string& outName = "frame.bmp") {
    std::vector<std::string> all = {"effect"};
    all.insert(all.end(), arguments.begin(), arguments.end());
    for (const std::string& option : {std::string("--from"), oldName_, std::string("--to"), newName_,
                                      std::string("--out"), folder_ / outName})
      all.push_back(option);
    const RunResult run = RunLumivor(folder_, all);
    EXPECT_EQ(run.ExitCode, 0) << run.Err;
    EXPECT_EQ(run.Err, "");
    if (OutputFormatForName(outName) == PictureFormat::Png)
      return testing::DecodePng(testing::ReadWholeFile(folder_ / outName));
    return ReadBack(folder_ / outName);
  }

  ScratchFolder folder_;
  std::string oldName_, newName_;
};

TEST_F(EffectFrameTest, EndsOfTheTransitionShowTheWholePictures) {
  const Bitmap oldPicture = ReadBack(oldName_), newPicture = ReadBack(newName_);
  for (const char* effect : {"1", "119", "169", "176"}) {
    SCOPED_TRACE(effect);
    EXPECT_TRUE(SameColours(Frame({effect, "--progress", "0"}), oldPicture));
    EXPECT_TRUE(SameColours(Frame({effect, "--progress", "100"}), newPicture));
    // A name ending in .png in any letter case chooses PNG.
    EXPECT_TRUE(SameColours(Frame({effect, "--progress", "100"}, "frame.Png"), newPicture));
  }
}

TEST_F(EffectFrameTest, ComposesExactlyAsTheCallerWithTheGivenSeeds) {
  const Bitmap oldPicture = ReadBack(oldName_);
  Bitmap newPicture = ReadBack(newName_);
  // 169 draws from the source seed, 124 from the shared sequence.
  struct Case {
    int Effect, Progress;
    std::uint32_t SourceSeed, RandomSeed;
  };
  const Case cases[] = {{169, 40, 12345, 0}, {169, 40, 4294967295u, 0}, {124, 60, 7, 99}, {124, 60, 7, 4000000000u}};
  std::vector<Bitmap> frames;
  for (const auto& c : cases) {
    SCOPED_TRACE(c.Effect);
    const Bitmap made = Frame({std::to_string(c.Effect), "--progress", std::to_string(c.Progress), "--source-seed",
                               std::to_string(c.SourceSeed), "--random-seed", std::to_string(c.RandomSeed)});
    newPicture.SetSourceSeed(c.SourceSeed);
    RandomSeed = c.RandomSeed;
    Bitmap expected;
    ComposeTransitionFrame(expected, oldPicture, newPicture, c.Effect, c.Progress);
    EXPECT_TRUE(SameColours(made, expected));
    frames.push_back(std::move(expected));
  }
  EXPECT_FALSE(SameColours(frames[0], frames[1])) << "--source-seed did not reach the effect";
  EXPECT_FALSE(SameColours(frames[2], frames[3])) << "--random-seed did not reach the effect";
}

TEST_F(EffectFrameTest, ReadsJpegPictures) {
  ASSERT_TRUE(testing::WriteWholeFile(folder_ / "new.jpg", testing::EncodeJpeg(ReadBack(newName_))));
  const RunResult run = RunLumivor(folder_, {"effect", "5", "--progress", "100", "--from", oldName_, "--to",
                                             folder_ / "new.jpg", "--out", folder_ / "frame.bmp"});
  ASSERT_EQ(run.ExitCode, 0) << run.Err;
  EXPECT_EQ(ReadBack(folder_ / "frame.bmp").Width(), 40);
}

TEST_F(EffectFrameTest, ErrorsPrintOneLineExitTwoAndWriteNothing) {
  const std::string out = folder_ / "out.bmp";
  ASSERT_TRUE(testing::WriteWholeFile(out, {'k', 'e', 'e', 'p'}));
  const std::vector<std::string> before = FolderEntries(folder_.Path());
  const std::string o = oldName_, n = newName_;
  struct Case {
    std::vector<std::string> Arguments;
    const char* ExpectedText;
  };
  const Case cases[] = {
      {{"effect", "177", "--progress", "50", "--from", o, "--to", n, "--out", out}, "unknown effect number \"177\""},
      {{"effect", "0", "--progress", "50", "--from", o, "--to", n, "--out", out}, "unknown effect number"},
      {{"effect", "x", "--progress", "50", "--from", o, "--to", n, "--out", out}, "unknown effect number"},
      {{"effect", "1", "--progress", "101", "--from", o, "--to", n, "--out", out}, "bad progress \"101\""},
      {{"effect", "1", "--progress", "-1", "--from", o, "--to", n, "--out", out}, "bad progress"},
      {{"effect", "1", "--progress", "5.5", "--from", o, "--to", n, "--out", out}, "bad progress"},
      {{"effect", "1", "--from", o, "--to", n, "--out", out}, "missing --progress"},
      {{"effect", "1", "--progress", "50", "--to", n, "--out", out}, "missing --from"},
      {{"effect", "1", "--progress", "50", "--from", o, "--to", n}, "missing --out"},
      {{"effect", "--progress", "50", "--from", o, "--to", n, "--out", out}, "missing effect number"},
      {{"effect"}, "missing arguments"},
      {{"effect", "1", "--progress", "50", "--from", o, "--to", n, "--out", out, "--source-seed", "4294967296"},
       "--source-seed"},
      {{"effect", "1", "--progress", "50", "--from", o, "--to", n, "--out", out, "--random-seed", "-3"},
       "--random-seed"},
      {{"effect", "1", "--progress", "50", "--from", o, "--to", n, "--out", out, "--speed", "2"}, "unknown option"},
      {{"effect", "1", "--progress", "50", "--from", o, "--to", n, "--out"}, "--out needs a value"},
      {{"effect", "1", "--progress", "50", "--progress", "60", "--from", o, "--to", n, "--out", out}, "given twice"},
      {{"effect", "1", "--progress", "50", "--from", folder_ / "none.bmp", "--to", n, "--out", out}, "none.bmp"},
      {{"effect", "1", "--progress", "50", "--from", folder_ / "garbage.bmp", "--to", n, "--out", out},
       "garbage.bmp"},
      {{"effect", "1", "--progress", "50", "--from", o, "--to", folder_ / "small.bmp", "--out", out}, "differ in size"},
      {{"effect", "1", "--progress", "50", "--from", o, "--to", n, "--out", folder_ / "no/dir/out.bmp"},
       "cannot write"},
      {{"effect", "1", "--progress", "50", "--from", o, "--to", n, "--out", folder_.Path()}, "cannot write"},
      {{"effect", "--list", "--progress", "50"}, "--list"},
      {{"effect", "--sheet", out, "--from", o}, "--from and --to"},
      {{"effect", "--sheet", out, "--effects", "0-3"}, "bad --effects item \"0-3\""},
      {{"effect", "--sheet", out, "--effects", "9-2"}, "bad --effects"},
      {{"effect", "--sheet", out, "--effects", "1,,2"}, "bad --effects"},
      {{"effect", "--sheet", out, "--size", "160"}, "bad --size"},
      {{"effect", "--sheet", out, "--size", "0x10"}, "bad --size"},
      {{"effect", "--sheet", out, "--progress", "5"}, "does not go with --sheet"},
      {{"nonsense"}, "unknown command"},
  };
  for (const auto& c : cases) {
    std::string shown;
    for (const auto& word : c.Arguments) shown += word + " ";
    SCOPED_TRACE(shown);
    const RunResult run = RunLumivor(folder_, c.Arguments);
    EXPECT_EQ(run.ExitCode, 2);
    EXPECT_EQ(run.Out, "");
    EXPECT_NE(run.Err.find(c.ExpectedText), std::string::npos) << run.Err;
    if (c.Arguments[0] == "effect") {
      EXPECT_EQ(Lines(run.Err).size(), 1u) << run.Err;
    }
    EXPECT_EQ(FolderEntries(folder_.Path()), before);
    EXPECT_EQ(FileText(out), "keep");
  }
}

TEST_F(EffectFrameTest, ContactSheetHasARowPerEffect) {
  auto sheet = [&](const std::vector<std::string>& extra) {
    std::vector<std::string> arguments = {"effect", "--sheet", folder_ / "sheet.png", "--size", "16x12"};
    arguments.insert(arguments.end(), extra.begin(), extra.end());
    const RunResult run = RunLumivor(folder_, arguments);
    EXPECT_EQ(run.ExitCode, 0) << run.Err;
    return testing::DecodePng(testing::ReadWholeFile(folder_ / "sheet.png"));
  };
  const Bitmap one = sheet({"--effects", "7"});
  const Bitmap three = sheet({"--effects", "5-6,176", "--from", oldName_, "--to", newName_});
  ASSERT_FALSE(one.IsEmpty());
  EXPECT_GT(one.Width(), 5 * 16);
  EXPECT_EQ(three.Width(), one.Width());
  EXPECT_GT(three.Height() - one.Height(), 2 * 12);
  EXPECT_EQ((three.Height() - one.Height()) % 2, 0) << "rows of unequal height";
}

}  // namespace
}  // namespace lumivor
