// Photos far larger than the frame they are shown in are reduced while they are decoded, so that
// the memory a slideshow takes follows its frame size and not the size of its largest photo.
#pragma once

#include <cstdint>
#include <vector>

#include "raster/raster.h"

namespace lumivor {

// How the picture the caller shows relates to the box of a size hint.
enum class SizeRule {
  Inside,  // fitted inside the box whole (fit, and the sharp photo of blur)
  Cover,   // covering the box, the overflow cut off (fill)
};

// The box a caller is going to show a picture in, in the picture's upright pixels. An empty box
// asks for the picture at its full size, as the effect command and the preview sheet need it.
struct PictureSizeHint {
  int Width = 0;
  int Height = 0;
  SizeRule Rule = SizeRule::Inside;

  bool IsFullSize() const { return Width <= 0 || Height <= 0; }
  // The same box for the picture as the file stores it before a quarter turn.
  PictureSizeHint Turned() const { return {Height, Width, Rule}; }
};

// A reduction beyond this is never chosen: the light of a block (256 x 256 pixels of up to 65535
// steps each) stays within 32 bits. A photo that needs more is reduced this far and scaled the
// rest of the way.
inline constexpr int MaxReductionFactor = 256;

// The smallest size a width x height picture can take and still be shown as hint says without
// being enlarged: each side scaled to the box by the rule, rounded up. Never more than the
// picture's own size.
void NeededSize(int width, int height, const PictureSizeHint& hint, int& neededWidth, int& neededHeight);

// The largest whole factor (1 when none) that the picture's sides can be divided by and still
// keep NeededSize on both of them. PowerOfTwo keeps to 1, 2, 4, 8 and so on.
enum class FactorSteps { Whole, PowerOfTwo };
int ReductionFactor(int width, int height, const PictureSizeHint& hint, FactorSteps steps = FactorSteps::Whole);

// A side divided by factor, rounded up: the last block of a row or column may be narrower.
inline int ReducedSide(int side, int factor) { return (side + factor - 1) / factor; }

// Averages each factor x factor block of a width x height picture into one pixel of out (32 bit,
// ReducedSide of each side; the blocks on the right and bottom edges average what they hold). The
// blocks are averaged as light (LightLevels) and rounded to the nearest level, as the scalers do,
// so fine detail keeps its brightness and a flat colour its exact level.
// Rows given in order, whole and top first, need sums for one row of blocks only; pixels given in
// any order (the passes of an interlaced file) need sums for the whole reduced picture. Pixels are
// 4 bytes, blue, green, red and an ignored fourth byte, already composed over black.
class AreaReducer {
 public:
  enum class Order { RowsInOrder, AnyOrder };
  // Throws std::bad_alloc.
  AreaReducer(int width, int height, int factor, Bitmap& out, Order order = Order::RowsInOrder);

  // Row y, whole and top first (RowsInOrder).
  void AddRow(int y, const std::uint8_t* pixels);
  // count pixels of row y at the columns firstX, firstX + step, ... (AnyOrder).
  void AddPixels(int y, const std::uint8_t* pixels, int firstX, int step, int count);
  // Writes what AnyOrder gathered; nothing to do for RowsInOrder.
  void Finish();

 private:
  void write_band(int band, const std::uint32_t* sums);

  int width_;
  int height_;
  int factor_;
  Order order_;
  Bitmap& out_;
  std::vector<std::uint32_t> sums_;  // blue, green, red per reduced pixel
};

}  // namespace lumivor
