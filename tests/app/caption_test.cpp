#include "app/show/caption_art.h"

#include <gtest/gtest.h>
#include <zlib.h>

#include <algorithm>
#include <chrono>
#include <cstring>
#include <cstdlib>
#include <filesystem>
#include <optional>
#include <random>
#include <string>
#include <vector>

#include "app/photos/exif_date.h"
#include "app/photos/picture_file.h"
#include "app/run/conversion_job.h"
#include "app/run/run_request.h"
#include "app/run/show_project.h"
#include "app/samples/sample_pictures.h"
#include "app/show/frame_sequencer.h"
#include "app/window/main_window.h"
#include "exif_test_support.h"
#include "picture_test_support.h"
#include "run_test_support.h"
#include "support/scratch_folder.h"

namespace lumivor {
namespace {

// ------------------------------------------------------------------ Exif dates, written byte by byte

enum class Container { Jpeg, Png };

std::vector<std::uint8_t> photo_with_exif(Container container, const std::vector<std::uint8_t>& tiff) {
  const Bitmap picture = MakeSamplePicture(SamplePicture::Landscape, 64, 48);
  if (container == Container::Jpeg) return testing::EncodeJpeg(picture, testing::JpegKind::Colour, tiff.empty() ? tiff : testing::ExifBody(tiff));
  std::vector<std::uint8_t> png;
  std::string error;
  EXPECT_TRUE(EncodePng(picture, png, error)) << error;
  if (tiff.empty()) return png;
  // An eXIf chunk right after the header chunk (8 bytes of signature, 25 of IHDR).
  std::vector<std::uint8_t> chunk;
  const auto put32 = [&chunk](std::uint32_t v) {
    chunk.insert(chunk.end(), {std::uint8_t(v >> 24), std::uint8_t(v >> 16), std::uint8_t(v >> 8), std::uint8_t(v)});
  };
  put32(static_cast<std::uint32_t>(tiff.size()));
  chunk.insert(chunk.end(), {'e', 'X', 'I', 'f'});
  chunk.insert(chunk.end(), tiff.begin(), tiff.end());
  put32(static_cast<std::uint32_t>(crc32(0, chunk.data() + 4, static_cast<uInt>(chunk.size() - 4))));
  png.insert(png.begin() + 33, chunk.begin(), chunk.end());
  return png;
}

TEST(PhotoDates, TakenDateFromTheExifBlockOfJpegAndPng) {
  struct Case {
    const char* name;
    Container container;
    bool bigEndian;
    const char* original;
    const char* modified;
    std::optional<PhotoDate> expected;
  };
  const std::optional<PhotoDate> none;
  const Case cases[] = {
      {"taken, little-endian JPEG", Container::Jpeg, false, "2024:06:12 18:30:05", nullptr, PhotoDate{2024, 6, 12}},
      {"taken, big-endian JPEG", Container::Jpeg, true, "2024:06:12 18:30:05", nullptr, PhotoDate{2024, 6, 12}},
      {"taken wins over written", Container::Jpeg, false, "2019:12:31 23:59:59", "2024:01:02 10:00:00",
       PhotoDate{2019, 12, 31}},
      {"only written", Container::Jpeg, true, nullptr, "2021:03:04 05:06:07", PhotoDate{2021, 3, 4}},
      {"camera without a clock falls back", Container::Jpeg, false, "0000:00:00 00:00:00", "2020:02:29 08:00:00",
       PhotoDate{2020, 2, 29}},
      {"no such day", Container::Jpeg, false, "2023:02:29 08:00:00", nullptr, none},
      {"blanks", Container::Jpeg, false, "                   ", nullptr, none},
      {"no Exif at all", Container::Jpeg, false, nullptr, nullptr, none},
      {"PNG eXIf", Container::Png, false, "2024:06:12 18:30:05", nullptr, PhotoDate{2024, 6, 12}},
      {"PNG without", Container::Png, false, nullptr, nullptr, none},
  };
  testing::ScratchFolder folder;
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    const bool anyDate = c.original != nullptr || c.modified != nullptr;
    const std::vector<std::uint8_t> file =
        photo_with_exif(c.container, anyDate ? testing::DateTiff(c.original, c.modified, c.bigEndian) : std::vector<std::uint8_t>{});
    const std::string path = folder / "photo";
    ASSERT_TRUE(testing::WriteWholeFile(path, file));
    EXPECT_EQ(PhotoFileDate(path), c.expected);
    // The photo still decodes: the block was written where readers expect it.
    Bitmap picture;
    std::string error;
    EXPECT_TRUE(ReadPictureFile(path, picture, error)) << error;
  }
  EXPECT_EQ(PhotoFileDate(folder / "missing.jpg"), std::nullopt);
}

TEST(PhotoDates, NamedWithTheMonthInTheLocale) {
  struct Case {
    PhotoDate date;
    const char* expected;
  };
  const Case cases[] = {
      {{2024, 6, 12}, "12 June 2024"},
      {{1999, 1, 1}, "1 January 1999"},
      {{2020, 2, 29}, "29 February 2020"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.expected);
    EXPECT_EQ(FormatPhotoDate(c.date, "C"), c.expected);
    // A locale the machine does not have gives the C locale's names, not an empty caption.
    EXPECT_EQ(FormatPhotoDate(c.date, "xx_NOWHERE.UTF-8"), c.expected);
  }
}

// The environment's LC_ALL for the life of the object.
class LocaleFromEnvironment {
 public:
  explicit LocaleFromEnvironment(const char* value) {
    if (const char* old = std::getenv("LC_ALL")) saved_ = old;
    ::setenv("LC_ALL", value, 1);
  }
  ~LocaleFromEnvironment() {
    if (saved_) ::setenv("LC_ALL", saved_->c_str(), 1);
    else ::unsetenv("LC_ALL");
  }

 private:
  std::optional<std::string> saved_;
};

TEST(PhotoCaptions, OwnTextOrTheDateAndNothingForAPhotoWithoutOne) {
  testing::ScratchFolder folder;
  const std::string dated = folder / "dated.jpg", undated = folder / "undated.jpg", broken = folder / "broken.jpg";
  ASSERT_TRUE(testing::WriteWholeFile(dated, photo_with_exif(Container::Jpeg, testing::DateTiff("2024:06:12 09:00:00", nullptr, false))));
  ASSERT_TRUE(testing::WriteWholeFile(undated, photo_with_exif(Container::Jpeg, {})));
  ASSERT_TRUE(testing::WriteWholeFile(broken, {0xFF, 0xD8, 0xFF, 0xE1, 0x00}));
  const LocaleFromEnvironment english("C");

  RunRequest request;
  request.Photos = {dated, undated, broken, dated};
  struct Case {
    const char* name;
    CaptionRule rule;
    std::vector<std::optional<std::string>> own;
    std::vector<std::string> expected;
  };
  const Case cases[] = {
      {"no rule", CaptionRule::None, {}, {"", "", "", ""}},
      {"dates", CaptionRule::Date, {}, {"12 June 2024", "", "", "12 June 2024"}},
      {"own texts win, an empty one silences the date", CaptionRule::Date,
       {std::nullopt, std::string("Beach"), std::nullopt, std::string()}, {"12 June 2024", "Beach", "", ""}},
      {"own texts without the rule", CaptionRule::None, {std::string("Hello")}, {"Hello", "", "", ""}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    request.Captions = c.rule;
    request.PhotoCaptions = c.own;
    for (int i = 0; i < 4; ++i) EXPECT_EQ(PhotoCaptionText(request, i), c.expected[static_cast<std::size_t>(i)]) << i;
    EXPECT_EQ(PhotoCaptionText(request, 4), "");
    EXPECT_EQ(PhotoCaptionText(request, -1), "");
  }
}

// ------------------------------------------------------------------ drawing

// The frame's pixels that differ from black, as a bounding box (empty when none do).
Rect changed_area(const Bitmap& frame) {
  Rect box{frame.Width(), frame.Height(), 0, 0};
  for (int y = 0; y < frame.Height(); ++y) {
    for (int x = 0; x < frame.Width(); ++x) {
      if ((frame.Pixel(x, y) & 0xFFFFFF) == 0) continue;
      box = {std::min(box.Left, x), std::min(box.Top, y), std::max(box.Right, x + 1), std::max(box.Bottom, y + 1)};
    }
  }
  return box;
}

bool inside(const Rect& inner, const Rect& outer) {
  return inner.Left >= outer.Left && inner.Top >= outer.Top && inner.Right <= outer.Right && inner.Bottom <= outer.Bottom;
}

// Draws the caption where a show puts it and checks that it shows, white, inside the safe area.
void expect_caption_in_safe_area(const std::string& text, int width, int height) {
  const Bitmap caption = RenderCaption(text, width, height);
  ASSERT_FALSE(caption.IsEmpty());
  ASSERT_EQ(caption.BitsPerPixel(), 32);
  Bitmap frame(width, height, 24);
  frame.Fill(0);
  const Point at = CaptionPosition(caption, width, height);
  CompositeCaption(frame, caption, at.X, at.Y, 255);
  const Rect changed = changed_area(frame);
  ASSERT_FALSE(changed.IsEmpty()) << "nothing was drawn";
  const Rect safe = SafeArea(width, height);
  EXPECT_TRUE(inside(changed, safe)) << "drawn " << changed.Left << "," << changed.Top << "-" << changed.Right << ","
                                     << changed.Bottom << " outside the safe area";
  // In the lower part of the frame, where a caption belongs.
  EXPECT_GT(changed.Top, height / 2);
  int white = 0;
  for (int y = changed.Top; y < changed.Bottom; ++y)
    for (int x = changed.Left; x < changed.Right; ++x)
      if ((frame.Pixel(x, y) & 0xFF) > 200) ++white;
  EXPECT_GT(white, 20) << "no white text";
}

TEST(CaptionArt, ScriptsRenderInsideTheSafeArea) {
  struct Case {
    const char* name;
    const char* text;
    int width, height;
  };
  const Case cases[] = {
      {"Latin", "Summer at the lake", 640, 360},
      {"Arabic, right to left", "\u0645\u0631\u062D\u0628\u0627 \u0628\u0627\u0644\u0639\u0627\u0644\u0645", 640, 360},
      {"Hebrew, right to left", "\u05E9\u05DC\u05D5\u05DD \u05E2\u05D5\u05DC\u05DD", 320, 240},
      {"long text wraps", "A caption far longer than one line of a small frame can hold, so it wraps and is cut "
                          "after three lines with an ellipsis rather than running off the picture",
       320, 240},
      {"one word wider than the frame", "Pneumonoultramicroscopicsilicovolcanoconiosis", 160, 120},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    ASSERT_TRUE(FontsCoverText(c.text)) << "the machine has no font for it (fonts-dejavu-core)";
    expect_caption_in_safe_area(c.text, c.width, c.height);
  }
  // Nothing to draw: no picture at all.
  EXPECT_TRUE(RenderCaption("", 640, 360).IsEmpty());
  EXPECT_TRUE(RenderCaption(" \n ", 640, 360).IsEmpty());
  EXPECT_TRUE(RenderCaption("text", 0, 360).IsEmpty());
  // Bytes that are not UTF-8 are drawn as replacement marks, not refused.
  EXPECT_FALSE(RenderCaption("caf\xE9 \xFF", 640, 360).IsEmpty());
}

TEST(CaptionArt, CjkRendersInsideTheSafeArea) {
  const char* text = "\u6771\u4EAC\u306E\u590F";  // Tokyo's summer
  if (!FontsCoverText(text)) GTEST_SKIP() << "no CJK font is installed (fonts-wqy-microhei would give one)";
  expect_caption_in_safe_area(text, 640, 360);
}

// Emoji come in their own colours (a colour font's glyphs are kept as drawn, not whitened).
TEST(CaptionArt, EmojiRenderInTheirColours) {
  const char* text = "Birthday \U0001F382\U0001F389";  // a cake and a party popper
  if (!FontsCoverText(text)) GTEST_SKIP() << "no emoji font is installed (fonts-noto-color-emoji would give one)";
  expect_caption_in_safe_area(text, 640, 360);
  const Bitmap caption = RenderCaption(text, 640, 360);
  int coloured = 0;
  for (int y = 0; y < caption.Height(); ++y) {
    const std::uint8_t* p = caption.ScanLine(y);
    for (int x = 0; x < caption.Width(); ++x, p += 4) {
      const int most = std::max({p[0], p[1], p[2]}), least = std::min({p[0], p[1], p[2]});
      if (p[3] > 128 && most - least > 60) ++coloured;
    }
  }
  EXPECT_GT(coloured, 20) << "the emoji came out without their colours";
}

// The box of a caption's letters: its bright pixels, not the shadow's ground around them.
Rect letters_of(const Bitmap& caption) {
  Rect box{caption.Width(), caption.Height(), 0, 0};
  for (int y = 0; y < caption.Height(); ++y)
    for (int x = 0; x < caption.Width(); ++x)
      if ((caption.Pixel(x, y) & 0xFF) > 128)
        box = {std::min(box.Left, x), std::min(box.Top, y), std::max(box.Right, x + 1), std::max(box.Bottom, y + 1)};
  return box;
}

// Wide rows take the four-pixels-at-a-time path: every pixel, the leftover ones at a row's end
// included, is the rounded blend worked out here one by one, on 32- and 24-bit frames alike.
TEST(CaptionArt, WideCaptionsBlendEveryPixelExactly) {
  std::mt19937 generator(11);
  const auto byte = [&](int most) { return static_cast<int>(generator() % static_cast<unsigned>(most + 1)); };
  Bitmap caption(37, 3, 32);
  for (int y = 0; y < caption.Height(); ++y) {
    std::uint8_t* p = caption.ScanLine(y);
    for (int x = 0; x < caption.Width(); ++x, p += 4) {
      // Premultiplied: no colour above its cover; some pixels clear, some fully covered.
      const int alpha = x % 7 == 0 ? 0 : x % 5 == 0 ? 255 : byte(255);
      for (int c = 0; c < 3; ++c) p[c] = static_cast<std::uint8_t>(byte(alpha));
      p[3] = static_cast<std::uint8_t>(alpha);
    }
  }
  const auto round_255 = [](int x) { return (2 * x + 255) / 510; };
  for (const int depth : {32, 24}) {
    for (const int opacity : {255, 128, 77, 1}) {
      SCOPED_TRACE(std::to_string(depth) + " bits, opacity " + std::to_string(opacity));
      Bitmap frame(44, 5, depth);
      for (int y = 0; y < frame.Height(); ++y) {
        std::uint8_t* p = frame.ScanLine(y);
        for (int i = 0; i < frame.Width() * frame.BytesPerPixel(); ++i) p[i] = static_cast<std::uint8_t>(byte(255));
      }
      Bitmap before(frame.Width(), frame.Height(), depth);
      std::memcpy(before.Bits(), frame.Bits(), frame.ImageSize());
      CompositeCaption(frame, caption, 3, 1, opacity);
      for (int y = 0; y < frame.Height(); ++y) {
        for (int x = 0; x < frame.Width(); ++x) {
          const std::uint8_t* was = before.ScanLine(y) + x * frame.BytesPerPixel();
          const std::uint8_t* now = frame.ScanLine(y) + x * frame.BytesPerPixel();
          const bool under = x >= 3 && x < 40 && y >= 1 && y < 4;
          const std::uint8_t* over = under ? caption.ScanLine(y - 1) + 4 * (x - 3) : nullptr;
          for (int c = 0; c < frame.BytesPerPixel(); ++c) {
            int expected = was[c];
            if (under && c < 3) {
              const int alpha = round_255(over[3] * opacity);
              expected = std::min(255, round_255(over[c] * opacity) + round_255(was[c] * (255 - alpha)));
            }
            ASSERT_EQ(now[c], expected) << "pixel " << x << "," << y << " byte " << c;
          }
        }
      }
    }
  }
}

TEST(CaptionArt, CaptionScalesWithTheFrame) {
  const Rect small = letters_of(RenderCaption("Scale", 640, 360));
  const Rect large = letters_of(RenderCaption("Scale", 1920, 1080));
  ASSERT_FALSE(small.IsEmpty());
  ASSERT_FALSE(large.IsEmpty());
  // Three times the frame, three times the letters, give or take a pixel of the small one.
  EXPECT_NEAR(static_cast<double>(large.Height()) / small.Height(), 3.0, 0.3);
  EXPECT_NEAR(static_cast<double>(large.Width()) / small.Width(), 3.0, 0.3);
}

TEST(CaptionArt, CompositingBlendsByCoverAndOpacity) {
  // One premultiplied caption pixel: blue 100, green 60, red 20 at cover 200; beside it a clear one.
  Bitmap caption(2, 1, 32);
  std::uint8_t* p = caption.ScanLine(0);
  p[0] = 100, p[1] = 60, p[2] = 20, p[3] = 200;
  p[4] = 0, p[5] = 0, p[6] = 0, p[7] = 0;
  struct Case {
    int depth;
    int opacity;
    int blue, green, red;  // the blended pixel over grey 80
  };
  // out = colour * k + 80 * (255 - alpha * k) / 255, k = opacity / 255, each step rounded.
  const Case cases[] = {
      {24, 255, 100 + 17, 60 + 17, 20 + 17}, {32, 255, 117, 77, 37},
      {24, 128, 50 + 49, 30 + 49, 10 + 49},  {32, 128, 99, 79, 59},
      {24, 0, 80, 80, 80},                   {32, 0, 80, 80, 80},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(std::to_string(c.depth) + " bits, opacity " + std::to_string(c.opacity));
    Bitmap frame(4, 3, c.depth);
    frame.Fill(0x7B505050u);  // grey 80, fourth byte 0x7B
    CompositeCaption(frame, caption, 1, 2, c.opacity);
    const std::uint8_t* at = frame.ScanLine(2) + frame.BytesPerPixel();
    EXPECT_EQ(at[0], c.blue);
    EXPECT_EQ(at[1], c.green);
    EXPECT_EQ(at[2], c.red);
    if (c.depth == 32) {
      EXPECT_EQ(at[3], 0x7B) << "the fourth byte is the frame's";
    }
    // The clear pixel and every pixel off the caption are left alone.
    for (int y = 0; y < 3; ++y)
      for (int x = 0; x < 4; ++x)
        if (!(x == 1 && y == 2)) {
          EXPECT_EQ(frame.Pixel(x, y) & 0xFFFFFF, 0x505050u) << x << "," << y;
        }
  }
  // Partly or wholly off the frame: only what lies over it is drawn, nothing outside is touched.
  const Point places[] = {{-1, 0}, {3, 2}, {4, 0}, {0, 3}, {-2, -1}, {-100000, 5}};
  for (const Point& place : places) {
    SCOPED_TRACE(std::to_string(place.X) + "," + std::to_string(place.Y));
    Bitmap frame(4, 3, 24);
    frame.Fill(0x505050u);
    CompositeCaption(frame, caption, place.X, place.Y, 255);
    int changed = 0;
    for (int y = 0; y < 3; ++y)
      for (int x = 0; x < 4; ++x) changed += (frame.Pixel(x, y) & 0xFFFFFF) != 0x505050u;
    const bool visible = place.X >= 0 && place.X < 4 && place.Y >= 0 && place.Y < 3;
    EXPECT_EQ(changed, visible ? 1 : 0);
  }
}

TEST(CaptionArt, TitleCardIsAFrameWithCentredText) {
  struct Case {
    const char* title;
    const char* subtitle;
  };
  const Case cases[] = {{"Holidays", ""}, {"Holidays", "Summer 2024"}, {"", "Only a subtitle"}};
  for (const Case& c : cases) {
    SCOPED_TRACE(std::string(c.title) + "|" + c.subtitle);
    const Bitmap card = RenderTitleCard(c.title, c.subtitle, 640, 360);
    ASSERT_EQ(card.Width(), 640);
    ASSERT_EQ(card.Height(), 360);
    // Bright text, centred across and in the middle band of the frame.
    Rect text{640, 360, 0, 0};
    for (int y = 0; y < 360; ++y)
      for (int x = 0; x < 640; ++x)
        if ((card.Pixel(x, y) & 0xFF) > 200)
          text = {std::min(text.Left, x), std::min(text.Top, y), std::max(text.Right, x + 1), std::max(text.Bottom, y + 1)};
    ASSERT_FALSE(text.IsEmpty());
    EXPECT_NEAR((text.Left + text.Right) / 2.0, 320, 12);
    EXPECT_NEAR((text.Top + text.Bottom) / 2.0, 180, 30);
    EXPECT_TRUE(inside(text, SafeArea(640, 360)));
    // The backdrop is dark, and its fourth byte 0 as a photo's.
    EXPECT_LT(card.Pixel(2, 2) & 0xFF, 60u);
    EXPECT_EQ(card.Pixel(2, 2) >> 24, 0u);
  }
  const Bitmap both = RenderTitleCard("Holidays", "Summer 2024", 640, 360);
  const Bitmap alone = RenderTitleCard("Holidays", "", 640, 360);
  bool differs = false;
  for (int y = 0; y < 360 && !differs; ++y)
    for (int x = 0; x < 640 && !differs; ++x) differs = both.Pixel(x, y) != alone.Pixel(x, y);
  EXPECT_TRUE(differs) << "the subtitle was not drawn";
}

// ------------------------------------------------------------------ the show

class Recorder : public RunFace, public MessageBoxes, public LogMemo {
 public:
  void RunBegins() override {}
  void RunProgress(const TProgressInfo&, const std::string&, int) override {}
  void RunEnds(bool) override {}
  void RunFinished(const JobResult&) override {}
  MessageResult ShowMessage(const std::string& text, const std::string&, MessageIcon, MessageButtons) override {
    Messages.push_back(text);
    return MessageResult::Ok;
  }
  void AddLine(const std::string&) override {}
  std::vector<std::string> Messages;
};

// The system's temporary folder, for the life of the object, is the given one.
class TemporaryFolder {
 public:
  explicit TemporaryFolder(const std::string& folder) {
    if (const char* old = std::getenv("TMPDIR")) saved_ = old;
    ::setenv("TMPDIR", folder.c_str(), 1);
  }
  ~TemporaryFolder() {
    if (saved_) ::setenv("TMPDIR", saved_->c_str(), 1);
    else ::unsetenv("TMPDIR");
  }

 private:
  std::optional<std::string> saved_;
};

TEST(TitleCard, AddsAPicturesFramesToTheVideoAndLeavesNoFile) {
  testing::ScratchFolder folder;
  const std::string cards = folder / "temporary";
  std::filesystem::create_directory(cards);
  const TemporaryFolder temporary(cards);
  const std::string photo = folder / "photo.jpg";
  testing::WritePhoto(photo, 160, 120);

  struct Case {
    const char* title;
    const char* subtitle;
    bool sheet;
    int frames;
  };
  // 10 frames a second, a second's hold and transition: (pictures + 1) x 10 + pictures x 10 + 2.
  const Case cases[] = {
      {"", "", false, 32},
      {"Title", "", false, 52},
      {"Title", "Subtitle", false, 52},
      {"", "Subtitle", false, 52},
      {"Title", "", true, 0},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(std::string(c.title) + "|" + c.subtitle + (c.sheet ? " sheet" : ""));
    RunRequest request;
    request.Photos = {photo};
    request.FormatIndex = 0;  // MPEG-4 in MP4
    request.Width = 160;
    request.Height = 120;
    request.RateNumerator = 10;
    request.HoldSeconds = 1;
    request.TransitionSeconds = 1;
    request.Realtime = false;
    request.Preview = false;
    request.EffectOrder = {1};
    request.OutputFolder = folder.Path();
    request.Title = c.title;
    request.Subtitle = c.subtitle;
    if (c.sheet) request.PreviewSheetFile = folder / "sheet.png";
    EXPECT_EQ(ShowPictureCount(request), *c.title || *c.subtitle ? 2 : 1);

    Recorder face;
    JobResult result;
    std::int64_t showFrames = 0;
    {
      SlideshowRunner runner(face, face, face);
      ASSERT_TRUE(runner.Begin(request));
      result = runner.Wait();
      showFrames = runner.ShowFrames();
    }
    ASSERT_EQ(result.End, JobEnd::Finished) << result.ErrorText;
    EXPECT_TRUE(face.Messages.empty());
    if (!c.sheet) {
      EXPECT_EQ(showFrames, c.frames);
      const testing::DecodedVideo decoded = testing::DecodeVideoFile(result.OutputFile);
      ASSERT_TRUE(decoded.Opened);
      EXPECT_EQ(decoded.VideoFrames, c.frames);
      std::filesystem::remove(result.OutputFile);
    } else {
      // The sheet shows the card as the first picture: a second picture's label and hold.
      Bitmap sheet;
      std::string error;
      EXPECT_TRUE(ReadPictureFile(result.OutputFile, sheet, error)) << error;
    }
    // The card's file went with the run.
    EXPECT_TRUE(std::filesystem::is_empty(cards)) << "a title card file was left behind";
  }
}

// ------------------------------------------------------------------ captions on the show's frames

// Hold and transition lengths of the shows below, and where each part of a three-photo show
// begins: transition k brings photo k in (the last one goes to black), then photo k is held.
constexpr int ShowWidth = 320, ShowHeight = 240, ShowHold = 4, ShowTransition = 5;
constexpr int TransitionStart(int k) { return k * (ShowHold + ShowTransition); }
constexpr int HoldStart(int k) { return TransitionStart(k) + ShowTransition; }
// Three photos, the closing transition and two black frames.
constexpr int ShowFrames = 3 * (ShowHold + ShowTransition) + ShowTransition + 2;

// A sequencer over a photo list the test owns, with a fixed effect and seed so that two of them
// make the same frames.
struct CaptionedShow {
  std::vector<std::string> List;
  FrameSequencer Sequencer;

  explicit CaptionedShow(std::vector<std::string> photos) : List(std::move(photos)) {
    Sequencer.Photos = [this]() -> const std::vector<std::string>& { return List; };
  }
  void Reset() { Sequencer.ResetRun(ShowWidth, ShowHeight, ShowHold, ShowTransition, false, 7u, {1}); }
  Bitmap Read() {
    Bitmap canvas(ShowWidth, ShowHeight, 24);
    EXPECT_EQ(Sequencer.ReadFrameCanvas(canvas), 0);
    return canvas;
  }
  std::vector<Bitmap> ReadAll() {
    std::vector<Bitmap> frames;
    for (int i = 0; i < ShowFrames; ++i) frames.push_back(Read());
    Bitmap after(ShowWidth, ShowHeight, 24);
    EXPECT_EQ(Sequencer.ReadFrameCanvas(after), -1) << "the show is longer than planned";
    return frames;
  }
};

std::vector<std::string> write_three_photos(const testing::ScratchFolder& folder) {
  std::vector<std::string> photos;
  for (const char* name : {"one.jpg", "two.jpg", "three.jpg"}) {
    photos.push_back(folder / name);
    testing::WritePhoto(photos.back(), 200, 150);
  }
  return photos;
}

bool same_pixels(const Bitmap& a, const Bitmap& b) {
  if (a.Width() != b.Width() || a.Height() != b.Height()) return false;
  for (int y = 0; y < a.Height(); ++y)
    if (std::memcmp(a.ScanLine(y), b.ScanLine(y), static_cast<std::size_t>(a.Width()) * a.BytesPerPixel()) != 0)
      return false;
  return true;
}

// The box of the pixels in which two frames differ (empty when none do).
Rect differing_area(const Bitmap& a, const Bitmap& b) {
  Rect box{a.Width(), a.Height(), 0, 0};
  for (int y = 0; y < a.Height(); ++y)
    for (int x = 0; x < a.Width(); ++x)
      if ((a.Pixel(x, y) & 0xFFFFFF) != (b.Pixel(x, y) & 0xFFFFFF))
        box = {std::min(box.Left, x), std::min(box.Top, y), std::max(box.Right, x + 1), std::max(box.Bottom, y + 1)};
  return box;
}

// The opacity at which text's caption, laid where a show puts it over the plain frame, gives the
// captioned frame exactly; nothing when none does (another caption, a wrong place or no caption
// composited alone).
std::optional<int> caption_opacity(const Bitmap& plain, const Bitmap& captioned, const std::string& text) {
  const Bitmap caption = RenderCaption(text, plain.Width(), plain.Height());
  const Point at = CaptionPosition(caption, plain.Width(), plain.Height());
  // Outside the caption's box the frames must agree whatever the opacity.
  for (int y = 0; y < plain.Height(); ++y)
    for (int x = 0; x < plain.Width(); ++x) {
      const bool onCaption = x >= at.X && x < at.X + caption.Width() && y >= at.Y && y < at.Y + caption.Height();
      if (!onCaption && (plain.Pixel(x, y) & 0xFFFFFF) != (captioned.Pixel(x, y) & 0xFFFFFF)) return std::nullopt;
    }
  for (int opacity = 0; opacity <= 255; ++opacity) {
    Bitmap drawn(caption.Width(), caption.Height(), 24);
    for (int y = 0; y < caption.Height(); ++y)
      for (int x = 0; x < caption.Width(); ++x) drawn.SetPixel(x, y, plain.Pixel(at.X + x, at.Y + y));
    CompositeCaption(drawn, caption, 0, 0, opacity);
    bool equal = true;
    for (int y = 0; y < caption.Height() && equal; ++y)
      for (int x = 0; x < caption.Width() && equal; ++x)
        equal = (drawn.Pixel(x, y) & 0xFFFFFF) == (captioned.Pixel(at.X + x, at.Y + y) & 0xFFFFFF);
    if (equal) return opacity;
  }
  return std::nullopt;
}

// What a photo's caption must look like over its frames: absent outside them, fading in over its
// incoming transition, full in its hold, fading out over its outgoing one, and only ever inside
// the safe area.
void expect_caption_only_on_photo(const std::vector<Bitmap>& plain, const std::vector<Bitmap>& captioned, int photo,
                                  const std::string& text) {
  ASSERT_EQ(plain.size(), captioned.size());
  const int first = TransitionStart(photo), last = TransitionStart(photo + 1) + ShowTransition;  // past the end
  std::vector<int> opacity(plain.size(), -1);
  for (int f = 0; f < static_cast<int>(plain.size()); ++f) {
    SCOPED_TRACE("frame " + std::to_string(f));
    const Bitmap& a = plain[static_cast<std::size_t>(f)];
    const Bitmap& b = captioned[static_cast<std::size_t>(f)];
    if (f < first || f >= last) {
      EXPECT_TRUE(same_pixels(a, b)) << "a frame without the photo changed";
      continue;
    }
    const Rect changed = differing_area(a, b);
    if (!changed.IsEmpty()) {
      EXPECT_TRUE(inside(changed, SafeArea(ShowWidth, ShowHeight)))
          << "changed " << changed.Left << "," << changed.Top << "-" << changed.Right << "," << changed.Bottom;
    }
    const std::optional<int> found = caption_opacity(a, b, text);
    ASSERT_TRUE(found) << "the frame is not the plain one with the caption over it";
    opacity[static_cast<std::size_t>(f)] = *found;
  }
  for (int f = HoldStart(photo); f < TransitionStart(photo + 1); ++f) {
    EXPECT_EQ(opacity[static_cast<std::size_t>(f)], 255) << "hold frame " << f;
  }
  // Inside each transition the caption is partly there and moves one way only.
  for (int c = 1; c < ShowTransition; ++c) {
    const int in = opacity[static_cast<std::size_t>(first + c)];
    const int out = opacity[static_cast<std::size_t>(TransitionStart(photo + 1) + c)];
    EXPECT_GT(in, opacity[static_cast<std::size_t>(first + c - 1)]) << "fading in, frame " << first + c;
    EXPECT_LT(out, opacity[static_cast<std::size_t>(TransitionStart(photo + 1) + c - 1)]) << "fading out";
    EXPECT_TRUE(in > 0 && in < 255) << "incoming at " << in;
    EXPECT_TRUE(out > 0 && out < 255) << "outgoing at " << out;
  }
}

TEST(CaptionShow, APhotosCaptionChangesOnlyItsFramesFadingWithTheTransitions) {
  testing::ScratchFolder folder;
  const std::vector<std::string> photos = write_three_photos(folder);
  CaptionedShow plain(photos), captioned(photos);
  const std::string text = "The middle one";
  captioned.Sequencer.Captions.Text = [text](int index) { return index == 1 ? text : std::string(); };
  plain.Reset();
  captioned.Reset();
  const std::vector<Bitmap> plainFrames = plain.ReadAll();
  const std::vector<Bitmap> captionedFrames = captioned.ReadAll();
  expect_caption_only_on_photo(plainFrames, captionedFrames, 1, text);
  // Rendered once for the show, not once a frame; the photos without words cost no render.
  EXPECT_EQ(captioned.Sequencer.Captions.Renders(), 1);

  // Unset again, the same sequencer makes the plain frames.
  captioned.Sequencer.Captions.Text = nullptr;
  captioned.Reset();
  const std::vector<Bitmap> again = captioned.ReadAll();
  for (std::size_t f = 0; f < again.size(); ++f) EXPECT_TRUE(same_pixels(again[f], plainFrames[f])) << f;
}

TEST(CaptionShow, SeekThenReadEqualsReadingFromTheStart) {
  testing::ScratchFolder folder;
  CaptionedShow show(write_three_photos(folder));
  // A caption for every photo, each its own, so that a caption on the wrong photo shows.
  const std::vector<std::string> texts = {"First", "Second photo", "Third and last"};
  show.Sequencer.Captions.Text = [texts](int index) {
    return index >= 0 && index < 3 ? texts[static_cast<std::size_t>(index)] : std::string();
  };
  show.Reset();
  const std::vector<Bitmap> sequential = show.ReadAll();
  EXPECT_EQ(show.Sequencer.Captions.Renders(), 3);

  struct Case {
    const char* name;
    int frame;
  };
  // In an order that goes back and forth, so that what the layer kept from the last seek is wrong.
  const Case cases[] = {
      {"the second photo's hold", HoldStart(1) + 1},
      {"inside the first transition", 2},
      {"mid-way from the second to the third", TransitionStart(2) + 2},
      {"first frame of a transition", TransitionStart(1)},
      {"last frame of the closing transition", TransitionStart(3) + ShowTransition - 1},
      {"the first frame", 0},
      {"the tail", ShowFrames - 1},
      {"last frame of a hold", TransitionStart(2) - 1},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    show.Sequencer.SeekFrame(c.frame);
    // The frame sought and the few after it, across the next change of photo where there is one.
    for (int f = c.frame; f < std::min(c.frame + ShowTransition + 1, ShowFrames); ++f) {
      EXPECT_TRUE(same_pixels(show.Read(), sequential[static_cast<std::size_t>(f)])) << "frame " << f;
    }
  }
}

TEST(CaptionShow, DateRuleOfTheRunCaptionsOnlyTheDatedPhoto) {
  testing::ScratchFolder folder;
  const LocaleFromEnvironment english("C");
  RunRequest request;
  request.Photos = {folder / "undated.jpg", folder / "dated.jpg", folder / "undated.png"};
  ASSERT_TRUE(testing::WriteWholeFile(request.Photos[0], photo_with_exif(Container::Jpeg, {})));
  ASSERT_TRUE(testing::WriteWholeFile(request.Photos[1],
                                      photo_with_exif(Container::Jpeg, testing::DateTiff("2024:06:12 09:00:00", nullptr, false))));
  ASSERT_TRUE(testing::WriteWholeFile(request.Photos[2], photo_with_exif(Container::Png, {})));
  request.Width = ShowWidth;
  request.Height = ShowHeight;
  request.RateNumerator = 10;
  request.HoldSeconds = ShowHold / 10.0;
  request.TransitionSeconds = ShowTransition / 10.0;
  request.EffectOrder = {1};
  request.Seed = 7u;

  std::vector<Bitmap> frames[2];
  for (const CaptionRule rule : {CaptionRule::None, CaptionRule::Date}) {
    SCOPED_TRACE(std::string(CaptionRuleName(rule)));
    request.Captions = rule;
    CaptionedShow show(request.Photos);
    const ShowPacing pacing = PrepareSequencer(request, show.Sequencer);
    ASSERT_EQ(pacing.HoldFrames, ShowHold);
    ASSERT_EQ(pacing.TransitionFrames, ShowTransition);
    EXPECT_EQ(show.Sequencer.Captions.Active(), rule == CaptionRule::Date);
    frames[rule == CaptionRule::Date] = show.ReadAll();
  }
  expect_caption_only_on_photo(frames[0], frames[1], 1, "12 June 2024");
}

// ------------------------------------------------------------------ project files

TEST(CaptionProjects, WordsAreKeptAndShowsWithoutThemAreWrittenAsBefore) {
  testing::ScratchFolder folder;
  const std::string file = folder / "show.lumivor";
  ShowProject plain;
  plain.Photos = {{folder / "a.jpg", {}, std::nullopt}, {folder / "b.jpg", {}, std::nullopt}};
  ShowProject worded = plain;
  worded.Title = "Holidays";
  worded.Subtitle = "\u05E9\u05DC\u05D5\u05DD 2024";
  worded.Captions = CaptionRule::Date;
  worded.Photos[0].Caption = "At the beach";
  worded.Photos[1].Caption = "";

  struct Case {
    const char* name;
    const ShowProject& project;
    bool wordsInFile;
  };
  const Case cases[] = {{"plain", plain, false}, {"worded", worded, true}};
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    std::string error;
    ASSERT_TRUE(SaveShowProject(c.project, file, error)) << error;
    const std::vector<std::uint8_t> bytes = testing::ReadWholeFile(file);
    const std::string text(bytes.begin(), bytes.end());
    for (const char* key : {"\"title\"", "\"subtitle\"", "\"captions\"", "\"caption\""}) {
      EXPECT_EQ(text.find(key) != std::string::npos, c.wordsInFile) << key;
    }
    ShowProject loaded;
    ASSERT_TRUE(LoadShowProject(file, loaded, error)) << error;
    EXPECT_EQ(loaded, c.project);

    RunRequest request;
    ASSERT_TRUE(RequestFromProject(loaded, request, error)) << error;
    EXPECT_EQ(request.Title, c.project.Title);
    EXPECT_EQ(request.Captions, c.project.Captions);
    EXPECT_EQ(request.PhotoCaptions.empty(), !c.wordsInFile);
    if (c.wordsInFile) {
      EXPECT_EQ(PhotoCaptionText(request, 0), "At the beach");
      EXPECT_EQ(PhotoCaptionText(request, 1), "");
    }
  }

  // Values of the wrong kind are refused, naming them.
  struct Bad {
    const char* json;
    const char* named;
  };
  const Bad bad[] = {
      {R"({"lumivorProject": 1, "show": {"captions": "time"}})", "show.captions"},
      {R"({"lumivorProject": 1, "show": {"title": 5}})", "show.title"},
      {R"({"lumivorProject": 1, "photos": [{"file": "a.jpg", "caption": ["x"]}]})", "photos[0].caption"},
  };
  for (const Bad& b : bad) {
    SCOPED_TRACE(b.json);
    const std::string json = b.json;
    ASSERT_TRUE(testing::WriteWholeFile(file, std::vector<std::uint8_t>(json.begin(), json.end())));
    ShowProject loaded;
    std::string error;
    EXPECT_FALSE(LoadShowProject(file, loaded, error));
    EXPECT_NE(error.find(b.named), std::string::npos) << error;
  }
  // Words that are not UTF-8 cannot be kept: the save says so instead of failing halfway.
  ShowProject wrong = plain;
  wrong.Title = "caf\xE9";
  std::string error;
  EXPECT_FALSE(SaveShowProject(wrong, file, error));
  EXPECT_NE(error.find("title"), std::string::npos) << error;
}

}  // namespace
}  // namespace lumivor
