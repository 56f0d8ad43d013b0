#include "app/show/contact_sheet.h"

#include <algorithm>
#include <cstdint>
#include <new>
#include <string>

#include "app/photos/picture_file.h"
#include "raster/picture_scale.h"
#include "app/samples/sample_pictures.h"
#include "effects/effect.h"
#include "effects/random.h"

namespace lumivor {

namespace {

constexpr std::uint32_t Background = 0x00282828;
constexpr std::uint32_t LabelColour = 0x00F0F0F0;
constexpr std::uint32_t HeaderColour = 0x0090C8FF;

// Digits 3 pixels wide and 5 high, one row of 3 bits per line, top line first: enough to find an
// effect by its number without a font library.
constexpr std::uint8_t DigitGlyphs[10][5] = {
    {7, 5, 5, 5, 7}, {2, 6, 2, 2, 7}, {7, 1, 7, 4, 7}, {7, 1, 7, 1, 7}, {5, 5, 7, 1, 1},
    {7, 4, 7, 1, 7}, {7, 4, 7, 5, 7}, {7, 1, 1, 1, 1}, {7, 5, 7, 5, 7}, {7, 5, 7, 1, 7},
};

void fill_rect(Bitmap& b, int left, int top, int width, int height, std::uint32_t colour) {
  const int right = std::min(left + width, b.Width()), bottom = std::min(top + height, b.Height());
  for (int y = std::max(top, 0); y < bottom; ++y)
    for (int x = std::max(left, 0); x < right; ++x) b.SetPixel(x, y, colour);
}

}  // namespace

// Each glyph pixel becomes a scale x scale block; digits are one block apart.
int NumberWidth(int number, int scale) { return static_cast<int>(std::to_string(number).size()) * 4 * scale - scale; }

void DrawNumber(Bitmap& b, int left, int top, int number, int scale, std::uint32_t colour) {
  for (char digit : std::to_string(number)) {
    const auto& glyph = DigitGlyphs[digit - '0'];
    for (int row = 0; row < 5; ++row)
      for (int column = 0; column < 3; ++column)
        if (glyph[row] & (4 >> column)) fill_rect(b, left + column * scale, top + row * scale, scale, scale, colour);
    left += 4 * scale;
  }
}

namespace {

// Averaged, not every n-th pixel: a detailed photo shrunk to a small cell would otherwise show
// moire that no transition makes.
Bitmap fit_to_cell(const Bitmap& picture, int width, int height) {
  Bitmap cell(width, height, 32);
  ScaleArea(cell, {0, 0, width, height}, picture,
            {0, 0, static_cast<double>(picture.Width()), static_cast<double>(picture.Height())});
  return cell;
}

// Where everything goes on a sheet of cells of one size.
struct SheetLayout {
  int Scale, Gap, LabelWidth, HeaderHeight;
  std::int64_t Width, Height;
};

SheetLayout sheet_layout(int cellWidth, int cellHeight, int rows) {
  SheetLayout layout{};
  // Labels grow with the cells so they stay readable next to large frames and small next to tiny ones.
  layout.Scale = std::clamp(cellHeight / 30, 1, 8);
  layout.Gap = std::max(2, layout.Scale * 2);
  layout.LabelWidth = NumberWidth(EffectCount, layout.Scale) + 2 * layout.Gap;
  layout.HeaderHeight = 5 * layout.Scale + 2 * layout.Gap;
  const auto columns = static_cast<std::int64_t>(std::size(ContactSheetProgress));
  layout.Width = layout.LabelWidth + columns * (cellWidth + layout.Gap);
  layout.Height = layout.HeaderHeight + static_cast<std::int64_t>(rows) * (cellHeight + layout.Gap);
  return layout;
}

bool check_layout(const SheetLayout& layout, int rows, std::string& errorText) {
  if (rows == 0) {
    errorText = "no effects for the contact sheet";
    return false;
  }
  if (layout.Width * layout.Height > MaxPicturePixels) {
    errorText = "contact sheet of " + std::to_string(layout.Width) + "x" + std::to_string(layout.Height) +
                " pixels would be too large; choose smaller cells or fewer effects";
    return false;
  }
  return true;
}

}  // namespace

bool RenderContactSheet(const Bitmap& oldPicture, const Bitmap& newPicture, const std::vector<int>& effects,
                        std::uint32_t randomSeed, Bitmap& sheet, std::string& errorText) {
  const int cellWidth = oldPicture.Width(), cellHeight = oldPicture.Height();
  const int columns = static_cast<int>(std::size(ContactSheetProgress));
  const int rows = static_cast<int>(effects.size());
  const SheetLayout layout = sheet_layout(cellWidth, cellHeight, rows);
  if (!check_layout(layout, rows, errorText)) return false;
  const int scale = layout.Scale, gap = layout.Gap, labelWidth = layout.LabelWidth;
  const int headerHeight = layout.HeaderHeight;
  const std::int64_t width = layout.Width, height = layout.Height;
  try {
    sheet.Resize(static_cast<int>(width), static_cast<int>(height), 32);
  } catch (const std::bad_alloc&) {
    errorText = "not enough memory for the contact sheet";
    return false;
  }
  sheet.Fill(Background);

  for (int c = 0; c < columns; ++c) {
    const int number = ContactSheetProgress[c];
    const int left = labelWidth + c * (cellWidth + gap) + (cellWidth - NumberWidth(number, scale)) / 2;
    DrawNumber(sheet, left, gap, number, scale, HeaderColour);
  }

  Bitmap frame;
  for (int r = 0; r < rows; ++r) {
    const int top = headerHeight + r * (cellHeight + gap);
    DrawNumber(sheet, labelWidth - gap - NumberWidth(effects[r], scale), top + (cellHeight - 5 * scale) / 2,
                effects[r], scale, LabelColour);
    for (int c = 0; c < columns; ++c) {
      RandomSeed = randomSeed;
      ComposeTransitionFrame(frame, oldPicture, newPicture, effects[r], ContactSheetProgress[c]);
      CopyRect(sheet, labelWidth + c * (cellWidth + gap), top, cellWidth, cellHeight, frame, 0, 0);
    }
  }
  return true;
}

bool ComposeContactSheet(const Bitmap* oldPicture, const Bitmap* newPicture, int cellWidth, int cellHeight,
                         const std::vector<int>& effects, Bitmap& sheet, std::string& errorText) {
  if (!oldPicture != !newPicture) {
    errorText = "the contact sheet needs both pictures or neither";
    return false;
  }
  if (cellWidth < 1 || cellHeight < 1) {
    errorText = "contact sheet cells of " + std::to_string(cellWidth) + "x" + std::to_string(cellHeight) +
                " pixels are not a size";
    return false;
  }
  // The sheet's own size check comes first, so that an impossible request costs no pictures.
  if (!check_layout(sheet_layout(cellWidth, cellHeight, static_cast<int>(effects.size())),
                    static_cast<int>(effects.size()), errorText))
    return false;
  Bitmap oldCell, newCell;
  try {
    if (oldPicture) {
      if (oldPicture->Width() != newPicture->Width() || oldPicture->Height() != newPicture->Height()) {
        errorText = "the pictures differ in size";
        return false;
      }
      oldCell = fit_to_cell(*oldPicture, cellWidth, cellHeight);
      newCell = fit_to_cell(*newPicture, cellWidth, cellHeight);
    } else {
      oldCell = MakeSamplePicture(SamplePicture::Landscape, cellWidth, cellHeight);
      newCell = MakeSamplePicture(SamplePicture::Pattern, cellWidth, cellHeight);
    }
  } catch (const std::bad_alloc&) {
    errorText = "not enough memory for the contact sheet";
    return false;
  }
  newCell.SetSourceSeed(DefaultSourceSeed);
  return RenderContactSheet(oldCell, newCell, effects, DefaultRandomSeed, sheet, errorText);
}

}  // namespace lumivor
