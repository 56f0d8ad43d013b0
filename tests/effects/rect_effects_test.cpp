// The rectangle transitions: where the new picture lands, from where it is taken, and where the
// old picture moves to, read off tagged pictures.
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <sstream>
#include <string>
#include <vector>

#include "effect_test_support.h"
#include "effects/effect.h"
#include "effects/rect_effect_ops.h"

namespace lumivor {
namespace {

using namespace lumivor::testing;

// A destination rectangle (before clipping to the frame) showing the picture tagged tag, scaled
// from the rectangle src of that picture. Where pieces overlap, the later one wins; pixels in no
// piece keep the old picture in place.
struct Piece {
  Rect dest;
  std::uint8_t tag;
  Rect src;
};

Piece New(Rect dest, Rect src) { return {dest, NewTag, src}; }
Piece NewInPlace(Rect r) { return {r, NewTag, r}; }
Piece Old(Rect dest, Rect src) { return {dest, OldTag, src}; }

struct Case {
  int effect;
  int progress;
  std::vector<Piece> pieces;
};

// True when a source position is what some nearest-neighbour mapping of [destLo, destHi) onto
// [srcLo, srcHi) gives at destination position d. Sampling positions are the raster library's
// choice, so a stretch may be off the exact centre mapping by up to half a source step; an
// unscaled copy must be exact.
bool PlausibleSource(int d, int destLo, int destHi, int srcLo, int srcHi, int origin) {
  if (origin < srcLo || origin >= srcHi) return false;
  const int destSize = destHi - destLo, srcSize = srcHi - srcLo;
  if (destSize == srcSize) return origin == srcLo + (d - destLo);
  const double ratio = static_cast<double>(srcSize) / destSize;
  const double ideal = srcLo + (d - destLo + 0.5) * ratio - 0.5;
  return std::abs(origin - ideal) <= 0.5 * std::max(ratio, 1.0) + 0.5;
}

// Describes the first pixel that breaks the pieces and how many do; empty when all match.
std::string MismatchOf(const Bitmap& frame, const std::vector<Piece>& pieces) {
  std::ostringstream first;
  long long count = 0;
  for (int y = 0; y < frame.Height(); ++y)
    for (int x = 0; x < frame.Width(); ++x) {
      const Piece* hit = nullptr;
      for (const Piece& p : pieces)
        if (x >= p.dest.Left && x < p.dest.Right && y >= p.dest.Top && y < p.dest.Bottom) hit = &p;
      const std::uint8_t wantTag = hit ? hit->tag : OldTag;
      const Point o = OriginOf(frame, x, y);
      bool ok = TagOf(frame, x, y) == wantTag;
      if (ok && hit == nullptr) ok = o == Point{x, y};
      if (ok && hit != nullptr)
        ok = PlausibleSource(x, hit->dest.Left, hit->dest.Right, hit->src.Left, hit->src.Right, o.X) &&
             PlausibleSource(y, hit->dest.Top, hit->dest.Bottom, hit->src.Top, hit->src.Bottom, o.Y);
      if (!ok && count++ == 0)
        first << "pixel (" << x << ", " << y << ") shows " << (TagOf(frame, x, y) == NewTag ? "new" : "old") << " ("
              << o.X << ", " << o.Y << "), expected " << (wantTag == NewTag ? "new" : "old");
    }
  if (count == 0) return {};
  first << "; " << count << " pixels wrong";
  return first.str();
}

void ExpectCases(int width, int height, const std::vector<Case>& cases) {
  const Bitmap oldPicture = MakeOldPicture(width, height);
  const Bitmap newPicture = MakeNewPicture(width, height);
  for (const Case& c : cases) {
    SCOPED_TRACE(::testing::Message() << "effect " << c.effect << " at " << c.progress << "%");
    EXPECT_EQ(MismatchOf(Compose(c.effect, c.progress, oldPicture, newPicture), c.pieces), "");
  }
}

// 200 x 100 at 30 %: w = 60, h = 30; halves w/2 = 30, h/2 = 15, W/2 = 100, H/2 = 50; a tenth of the
// frame is 20 wide or 10 high.
TEST(RectEffectsLayout, EvenFrameAtThirtyPercent) {
  const std::vector<Case> cases = {
      {1, 30, {New({140, 0, 200, 100}, {0, 0, 200, 100})}},
      {2, 30, {New({0, 0, 60, 100}, {0, 0, 200, 100})}},
      {3, 30, {New({140, 0, 340, 100}, {0, 0, 200, 100})}},
      {4, 30, {New({-140, 0, 60, 100}, {0, 0, 200, 100})}},
      {5, 30, {NewInPlace({0, 0, 60, 100})}},
      {6, 30, {NewInPlace({140, 0, 200, 100})}},
      {7, 30, {New({0, 0, 340, 100}, {0, 0, 60, 100})}},
      {8, 30, {New({-140, 0, 200, 100}, {140, 0, 200, 100})}},
      {9, 30, {New({-140, 0, 340, 100}, {70, 0, 130, 100})}},
      {10, 30, {New({70, 0, 130, 100}, {0, 0, 200, 100})}},
      {11, 30, {NewInPlace({70, 0, 130, 100})}},
      {12, 30, {NewInPlace({0, 0, 30, 100}), NewInPlace({170, 0, 200, 100})}},
      {13, 30, {New({0, 0, 30, 100}, {0, 0, 100, 100}), New({170, 0, 200, 100}, {100, 0, 200, 100})}},
      {16, 30, {NewInPlace({0, 0, 60, 100}), New({60, 0, 200, 100}, {60, 0, 80, 100})}},
      {17, 30, {NewInPlace({140, 0, 200, 100}), New({0, 0, 140, 100}, {120, 0, 140, 100})}},
      {18, 30, {New({0, 70, 200, 100}, {0, 0, 200, 100})}},
      {19, 30, {New({0, 0, 200, 30}, {0, 0, 200, 100})}},
      {20, 30, {New({0, 70, 200, 170}, {0, 0, 200, 100})}},
      {21, 30, {New({0, -70, 200, 30}, {0, 0, 200, 100})}},
      {22, 30, {NewInPlace({0, 0, 200, 30})}},
      {23, 30, {NewInPlace({0, 70, 200, 100})}},
      {24, 30, {New({0, 0, 200, 170}, {0, 0, 200, 30})}},
      {25, 30, {New({0, -70, 200, 100}, {0, 70, 200, 100})}},
      {26, 30, {New({0, -70, 200, 170}, {0, 35, 200, 65})}},
      {27, 30, {New({0, 35, 200, 65}, {0, 0, 200, 100})}},
      {28, 30, {NewInPlace({0, 35, 200, 65})}},
      {29, 30, {NewInPlace({0, 0, 200, 15}), NewInPlace({0, 85, 200, 100})}},
      {30, 30, {New({0, 0, 200, 15}, {0, 0, 200, 50}), New({0, 85, 200, 100}, {0, 50, 200, 100})}},
      {33, 30, {NewInPlace({0, 0, 200, 30}), New({0, 30, 200, 100}, {0, 30, 200, 40})}},
      {34, 30, {NewInPlace({0, 70, 200, 100}), New({0, 0, 200, 70}, {0, 60, 200, 70})}},
      {35, 30, {New({140, 70, 200, 100}, {0, 0, 200, 100})}},
      {36, 30, {New({140, 0, 200, 30}, {0, 0, 200, 100})}},
      {37, 30, {New({0, 0, 60, 30}, {0, 0, 200, 100})}},
      {38, 30, {New({0, 70, 60, 100}, {0, 0, 200, 100})}},
      {39, 30, {New({140, 70, 340, 170}, {0, 0, 200, 100})}},
      {40, 30, {New({140, -70, 340, 30}, {0, 0, 200, 100})}},
      {41, 30, {New({-140, -70, 60, 30}, {0, 0, 200, 100})}},
      {42, 30, {New({-140, 70, 60, 170}, {0, 0, 200, 100})}},
      {43, 30, {NewInPlace({0, 0, 60, 30})}},
      {44, 30, {NewInPlace({0, 70, 60, 100})}},
      {45, 30, {NewInPlace({140, 70, 200, 100})}},
      {46, 30, {NewInPlace({140, 0, 200, 30})}},
      {47, 30, {New({0, 0, 340, 170}, {0, 0, 60, 30})}},
      {48, 30, {New({0, -70, 340, 100}, {0, 70, 60, 100})}},
      {49, 30, {New({-140, -70, 200, 100}, {140, 70, 200, 100})}},
      {50, 30, {New({-140, 0, 200, 170}, {140, 0, 200, 30})}},
      {51, 30, {New({-140, -70, 340, 170}, {70, 35, 130, 65})}},
      {52, 30, {New({70, 35, 130, 65}, {0, 0, 200, 100})}},
      {53, 30, {NewInPlace({70, 35, 130, 65})}},
      {54, 30, {NewInPlace({0, 0, 200, 100}), Old({30, 15, 170, 85}, {30, 15, 170, 85})}},
      {55, 30,
       {NewInPlace({0, 0, 30, 15}), NewInPlace({0, 85, 30, 100}), NewInPlace({170, 85, 200, 100}),
        NewInPlace({170, 0, 200, 15})}},
      {56, 30,
       {New({0, 0, 30, 15}, {0, 0, 100, 50}), New({0, 85, 30, 100}, {0, 50, 100, 100}),
        New({170, 85, 200, 100}, {100, 50, 200, 100}), New({170, 0, 200, 15}, {100, 0, 200, 50})}},
      {57, 30,
       {New({-70, 0, 30, 50}, {0, 0, 100, 50}), New({100, -35, 200, 15}, {100, 0, 200, 50}),
        New({170, 50, 270, 100}, {100, 50, 200, 100}), New({0, 85, 100, 135}, {0, 50, 100, 100})}},
      {129, 30, {Old({60, 0, 200, 100}, {0, 0, 140, 100}), New({0, 0, 60, 100}, {140, 0, 200, 100})}},
      {130, 30, {Old({0, 0, 140, 100}, {60, 0, 200, 100}), New({140, 0, 200, 100}, {0, 0, 60, 100})}},
      {131, 30, {Old({60, 0, 200, 100}, {0, 0, 200, 100}), New({0, 0, 60, 100}, {140, 0, 200, 100})}},
      {132, 30, {Old({0, 0, 140, 100}, {0, 0, 200, 100}), New({140, 0, 200, 100}, {0, 0, 60, 100})}},
      {133, 30, {Old({0, 30, 200, 100}, {0, 0, 200, 70}), New({0, 0, 200, 30}, {0, 70, 200, 100})}},
      {134, 30, {Old({0, 0, 200, 70}, {0, 30, 200, 100}), New({0, 70, 200, 100}, {0, 0, 200, 30})}},
      {135, 30, {Old({0, 30, 200, 100}, {0, 0, 200, 100}), New({0, 0, 200, 30}, {0, 70, 200, 100})}},
      {136, 30, {Old({0, 0, 200, 70}, {0, 0, 200, 100}), New({0, 70, 200, 100}, {0, 0, 200, 30})}},
      {173, 30, {Old({60, 0, 200, 100}, {0, 0, 140, 100}), NewInPlace({0, 0, 60, 100})}},
      {174, 30, {Old({0, 0, 140, 100}, {60, 0, 200, 100}), NewInPlace({140, 0, 200, 100})}},
      {175, 30, {Old({0, 30, 200, 100}, {0, 0, 200, 70}), NewInPlace({0, 0, 200, 30})}},
      {176, 30, {Old({0, 0, 200, 70}, {0, 30, 200, 100}), NewInPlace({0, 70, 200, 100})}},
      // At 1 % (w = 2, h = 1) the expand-in pieces are magnified two hundred times and still cover
      // the frame; near the end the build-up strip is narrower than a tenth (W - w = 10).
      {7, 1, {New({0, 0, 398, 100}, {0, 0, 2, 100})}},
      {47, 1, {New({0, 0, 398, 199}, {0, 0, 2, 1})}},
      {51, 1, {New({-198, -99, 398, 199}, {99, 49, 101, 50})}},
      {16, 95, {NewInPlace({0, 0, 190, 100}), New({190, 0, 200, 100}, {190, 0, 200, 100})}},
      {17, 95, {NewInPlace({10, 0, 200, 100}), New({0, 0, 10, 100}, {0, 0, 10, 100})}},
  };
  ExpectCases(200, 100, cases);
}

// 201 x 101 at 50 %: w = 101, h = 51; w/2 = 50, h/2 = 25, W/2 = 100, H/2 = 50. The halves lose a
// pixel, so the middle column (or row) stays old.
TEST(RectEffectsLayout, OddFrameHalvesLeaveTheMiddleOld) {
  const std::vector<Case> cases = {
      {9, 50, {New({-100, 0, 301, 101}, {50, 0, 151, 101})}},
      {12, 50, {NewInPlace({0, 0, 50, 101}), NewInPlace({151, 0, 201, 101})}},
      {13, 50, {New({0, 0, 50, 101}, {0, 0, 100, 101}), New({151, 0, 201, 101}, {100, 0, 200, 101})}},
      {29, 50, {NewInPlace({0, 0, 201, 25}), NewInPlace({0, 76, 201, 101})}},
      {30, 50, {New({0, 0, 201, 25}, {0, 0, 201, 50}), New({0, 76, 201, 101}, {0, 50, 201, 100})}},
      {54, 50, {NewInPlace({0, 0, 201, 101}), Old({50, 25, 151, 76}, {50, 25, 151, 76})}},
      {55, 50,
       {NewInPlace({0, 0, 50, 25}), NewInPlace({0, 76, 50, 101}), NewInPlace({151, 76, 201, 101}),
        NewInPlace({151, 0, 201, 25})}},
      {56, 50,
       {New({0, 0, 50, 25}, {0, 0, 100, 50}), New({0, 76, 50, 101}, {0, 50, 100, 100}),
        New({151, 76, 201, 101}, {100, 50, 200, 100}), New({151, 0, 201, 25}, {100, 0, 200, 50})}},
      {57, 50,
       {New({-50, 0, 50, 50}, {0, 0, 100, 50}), New({100, -25, 200, 25}, {100, 0, 200, 50}),
        New({151, 50, 251, 100}, {100, 50, 200, 100}), New({0, 76, 100, 126}, {0, 50, 100, 100})}},
      // At 99 % (w = 199) one pixel short of the halves of 201 still leaves three columns old.
      {12, 99, {NewInPlace({0, 0, 99, 101}), NewInPlace({102, 0, 201, 101})}},
  };
  ExpectCases(201, 101, cases);
}

// The push of a 640-pixel frame at 50 %: the old picture's left half moves to the right half and
// the new picture's right half enters on the left.
TEST(RectEffectsLayout, PushRightHalfway) {
  ExpectCases(640, 8, {{129, 50, {Old({320, 0, 640, 8}, {0, 0, 320, 8}), New({0, 0, 320, 8}, {320, 0, 640, 8})}}});
}

// A frame narrower than 50 pixels has w = 0 at 1 %: every rectangle is empty and the old picture
// stays, including the expand-ins, whose source piece is then empty. The build-ups are the
// exception: nothing is reached yet, so their strip of a tenth is stretched over the whole frame.
TEST(RectEffectsLayout, ZeroProgressSizeLeavesTheOldPicture) {
  std::vector<int> effects;
  for (int e = 1; e <= 57; ++e)
    if (e != 16 && e != 17 && e != 33 && e != 34) effects.push_back(e);
  for (int e = 129; e <= 136; ++e) effects.push_back(e);
  for (int e = 173; e <= 176; ++e) effects.push_back(e);
  const Bitmap oldPicture = MakeOldPicture(40, 30);
  const Bitmap newPicture = MakeNewPicture(40, 30);
  ASSERT_EQ(ComputeProgressSize(40, 30, 1).Width, 0);
  for (int e : effects) {
    SCOPED_TRACE(e);
    EXPECT_TRUE(SamePixels(Compose(e, 1, oldPicture, newPicture), oldPicture));
  }
  ExpectCases(40, 30,
              {
                  {16, 1, {New({0, 0, 40, 30}, {0, 0, 4, 30})}},
                  {17, 1, {New({0, 0, 40, 30}, {36, 0, 40, 30})}},
                  {33, 1, {New({0, 0, 40, 30}, {0, 0, 40, 3})}},
                  {34, 1, {New({0, 0, 40, 30}, {0, 27, 40, 30})}},
              });
}

// Offsets read back from a mid-grey strip (128 on every channel, fourth byte 0x5A).
std::vector<int> ColumnOffsets(int amount, int width) {
  Bitmap b(width + 4, 3, 32);
  b.Fill(0x5A808080u);
  transitions::ShadeColumns(b, amount, 2, width);
  std::vector<int> out;
  for (int x = 0; x < b.Width(); ++x) out.push_back(static_cast<int>(b.Pixel(x, 1) & 0xFF) - 128);
  return out;
}

// Offsets of the strip rows 0 .. height-1 (top to bottom) of a grey picture.
std::vector<int> RowOffsets(int amount, int height) {
  Bitmap b(3, height + 4, 32);
  b.Fill(0x5A808080u);
  transitions::ShadeRows(b, amount, 2, height);
  std::vector<int> out;
  for (int y = 0; y < b.Height(); ++y) out.push_back(static_cast<int>(b.Pixel(1, y) & 0xFF) - 128);
  return out;
}

std::vector<int> Padded(std::vector<int> strip) {
  strip.insert(strip.begin(), {0, 0});
  strip.insert(strip.end(), {0, 0});
  return strip;
}

std::vector<int> Ramp(int from, int step, int count) {
  std::vector<int> r;
  for (int i = 0; i < count; ++i) r.push_back(from + i * step);
  return r;
}

std::vector<int> Concat(std::vector<int> a, const std::vector<int>& b) {
  a.insert(a.end(), b.begin(), b.end());
  return a;
}

TEST(RectEffectsShade, ColumnProfiles) {
  struct ShadeCase {
    int amount, width;
    std::vector<int> strip;
  };
  const std::vector<int> slow = {-3, -3, -3, -2, -2, -2, -1, -1, -1, 0, 0, 0, -1, -1, -1, -2, -2, -2, -3, -3};
  const ShadeCase cases[] = {
      // Steep: a step of 2 up to 0 at the middle column, then down again.
      {64, 64, Concat(Ramp(-64, 2, 33), Ramp(-2, -2, 31))},
      {64, 48, Concat(Ramp(-64, 2, 25), Ramp(-18, -2, 23))},
      // Gentle: one step every half div amount columns.
      {3, 20, slow},
      {64, 1, {0}},
      {0, 8, std::vector<int>(8, 0)},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(::testing::Message() << "amount " << c.amount << ", width " << c.width);
    EXPECT_EQ(ColumnOffsets(c.amount, c.width), Padded(c.strip));
  }
}

TEST(RectEffectsShade, RowProfilesRunFromTheBottom) {
  struct ShadeCase {
    int amount, height;
    std::vector<int> strip;  // top row first
  };
  std::vector<int> steep = Concat(Ramp(-64, 2, 24), Ramp(-20, -2, 24));  // bottom row first
  std::reverse(steep.begin(), steep.end());
  const std::vector<int> slow = {-3, -3, -2, -2, -2, -1, -1, -1, 0, 0, 0, -1, -1, -1, -2, -2, -2, -3, -3, -3};
  const ShadeCase cases[] = {
      {64, 48, steep},
      {3, 20, slow},
      {64, 1, {0}},
      {0, 8, std::vector<int>(8, 0)},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(::testing::Message() << "amount " << c.amount << ", height " << c.height);
    EXPECT_EQ(RowOffsets(c.amount, c.height), Padded(c.strip));
  }
}

TEST(RectEffectsShade, ClampsAndKeepsTheFourthByte) {
  Bitmap b(4, 2, 32);
  b.Fill(0x7F10FFF0u);  // blue 0xF0, green 0xFF, red 0x10
  transitions::ShadeColumns(b, 64, 0, 4);  // offsets -64, -32, 0, -32
  EXPECT_EQ(b.Pixel(0, 0), 0x7F00BFB0u);
  EXPECT_EQ(b.Pixel(2, 1), 0x7F10FFF0u);
  // Strips reaching past the frame's edges shade only what lies inside.
  Bitmap c(4, 4, 32);
  c.Fill(0x00808080u);
  transitions::ShadeRows(c, 64, -2, 4);    // rows 1, 0, -1, -2 get -64, -32, 0, -32
  transitions::ShadeColumns(c, 64, 3, 4);  // column 3 gets -64
  EXPECT_EQ(c.Pixel(0, 1), 0x00404040u);
  EXPECT_EQ(c.Pixel(0, 0), 0x00606060u);
  EXPECT_EQ(c.Pixel(3, 2), 0x00404040u);
  EXPECT_EQ(c.Pixel(2, 2), 0x00808080u);
}

// The unrolled part in place, then the roll: each roll line shows one line of the new picture,
// mirrored, shaded by the strip's profile.
struct UnrollCase {
  int effect, width, height, progress;
  Rect unrolled;
  Rect roll;
  int mirrorSum;  // roll line i shows new line mirrorSum - i
};

Bitmap ExpectedUnroll(const UnrollCase& c) {
  Bitmap e = MakeOldPicture(c.width, c.height);
  const bool columns = c.effect == 14 || c.effect == 15;
  for (int y = 0; y < c.height; ++y)
    for (int x = 0; x < c.width; ++x) {
      if (x >= c.unrolled.Left && x < c.unrolled.Right && y >= c.unrolled.Top && y < c.unrolled.Bottom)
        e.SetPixel(x, y, EncodePixel(x, y, NewTag));
      if (x >= c.roll.Left && x < c.roll.Right && y >= c.roll.Top && y < c.roll.Bottom)
        e.SetPixel(x, y, columns ? EncodePixel(c.mirrorSum - x, y, NewTag) : EncodePixel(x, c.mirrorSum - y, NewTag));
    }
  if (columns)
    transitions::ShadeColumns(e, 64, c.roll.Left, c.roll.Width());
  else
    transitions::ShadeRows(e, 64, c.roll.Top, c.roll.Height());
  return e;
}

TEST(RectEffectsUnroll, RollMirrorsTheNextStrip) {
  const UnrollCase cases[] = {
      // 200 x 100 at 30 %: w = 60, h = 30, the roll is a tenth wide (20 columns, 10 rows).
      {14, 200, 100, 30, {0, 0, 60, 100}, {60, 0, 80, 100}, 159},
      {15, 200, 100, 30, {140, 0, 200, 100}, {120, 0, 140, 100}, 238},
      {31, 200, 100, 30, {0, 0, 200, 30}, {0, 30, 200, 40}, 79},
      {32, 200, 100, 30, {0, 70, 200, 100}, {0, 60, 200, 70}, 118},
      // At 95 % only 10 columns are left: the roll narrows to 5 and mirrors the last 5.
      {14, 200, 100, 95, {0, 0, 190, 100}, {190, 0, 195, 100}, 389},
      // At 80 % the roll exactly fits (W - w = 2s); the strip it mirrors would start one column
      // before the frame's edge and is held at the edge, so the roll shows columns 19 .. 0.
      {15, 200, 100, 80, {40, 0, 200, 100}, {20, 0, 40, 100}, 39},
      {32, 200, 100, 80, {0, 20, 200, 100}, {0, 10, 200, 20}, 19},
      // At 3 % the part unrolled is narrower than a tenth and the roll is as wide as it.
      {14, 200, 100, 3, {0, 0, 6, 100}, {6, 0, 12, 100}, 23},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(::testing::Message() << "effect " << c.effect << " at " << c.progress << "%");
    const Bitmap frame =
        Compose(c.effect, c.progress, MakeOldPicture(c.width, c.height), MakeNewPicture(c.width, c.height));
    const Bitmap expected = ExpectedUnroll(c);
    EXPECT_EQ(DifferenceOf(frame, expected), "");
  }
}

}  // namespace
}  // namespace lumivor
