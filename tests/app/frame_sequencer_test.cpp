#include "app/show/frame_sequencer.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdint>
#include <filesystem>
#include <functional>
#include <string>
#include <vector>

#include "app/photos/picture_file.h"
#include "app/run/conversion_job.h"
#include "app/picture_test_support.h"
#include "effects/effect.h"
#include "effects/random.h"
#include "support/scratch_folder.h"

namespace lumivor {
namespace {

using testing::EncodeJpeg;
using testing::ReadWholeFile;
using testing::ScratchFolder;
using testing::WriteBmpPhoto;
using testing::WriteWholeFile;

constexpr std::uint32_t Black = 0;

// Every pixel of a photo differs from its neighbours and from black, so a misplaced row or column
// or a missing picture shows in the comparison.
Bitmap MakePhoto(int width, int height) {
  Bitmap photo(width, height, 32);
  for (int y = 0; y < height; ++y)
    for (int x = 0; x < width; ++x)
      photo.SetPixel(x, y, static_cast<std::uint32_t>(((x * 7 + 1) & 0xFF) | (((y * 11 + 3) & 0xFF) << 8) |
                                                      (((x + y + 5) & 0xFF) << 16)));
  return photo;
}

Bitmap Solid(int width, int height, std::uint32_t colour) {
  Bitmap picture(width, height, 32);
  picture.Fill(colour);
  return picture;
}

Bitmap WithSourceSeed(const Bitmap& picture, std::uint32_t seed) {
  Bitmap copy;
  copy.Assign(picture);
  copy.SetSourceSeed(seed);
  return copy;
}

// The frame the transition contract gives for old -> new at this progress.
Bitmap Composed(int effect, int progress, const Bitmap& oldPicture, const Bitmap& newPicture) {
  Bitmap frame;
  ComposeTransitionFrame(frame, oldPicture, newPicture, effect, progress);
  return frame;
}

// Colour-by-colour comparison of a served canvas (24- or 32-bit) with a 32-bit picture; the
// fourth byte is not part of a video frame.
::testing::AssertionResult SameFrame(const Bitmap& canvas, const Bitmap& expected) {
  if (canvas.Width() != expected.Width() || canvas.Height() != expected.Height())
    return ::testing::AssertionFailure() << "sizes differ";
  for (int y = 0; y < canvas.Height(); ++y)
    for (int x = 0; x < canvas.Width(); ++x)
      if ((canvas.Pixel(x, y) & 0xFFFFFF) != (expected.Pixel(x, y) & 0xFFFFFF))
        return ::testing::AssertionFailure() << "first difference at (" << x << ", " << y << "): " << std::hex
                                             << (canvas.Pixel(x, y) & 0xFFFFFF) << " instead of "
                                             << (expected.Pixel(x, y) & 0xFFFFFF);
  return ::testing::AssertionSuccess();
}

class RecordingLog : public LogMemo {
 public:
  void AddLine(const std::string& line) override { Lines.push_back(line); }
  std::vector<std::string> Lines;
};

// A sequencer wired to a photo list the test owns.
struct Slideshow {
  std::vector<std::string> List;
  bool BreakBox = false;
  FrameSequencer Sequencer;

  Slideshow() {
    Sequencer.Photos = [this]() -> const std::vector<std::string>& { return List; };
    Sequencer.BreakWhenNoPictures = [this] { return BreakBox; };
  }
};

TEST(FrameTimingTest, FrameRateAndDelayTextsAndFrameCounts) {
  struct RateCase {
    const char* Text;
    int Numerator, Denominator;
  };
  const RateCase rates[] = {
      {"30:1", 30, 1},   {"30000:1001", 30000, 1001}, {"25", 25, 1},   {"abc:2", 30, 2}, {"24:x", 24, 1},
      {"", 30, 1},       {":", 30, 1},                {" 15 : 2 ", 15, 2}, {"12:5:1", 12, 1}, {"99999999999:1", 30, 1},
  };
  for (const auto& c : rates) {
    SCOPED_TRACE(c.Text);
    const FrameRateParts parts = ParseFrameRateText(c.Text);
    EXPECT_EQ(parts.Numerator, c.Numerator);
    EXPECT_EQ(parts.Denominator, c.Denominator);
  }

  struct DelayCase {
    const char* Text;
    double Seconds;
  };
  const DelayCase delays[] = {{"5", 5.0},   {"2.5", 2.5}, {" 0.25 ", 0.25}, {"abc", 2.0}, {"", 2.0},
                              {"nan", 2.0}, {"inf", 2.0}, {"1,5", 2.0},     {"3x", 2.0},  {"-1", -1.0}};
  for (const auto& c : delays) {
    SCOPED_TRACE(c.Text);
    EXPECT_EQ(ParseDelayText(c.Text), c.Seconds);
  }

  struct CountCase {
    FrameRateParts Rate;
    double Delay;
    int Frames;
  };
  const CountCase counts[] = {
      {{30, 1}, 5, 150}, {{30, 1}, 2, 60},   {{1, 1}, 2.5, 2},        {{1, 1}, 3.5, 4},  {{5, 2}, 1, 2},
      {{30, 1}, 0, 1},   {{30, 1}, -1, 1},   {{30000, 1001}, 2, 60},  {{30, 0}, 2, 1},   {{1, 3}, 1, 1},
  };
  for (const auto& c : counts) {
    SCOPED_TRACE(std::to_string(c.Rate.Numerator) + ":" + std::to_string(c.Rate.Denominator) + " for " +
                 std::to_string(c.Delay));
    EXPECT_EQ(CountFrames(c.Rate, c.Delay), c.Frames);
  }
}

TEST(FrameTimingTest, FitRectCentresThePictureOnTheAxisItDoesNotFill) {
  struct Case {
    int PictureWidth, PictureHeight, FrameWidth, FrameHeight;
    Rect Expected;
  };
  const Case cases[] = {
      {640, 480, 320, 240, {0, 0, 320, 240}},    // same aspect, reduced: fills exactly
      {16, 12, 320, 240, {0, 0, 320, 240}},      // same aspect, enlarged
      {300, 400, 320, 240, {70, 0, 250, 240}},   // portrait: bars left and right
      {400, 100, 320, 240, {0, 80, 320, 160}},   // wide: bars above and below
      {10, 5, 10, 10, {0, 2, 10, 8}},            // margin 2.5 rounds to even 2
      {10, 7, 10, 10, {0, 2, 10, 8}},            // margin 1.5 rounds to even 2
      {0, 7, 10, 10, {0, 0, 10, 10}},            // no picture: nothing to divide by
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(std::to_string(c.PictureWidth) + "x" + std::to_string(c.PictureHeight) + " in " +
                 std::to_string(c.FrameWidth) + "x" + std::to_string(c.FrameHeight));
    EXPECT_EQ(FitRect(c.PictureWidth, c.PictureHeight, c.FrameWidth, c.FrameHeight), c.Expected);
  }
}

// One photo at "30:1" held 5 seconds with 2-second transitions: an opening transition from black
// (effect 1), the held photo, a closing transition to black (effect 2), two black frames, the end.
TEST(FrameSequencerTest, OnePhotoStreamHasEveryFrameInItsPlace) {
  ScratchFolder folder;
  // 30 pixels of 24 bits leave two bytes of row padding in the canvas.
  constexpr int W = 30, H = 20;
  const Bitmap photo = MakePhoto(W, H);
  Slideshow show;
  show.List = {WriteBmpPhoto(folder, "photo.bmp", photo)};
  RecordingLog log;
  show.Sequencer.Log = &log;
  const FrameRateParts rate = ParseFrameRateText("30:1");
  show.Sequencer.ResetRun(W, H, CountFrames(rate, ParseDelayText("5")), CountFrames(rate, ParseDelayText("2")), false);
  ASSERT_EQ(show.Sequencer.HoldFrames(), 150);
  ASSERT_EQ(show.Sequencer.TransitionFrames(), 60);

  const Bitmap black = Solid(W, H, Black);
  Bitmap canvas(W, H, 24);
  show.Sequencer.ReadHeader();
  for (int i = 0; i < 272; ++i) {
    SCOPED_TRACE("frame " + std::to_string(i));
    ASSERT_EQ(show.Sequencer.ReadFrameCanvas(canvas), 0);
    if (i < 60)
      ASSERT_TRUE(SameFrame(canvas, Composed(1, i * 100 / 60, black, photo)));
    else if (i < 210)
      ASSERT_TRUE(SameFrame(canvas, photo));
    else if (i < 270)
      ASSERT_TRUE(SameFrame(canvas, Composed(2, (i - 210) * 100 / 60, photo, black)));
    else
      ASSERT_TRUE(SameFrame(canvas, black));
  }
  EXPECT_EQ(show.Sequencer.ReadFrameCanvas(canvas), -1);
  EXPECT_EQ(show.Sequencer.ReadFrameCanvas(canvas), -1);
  show.Sequencer.ReadClose();
  EXPECT_EQ(log.Lines, (std::vector<std::string>{"FrameInput read header", "FrameInput read close"}));
}


// Runs the stream to its end and lists the effect each transition was composed with.
std::vector<int> EffectsOfTheRun(Slideshow& show, int width, int height) {
  std::vector<int> effects;
  Bitmap canvas(width, height, 24);
  for (int guard = 0; guard < 100000; ++guard) {
    const bool transitionStarts = show.Sequencer.PhotoIndex() < static_cast<int>(show.List.size()) &&
                                  show.Sequencer.InTransition() && show.Sequencer.TransitionCounter() == 0;
    const int effect = show.Sequencer.EffectNumber();
    if (show.Sequencer.ReadFrameCanvas(canvas) < 0) return effects;
    if (transitionStarts) effects.push_back(effect);
  }
  ADD_FAILURE() << "the stream does not end";
  return effects;
}

// Effect 65 (an uneven shred) draws from the shared generator on every call, so a moved
// RandomSeed shows that the effect ran for that frame.
TEST(FrameSequencerTest, TransitionFramesComposeOnlyWhenTheProgressValueChanges) {
  ScratchFolder folder;
  constexpr int W = 16, H = 12;
  const Bitmap photo = MakePhoto(W, H);
  const Bitmap black = Solid(W, H, Black);
  for (const int T : {1, 2, 150}) {
    SCOPED_TRACE("TransitionFrames " + std::to_string(T));
    Slideshow show;
    show.List = {WriteBmpPhoto(folder, "photo.bmp", photo)};
    show.Sequencer.ResetRun(W, H, 1, T, false, std::nullopt, {65});
    Bitmap canvas(W, H, 24);
    int effectCalls = 0;
    // Opening transition, one held frame, closing transition: frames of a transition are checked
    // against the progress rule, the first of each against the picture it starts from.
    for (int i = 0; i < 2 * T + 1; ++i) {
      SCOPED_TRACE("frame " + std::to_string(i));
      const std::uint32_t seedBefore = RandomSeed;
      ASSERT_EQ(show.Sequencer.ReadFrameCanvas(canvas), 0);
      const bool composed = RandomSeed != seedBefore;
      effectCalls += composed;
      if (i == T) {
        EXPECT_FALSE(composed);
        EXPECT_TRUE(SameFrame(canvas, photo));
        continue;
      }
      const int k = i < T ? i : i - T - 1;
      const int progress = k * 100 / T;
      const bool changed = k == 0 || progress != (k - 1) * 100 / T;
      EXPECT_EQ(composed, changed && progress > 0);
      if (k == 0) {
        EXPECT_TRUE(SameFrame(canvas, i < T ? black : photo));
      }
    }
    // 1..99 once each at 150 frames, 50 alone at 2, nothing at 1.
    EXPECT_EQ(effectCalls, T == 150 ? 2 * 99 : T == 2 ? 2 : 0);
    for (int i = 0; i < 2; ++i) {
      ASSERT_EQ(show.Sequencer.ReadFrameCanvas(canvas), 0);
      EXPECT_TRUE(SameFrame(canvas, black));
    }
    EXPECT_EQ(show.Sequencer.ReadFrameCanvas(canvas), -1);
  }
}

TEST(FrameSequencerTest, PhotosAreFittedOnBlackWhateverTheirFormatAndShape) {
  ScratchFolder folder;
  constexpr int W = 32, H = 24;
  struct Case {
    const char* Name;
    bool Jpeg;
    int PhotoWidth, PhotoHeight;
    Rect Placed;
    int CanvasBits;
  };
  const Case cases[] = {
      {"portrait.BMP", false, 12, 24, {10, 0, 22, 24}, 24},  // bars left and right
      {"same.jpg", true, 32, 24, {0, 0, 32, 24}, 32},        // the frame's aspect: no bars
      {"wide.Jpeg", true, 32, 8, {0, 8, 32, 16}, 24},        // bars above and below
      {"photo.bMp", false, 32, 24, {0, 0, 32, 24}, 24},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.Name);
    const Bitmap picture = MakePhoto(c.PhotoWidth, c.PhotoHeight);
    const std::string path = folder / c.Name;
    if (c.Jpeg) {
      ASSERT_TRUE(WriteWholeFile(path, EncodeJpeg(picture)));
    } else {
      WriteBmpPhoto(folder, c.Name, picture);
    }
    // What the file holds, decoded by content, independently of the sequencer's choice of reader.
    Bitmap decoded;
    std::string error;
    ASSERT_TRUE(ReadPictureFile(path, decoded, error)) << error;
    Bitmap expected = Solid(W, H, Black);
    CopyRect(expected, c.Placed.Left, c.Placed.Top, c.Placed.Width(), c.Placed.Height(), decoded, 0, 0);

    Slideshow show;
    show.List = {path};
    show.Sequencer.ResetRun(W, H, 1, 1, false);
    Bitmap canvas(W, H, c.CanvasBits);
    ASSERT_EQ(show.Sequencer.ReadFrameCanvas(canvas), 0);  // the opening transition: black
    EXPECT_TRUE(SameFrame(canvas, Solid(W, H, Black)));
    ASSERT_EQ(show.Sequencer.ReadFrameCanvas(canvas), 0);  // the held photo
    EXPECT_TRUE(SameFrame(canvas, expected));
  }
}

// In turn, the effects continue from run to run; after effect 176 comes effect 1. Every
// transition's middle frame is checked against the effect it should have been composed with.
TEST(FrameSequencerTest, EffectsInTurnContinueAcrossRunsAndWrapAfterTheLast) {
  ScratchFolder folder;
  constexpr int W = 16, H = 12;
  Slideshow show;
  const Bitmap photo = MakePhoto(W, H);
  show.List = {WriteBmpPhoto(folder, "photo.bmp", photo)};
  Bitmap canvas(W, H, 24);
  int transition = 0;
  for (int run = 0; run < (EffectCount + 2) / 2; ++run) {
    SCOPED_TRACE("run " + std::to_string(run));
    show.Sequencer.ResetRun(W, H, 1, 2, false);
    const std::uint32_t sourceSeed = show.Sequencer.ToBitmap().SourceSeed();
    const Bitmap black = WithSourceSeed(Solid(W, H, Black), sourceSeed);
    const Bitmap fitted = WithSourceSeed(photo, sourceSeed);
    // Opening: black -> photo; closing: photo -> black; each transition P = 0, then P = 50.
    for (const bool closing : {false, true}) {
      const Bitmap& from = closing ? fitted : black;
      const Bitmap& to = closing ? black : fitted;
      const int effect = transition % EffectCount + 1;
      SCOPED_TRACE("transition " + std::to_string(transition + 1) + ", effect " + std::to_string(effect));
      ASSERT_EQ(show.Sequencer.ReadFrameCanvas(canvas), 0);
      EXPECT_TRUE(SameFrame(canvas, from));
      const std::uint32_t seedBefore = RandomSeed;
      ASSERT_EQ(show.Sequencer.ReadFrameCanvas(canvas), 0);
      const std::uint32_t seedAfter = RandomSeed;
      RandomSeed = seedBefore;  // the shreds and speckles draw the same jitter again
      EXPECT_TRUE(SameFrame(canvas, Composed(effect, 50, from, to)));
      EXPECT_EQ(RandomSeed, seedAfter);
      ++transition;
      if (!closing) {
        ASSERT_EQ(show.Sequencer.ReadFrameCanvas(canvas), 0);
        EXPECT_TRUE(SameFrame(canvas, photo));
      }
    }
    for (int i = 0; i < 2; ++i) ASSERT_EQ(show.Sequencer.ReadFrameCanvas(canvas), 0);
    ASSERT_EQ(show.Sequencer.ReadFrameCanvas(canvas), -1);
  }
  EXPECT_EQ(transition, EffectCount + 2);
}

TEST(FrameSequencerTest, AGivenEffectOrderIsUsedInTurnAndChecked) {
  ScratchFolder folder;
  constexpr int W = 8, H = 6;
  Slideshow show;
  show.List = {WriteBmpPhoto(folder, "a.bmp", MakePhoto(W, H)), WriteBmpPhoto(folder, "b.bmp", MakePhoto(W, H))};
  show.Sequencer.ResetRun(W, H, 1, 2, false, std::nullopt, {5, 7});
  EXPECT_EQ(EffectsOfTheRun(show, W, H), (std::vector<int>{5, 7, 5}));
  // A new run starts the order again, also after the random rule would have applied.
  show.Sequencer.ResetRun(W, H, 1, 2, true, 77u, {176, 1, 9});
  EXPECT_EQ(EffectsOfTheRun(show, W, H), (std::vector<int>{176, 1, 9}));

  for (const int bad : {0, -3, EffectCount + 1}) {
    SCOPED_TRACE(bad);
    EXPECT_THROW(show.Sequencer.ResetRun(W, H, 1, 2, false, std::nullopt, {1, bad}), std::invalid_argument);
  }
}

TEST(FrameSequencerTest, ASeedMakesTheRandomRunRepeatFrameForFrame) {
  ScratchFolder folder;
  constexpr int W = 16, H = 12;
  Slideshow show;
  for (const char* name : {"a.bmp", "b.bmp", "c.bmp"}) show.List.push_back(WriteBmpPhoto(folder, name, MakePhoto(W, H)));

  struct Run {
    std::vector<int> Effects;
    std::vector<std::vector<std::uint8_t>> Frames;
  };
  const auto run_with_seed = [&](std::uint32_t seed) {
    RandomSeed = 0xDEADBEEF;  // whatever the generator did before must not matter
    show.Sequencer.ResetRun(W, H, 1, 4, true, seed);
    Run run;
    run.Effects.push_back(show.Sequencer.EffectNumber());
    Bitmap canvas(W, H, 24);
    while (show.Sequencer.ReadFrameCanvas(canvas) == 0) {
      run.Frames.emplace_back(canvas.Bits(), canvas.Bits() + canvas.ImageSize());
      if (show.Sequencer.TransitionCounter() == 0 && !show.Sequencer.InTransition() &&
          show.Sequencer.PhotoIndex() < static_cast<int>(show.List.size()))
        run.Effects.push_back(show.Sequencer.EffectNumber());
    }
    return run;
  };
  const Run first = run_with_seed(1234);
  const Run again = run_with_seed(1234);
  const Run other = run_with_seed(1235);
  ASSERT_EQ(first.Frames.size(), 4u * 4 + 3 * 1 + 2);
  EXPECT_EQ(first.Effects.size(), 4u);
  EXPECT_EQ(again.Effects, first.Effects);
  EXPECT_TRUE(again.Frames == first.Frames);
  EXPECT_NE(other.Effects, first.Effects);
  // The first effect is the generator's first draw from the seed.
  RandomSeed = 1234;
  EXPECT_EQ(first.Effects.front(), static_cast<int>(RandomInt(EffectCount)) + 1);
}

TEST(FrameSequencerTest, BreakWhenNoPicturesEndsTheStreamAfterTheClosingTransition) {
  ScratchFolder folder;
  constexpr int W = 8, H = 6;
  const std::string path = WriteBmpPhoto(folder, "a.bmp", MakePhoto(W, H));
  struct Case {
    bool BreakBox;
    int Frames;  // frames served before the end of the stream
  };
  // Two opening, two held and two closing frames; unchecked, the two black tail frames follow.
  const Case cases[] = {{false, 8}, {true, 6}};
  for (const Case& c : cases) {
    SCOPED_TRACE(c.BreakBox ? "checked" : "unchecked");
    Slideshow show;
    show.List = {path};
    show.BreakBox = c.BreakBox;
    show.Sequencer.ResetRun(W, H, 2, 2, false);
    Bitmap canvas(W, H, 24);
    int served = 0;
    while (served < 20 && show.Sequencer.ReadFrameCanvas(canvas) == 0) ++served;
    EXPECT_EQ(served, c.Frames);
    EXPECT_EQ(served, RunFrameCount(1, 2, 2, c.BreakBox));
    // An ended stream stays ended.
    EXPECT_EQ(show.Sequencer.ReadFrameCanvas(canvas), -1);
  }
}

TEST(FrameSequencerTest, APhotoThatCannotBeLoadedFailsTheFrameWithItsName) {
  ScratchFolder folder;
  constexpr int W = 8, H = 6;
  const std::string good = WriteBmpPhoto(folder, "good.bmp", MakePhoto(W, H));
  std::vector<std::uint8_t> bmp = ReadWholeFile(good);
  bmp.resize(40);
  ASSERT_TRUE(WriteWholeFile(folder / "cut.bmp", bmp));
  ASSERT_TRUE(WriteWholeFile(folder / "noise.jpg", std::vector<std::uint8_t>(100, 0x5A)));
  ASSERT_TRUE(WriteWholeFile(folder / "jpeg-bytes.png", EncodeJpeg(MakePhoto(W, H))));
  std::filesystem::create_directory(folder / "folder.jpg");

  struct Case {
    std::string Path;
    std::string Named;  // what the message must contain
  };
  const Case cases[] = {
      {folder / "gone.jpg", folder / "gone.jpg"},
      {folder / "cut.bmp", folder / "cut.bmp"},
      {folder / "noise.jpg", folder / "noise.jpg"},
      {folder / "folder.jpg", folder / "folder.jpg"},
      {folder / "line\nbreak.jpg", folder / "line?break.jpg"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.Path);
    // The bad photo comes second: the first is served whole, the transition to the second fails.
    Slideshow show;
    show.List = {good, c.Path};
    show.Sequencer.ResetRun(W, H, 1, 1, false);
    Bitmap canvas(W, H, 24);
    ASSERT_EQ(show.Sequencer.ReadFrameCanvas(canvas), 0);
    ASSERT_EQ(show.Sequencer.ReadFrameCanvas(canvas), 0);
    try {
      show.Sequencer.ReadFrameCanvas(canvas);
      ADD_FAILURE() << "no PhotoLoadError";
    } catch (const PhotoLoadError& e) {
      const std::string text = e.what();
      EXPECT_NE(text.find(c.Named), std::string::npos) << text;
      EXPECT_EQ(text.find('\n'), std::string::npos) << text;
    }
  }

  // A JPEG under another extension is still a JPEG; an empty list is an error, not a crash.
  Slideshow renamed;
  renamed.List = {folder / "jpeg-bytes.png"};
  renamed.Sequencer.ResetRun(W, H, 1, 1, false);
  Bitmap canvas(W, H, 24);
  EXPECT_EQ(renamed.Sequencer.ReadFrameCanvas(canvas), 0);
  Slideshow empty;
  empty.Sequencer.ResetRun(W, H, 1, 1, false);
  EXPECT_THROW(empty.Sequencer.ReadFrameCanvas(canvas), PhotoLoadError);
}

// The next photo is decoded while the frames before it are made; it is taken only when it is the
// very picture the frame asks for (the same file, turn and size), otherwise decoded afresh, so a
// run's frames never depend on it.
TEST(FrameSequencerTest, ThePhotoDecodedAheadIsTakenOnlyWhenItIsTheOneAskedFor) {
  ScratchFolder folder;
  constexpr int W = 16, H = 12;
  const std::string first = WriteBmpPhoto(folder, "first.bmp", MakePhoto(W, H));
  const std::string second = WriteBmpPhoto(folder, "second.bmp", Solid(W / 2, H, 0x405060));
  const std::string other = WriteBmpPhoto(folder, "other.bmp", Solid(W, H / 2, 0x708090));

  struct Case {
    const char* Name;
    std::function<void(Slideshow&)> Change;  // made after the first photo is on screen
    int TakenAhead;
  };
  const Case cases[] = {
      {"nothing changed", [](Slideshow&) {}, 1},
      {"the list names another file", [&](Slideshow& show) { show.List[1] = other; }, 0},
      {"auto-rotate switched off", [](Slideshow& show) { show.Sequencer.AutoRotate = false; }, 0},
      {"fill instead of fit", [](Slideshow& show) { show.Sequencer.Screen = ScreenMode::Fill; }, 0},
  };
  // Frames: the opening transition, two holds of the first photo, the transition to the second
  // (which loads it), the second's first hold.
  constexpr int FramesToSecondHold = 5;
  for (const Case& c : cases) {
    SCOPED_TRACE(c.Name);
    Slideshow show;
    show.List = {first, second};
    show.Sequencer.ResetRun(W, H, 2, 1, false);
    Bitmap canvas(W, H, 24);
    for (int frame = 1; frame <= FramesToSecondHold; ++frame) {
      if (frame == 2) c.Change(show);
      ASSERT_EQ(show.Sequencer.ReadFrameCanvas(canvas), 0);
    }
    EXPECT_EQ(show.Sequencer.PhotosDecodedAhead(), c.TakenAhead);

    // What a sequencer set so from the start shows at the same frame.
    Slideshow reference;
    reference.List = show.List;
    c.Change(reference);
    reference.Sequencer.ResetRun(W, H, 2, 1, false);
    Bitmap expected(W, H, 24);
    for (int frame = 1; frame <= FramesToSecondHold; ++frame) ASSERT_EQ(reference.Sequencer.ReadFrameCanvas(expected), 0);
    Bitmap expected32(W, H, 32);
    for (int y = 0; y < H; ++y)
      for (int x = 0; x < W; ++x) expected32.SetPixel(x, y, expected.Pixel(x, y));
    EXPECT_TRUE(SameFrame(canvas, expected32));
    // The second photo's hold is not the first photo's: the comparison sees which one came.
    EXPECT_FALSE(SameFrame(canvas, MakePhoto(W, H)));
  }
}

TEST(FrameSequencerTest, ACanvasOfAnotherDepthIsRefusedWithoutLosingAFrame) {
  ScratchFolder folder;
  constexpr int W = 8, H = 6;
  Slideshow show;
  show.List = {WriteBmpPhoto(folder, "a.bmp", MakePhoto(W, H))};
  show.Sequencer.ResetRun(W, H, 1, 1, false);
  Bitmap wrong(W, H, 16);
  EXPECT_THROW(show.Sequencer.ReadFrameCanvas(wrong), std::invalid_argument);
  Bitmap canvas(W, H, 24);
  ASSERT_EQ(show.Sequencer.ReadFrameCanvas(canvas), 0);
  EXPECT_TRUE(SameFrame(canvas, Solid(W, H, Black)));  // still the first frame of the stream
  ASSERT_EQ(show.Sequencer.ReadFrameCanvas(canvas), 0);
  EXPECT_TRUE(SameFrame(canvas, MakePhoto(W, H)));
}

// Frame sizes come from a text box: an empty or one-pixel frame still gives the whole stream.
TEST(FrameSequencerTest, EmptyAndTinyFramesServeTheWholeStream) {
  ScratchFolder folder;
  const std::string path = WriteBmpPhoto(folder, "a.bmp", MakePhoto(6, 4));
  struct Case {
    int Width, Height;
  };
  const Case cases[] = {{0, 0}, {0, 5}, {1, 1}, {3, 1}, {1, 3}};
  for (const auto& c : cases) {
    SCOPED_TRACE(std::to_string(c.Width) + "x" + std::to_string(c.Height));
    Slideshow show;
    show.List = {path, path};
    show.Sequencer.ResetRun(c.Width, c.Height, 2, 3, true, 42u);
    Bitmap canvas(c.Width, c.Height, 24);
    for (int i = 0; i < 3 * 3 + 2 * 2 + 2; ++i) ASSERT_EQ(show.Sequencer.ReadFrameCanvas(canvas), 0) << "frame " << i;
    EXPECT_EQ(show.Sequencer.ReadFrameCanvas(canvas), -1);
  }
}


// Every frame of a run, as served on a 24-bit canvas, until the stream ends.
std::vector<std::vector<std::uint8_t>> ReadAllFrames(FrameSequencer& sequencer, int width, int height) {
  std::vector<std::vector<std::uint8_t>> frames;
  Bitmap canvas(width, height, 24);
  while (frames.size() < 100000 && sequencer.ReadFrameCanvas(canvas) == 0)
    frames.emplace_back(canvas.Bits(), canvas.Bits() + canvas.ImageSize());
  return frames;
}

Bitmap LaidOut(const Bitmap& photo, ScreenMode mode, int width, int height) {
  Bitmap frame(width, height, 32);
  LayOutPhoto(frame, photo, mode, PictureScaler::Smooth);
  return frame;
}

TEST(FrameSequencerTest, EachPhotoIsHeldAndLaidOutAsItChose) {
  ScratchFolder folder;
  constexpr int W = 24, H = 16;
  // The middle photo has another shape than the frame, so each screen mode lays it out otherwise.
  const Bitmap photos[] = {Solid(W, H, 0x3060C0), MakePhoto(10, 16), Solid(W, H, 0xC08020)};
  Slideshow show;
  for (int i = 0; i < 3; ++i) show.List.push_back(WriteBmpPhoto(folder, "p" + std::to_string(i) + ".bmp", photos[i]));
  PhotoChoices fill, blur;
  fill.Screen = ScreenMode::Fill;
  blur.Screen = ScreenMode::Blur;
  struct Case {
    const char* Name;
    ShowTiming Timing;
    std::vector<PhotoChoices> PerPhoto;
    ScreenMode MiddleMode;
  };
  const Case cases[] = {
      {"as the show", UniformTiming(3, 2, 3), {}, ScreenMode::Fit},
      {"own holds and transitions", {{1, 5, 2}, {2, 4, 1, 3}}, {{}, fill}, ScreenMode::Fill},
      {"long hold after short transitions", {{4, 1, 7}, {1, 1, 6, 2}}, {{}, blur, {}}, ScreenMode::Blur},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.Name);
    show.Sequencer.ResetRun(W, H, c.Timing, c.PerPhoto, false, 5u, {1});
    const std::vector<std::vector<std::uint8_t>> frames = ReadAllFrames(show.Sequencer, W, H);
    ASSERT_EQ(static_cast<std::int64_t>(frames.size()), c.Timing.FrameCount());
    const Bitmap middle = LaidOut(photos[1], c.MiddleMode, W, H);
    const Bitmap* held[] = {&photos[0], &middle, &photos[2]};
    Bitmap canvas(W, H, 24);
    for (std::size_t i = 0; i < 3; ++i) {
      const std::int64_t holdStart = c.Timing.TransitionStartFrame(i) + c.Timing.TransitionFrames[i];
      for (int offset = 0; offset < c.Timing.HoldFrames[i]; ++offset) {
        SCOPED_TRACE("photo " + std::to_string(i) + " held frame " + std::to_string(offset));
        std::copy(frames[static_cast<std::size_t>(holdStart + offset)].begin(),
                  frames[static_cast<std::size_t>(holdStart + offset)].end(), canvas.Bits());
        ASSERT_TRUE(SameFrame(canvas, *held[i]));
      }
      // The transition after the hold starts from the photo and has left it by its next frame.
      const std::int64_t next = c.Timing.TransitionStartFrame(i + 1);
      ASSERT_EQ(next, holdStart + c.Timing.HoldFrames[i]);
      if (c.Timing.TransitionFrames[i + 1] > 1) {
        std::copy(frames[static_cast<std::size_t>(next + 1)].begin(), frames[static_cast<std::size_t>(next + 1)].end(),
                  canvas.Bits());
        EXPECT_FALSE(SameFrame(canvas, *held[i]));
      }
    }
  }
}

TEST(FrameSequencerTest, APhotosOwnEffectIsUsedForTheTransitionAfterItAndNoOther) {
  ScratchFolder folder;
  constexpr int W = 32, H = 24;
  const Bitmap photos[] = {Solid(W, H, 0x3060C0), Solid(W, H, 0x20A040), Solid(W, H, 0xC08020)};
  const Bitmap black = Solid(W, H, Black);
  std::vector<std::string> list;
  for (int i = 0; i < 3; ++i) list.push_back(WriteBmpPhoto(folder, "p" + std::to_string(i) + ".bmp", photos[i]));
  struct Case {
    const char* Name;
    bool Random;
    std::vector<int> Order;
    std::uint32_t Seed;
    int Photo;   // whose following transition takes the effect
    int Effect;
    bool Plain;  // the effect composes the same whatever the generator: its frames can be checked
  };
  // Effect 65 (an uneven shred) draws from the shared generator on every frame.
  const Case cases[] = {
      {"in turn", false, {}, 3u, 1, 1, true},
      {"order list, a drawing effect replaced", false, {7, 65, 65, 65}, 3u, 0, 2, true},
      {"random", true, {}, 11u, 1, 1, true},
      {"random, a drawing effect chosen", true, {}, 12u, 0, 65, false},
      {"closing transition", true, {}, 13u, 2, 2, true},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.Name);
    const ShowTiming timing = UniformTiming(3, 2, 6);
    std::vector<PhotoChoices> perPhoto(3);
    perPhoto[static_cast<std::size_t>(c.Photo)].TransitionEffect = c.Effect;
    const auto run = [&](const std::vector<PhotoChoices>& choices, std::vector<int>& effects) {
      Slideshow show;
      show.List = list;
      show.Sequencer.ResetRun(W, H, timing, choices, c.Random, c.Seed, c.Order);
      std::vector<std::vector<std::uint8_t>> frames;
      Bitmap canvas(W, H, 24);
      while (frames.size() < 1000) {
        if (show.Sequencer.InTransition() && show.Sequencer.TransitionCounter() == 0 &&
            show.Sequencer.PhotoIndex() < 3)
          effects.push_back(show.Sequencer.EffectNumber());
        if (show.Sequencer.ReadFrameCanvas(canvas) < 0) break;
        frames.emplace_back(canvas.Bits(), canvas.Bits() + canvas.ImageSize());
      }
      return frames;
    };
    std::vector<int> plainEffects, ownEffects;
    const auto plain = run({}, plainEffects);
    const auto own = run(perPhoto, ownEffects);
    const std::size_t k = static_cast<std::size_t>(c.Photo) + 1;
    ASSERT_EQ(plainEffects.size(), 4u);
    ASSERT_NE(plainEffects[k], c.Effect) << "the case must change the transition";
    std::vector<int> expected = plainEffects;
    expected[k] = c.Effect;
    EXPECT_EQ(ownEffects, expected);
    ASSERT_EQ(own.size(), plain.size());
    const std::int64_t first = timing.TransitionStartFrame(k);
    const std::int64_t last = first + timing.TransitionFrames[k];
    Bitmap canvas(W, H, 24);
    for (std::int64_t f = 0; f < static_cast<std::int64_t>(own.size()); ++f) {
      SCOPED_TRACE("frame " + std::to_string(f));
      const auto& frame = own[static_cast<std::size_t>(f)];
      if (f < first || f >= last) {
        ASSERT_TRUE(frame == plain[static_cast<std::size_t>(f)]);
      } else if (c.Plain) {
        std::copy(frame.begin(), frame.end(), canvas.Bits());
        const Bitmap& to = k < 3 ? photos[k] : black;
        ASSERT_TRUE(SameFrame(canvas, Composed(c.Effect, static_cast<int>((f - first) * 100 / 6), photos[k - 1], to)));
      }
    }
  }
}

TEST(FrameSequencerTest, ASeekServesTheFrameAReadFromTheStartServes) {
  ScratchFolder folder;
  constexpr int W = 32, H = 24;
  std::vector<std::string> list;
  for (int i = 0; i < 4; ++i) {
    Bitmap photo = MakePhoto(W + 8 * i, H);
    list.push_back(WriteBmpPhoto(folder, "p" + std::to_string(i) + ".bmp", photo));
  }
  PhotoChoices zoom, still, pan, shred, first, fill;
  zoom.Motion = MotionKind::Zoom;
  still.Motion = MotionKind::None;
  pan.Motion = MotionKind::Pan;
  pan.MotionStrength = 40;
  shred.TransitionEffect = 65;
  first.TransitionEffect = 1;
  fill.Screen = ScreenMode::Fill;
  struct Case {
    const char* Name;
    int Photos;
    ShowTiming Timing;
    std::vector<PhotoChoices> PerPhoto;
    MotionKind Motion;
    bool Random;
    std::vector<int> Order;
    bool BreakBox;
  };
  const Case cases[] = {
      {"still, effects in turn", 3, UniformTiming(3, 2, 3), {}, MotionKind::None, false, {}, false},
      {"long transitions of a drawing effect", 1, {{1}, {130, 120}}, {}, MotionKind::None, false, {65}, false},
      {"random effects, own effects and holds", 4, {{2, 1, 3, 1}, {3, 2, 4, 1, 2}}, {fill, shred, first},
       MotionKind::None, true, {}, false},
      {"motion chosen per photo", 3, {{3, 2, 4}, {4, 3, 5, 2}}, {zoom, still, pan}, MotionKind::None, false, {65, 3},
       false},
      {"the show moves, one photo still", 3, UniformTiming(3, 3, 4), {{}, still}, MotionKind::Random, true, {}, false},
      {"break after the last photo", 2, UniformTiming(2, 2, 2), {}, MotionKind::None, false, {65}, true},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.Name);
    const auto start = [&](Slideshow& show) {
      show.List.assign(list.begin(), list.begin() + c.Photos);
      show.BreakBox = c.BreakBox;
      show.Sequencer.Motion = c.Motion;
      show.Sequencer.ResetRun(W, H, c.Timing, c.PerPhoto, c.Random, 21u, c.Order);
    };
    Slideshow reader;
    start(reader);
    const std::vector<std::vector<std::uint8_t>> frames = ReadAllFrames(reader.Sequencer, W, H);
    ASSERT_EQ(static_cast<std::int64_t>(frames.size()),
              c.Timing.FrameCount() - (c.BreakBox ? ShowTailFrames : 0));

    Slideshow seeker;
    start(seeker);
    Bitmap canvas(W, H, 24);
    const int n = static_cast<int>(frames.size());
    // Back and forth over every frame and past the end, on one sequencer, so that nothing of the
    // position before a seek is left in the one after it.
    const int positions = n + 3;
    for (int i = 0; i < positions; ++i) {
      const int frame = (i * 37) % positions;
      SCOPED_TRACE("frame " + std::to_string(frame));
      seeker.Sequencer.SeekFrame(frame);
      // The frame sought and the two after it.
      for (int f = frame; f < frame + 3; ++f) {
        if (f >= n) {
          ASSERT_EQ(seeker.Sequencer.ReadFrameCanvas(canvas), -1);
          break;
        }
        ASSERT_EQ(seeker.Sequencer.ReadFrameCanvas(canvas), 0);
        ASSERT_TRUE(std::equal(canvas.Bits(), canvas.Bits() + canvas.ImageSize(), frames[static_cast<std::size_t>(f)].begin()))
            << "frame " << f << " differs";
      }
    }
    // From a seek the stream runs on to its end as it would have.
    for (const int frame : {0, n / 3, n - 1}) {
      SCOPED_TRACE("to the end from " + std::to_string(frame));
      seeker.Sequencer.SeekFrame(frame);
      const auto rest = ReadAllFrames(seeker.Sequencer, W, H);
      ASSERT_TRUE(std::equal(rest.begin(), rest.end(), frames.begin() + frame, frames.end()));
    }
  }
}

}  // namespace
}  // namespace lumivor
