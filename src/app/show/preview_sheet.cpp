#include "app/show/preview_sheet.h"

#include <algorithm>
#include <cmath>
#include <new>

#include "app/show/contact_sheet.h"
#include "app/show/frame_sequencer.h"
#include "app/photos/photo_loader.h"
#include "app/photos/picture_file.h"

namespace lumivor {

namespace {

constexpr std::uint32_t Background = 0x00282828;
constexpr std::uint32_t PhotoLabelColour = 0x00F0F0F0;
constexpr std::uint32_t EffectLabelColour = 0x0090C8FF;

struct SheetLayout {
  int Factor = 1;  // frame pixels per tile pixel along each side
  int TileWidth = 0, TileHeight = 0;
  int Scale = 1, Gap = 2, LabelHeight = 0;
  int Columns = 1, Rows = 1;
  std::int64_t Width = 0, Height = 0;

  Rect Tile(int i) const {
    const int left = Gap + (i % Columns) * (TileWidth + Gap);
    const int top = Gap + (i / Columns) * (TileHeight + LabelHeight + Gap);
    return {left, top, left + TileWidth, top + TileHeight};
  }
};

SheetLayout sheet_layout(int frameWidth, int frameHeight, int tiles) {
  SheetLayout layout;
  layout.Factor = std::max(1, (frameWidth + PreviewTileMaxWidth - 1) / PreviewTileMaxWidth);
  layout.TileWidth = std::max(1, frameWidth / layout.Factor);
  layout.TileHeight = std::max(1, frameHeight / layout.Factor);
  layout.Scale = std::clamp(layout.TileHeight / 40, 1, 4);
  layout.Gap = std::max(2, layout.Scale * 2);
  layout.LabelHeight = 5 * layout.Scale + layout.Gap;
  // Columns so that the sheet comes out about as wide as it is tall.
  const double aspect = static_cast<double>(layout.TileHeight + layout.LabelHeight) / layout.TileWidth;
  layout.Columns = std::clamp(static_cast<int>(std::ceil(std::sqrt(tiles * aspect))), 1, std::max(tiles, 1));
  layout.Rows = (tiles + layout.Columns - 1) / layout.Columns;
  layout.Width = layout.Gap + std::int64_t{layout.Columns} * (layout.TileWidth + layout.Gap);
  layout.Height = layout.Gap + std::int64_t{layout.Rows} * (layout.TileHeight + layout.LabelHeight + layout.Gap);
  return layout;
}

// Each tile pixel is the average of a factor x factor block of the frame, so that a shrunk frame
// shows what the frame shows instead of every factor-th pixel of it.
void draw_tile(Bitmap& sheet, const Rect& tile, const Bitmap& frame, int factor) {
  const int area = factor * factor;
  for (int y = 0; y < tile.Height(); ++y) {
    for (int x = 0; x < tile.Width(); ++x) {
      std::uint32_t sums[3] = {0, 0, 0};
      for (int dy = 0; dy < factor; ++dy) {
        const std::uint8_t* row = frame.ScanLine(y * factor + dy) + std::size_t{4} * x * factor;
        for (int dx = 0; dx < factor; ++dx)
          for (int c = 0; c < 3; ++c) sums[c] += row[4 * dx + c];
      }
      std::uint32_t colour = 0;
      for (int c = 0; c < 3; ++c) colour |= ((sums[c] + area / 2) / area) << (8 * c);
      sheet.SetPixel(tile.Left + x, tile.Top + y, colour);
    }
  }
}

}  // namespace

std::vector<PreviewFrame> PreviewFrames(int photoCount, int holdFrames, int transitionFrames) {
  return PreviewFrames(UniformTiming(photoCount, holdFrames, transitionFrames));
}

std::vector<PreviewFrame> PreviewFrames(const ShowTiming& timing) {
  std::vector<PreviewFrame> frames;
  const std::size_t photoCount = timing.HoldFrames.size();
  if (photoCount < 1 || timing.TransitionFrames.size() < photoCount + 1) return frames;
  frames.reserve(2 * photoCount + 1);
  const auto length = [](int frames) { return std::int64_t{std::max(frames, 1)}; };
  frames.push_back({length(timing.TransitionFrames[0]) / 2, true, 1});
  // Photo i's hold starts after i + 1 transitions and i holds; the transition after it after
  // its hold.
  std::int64_t holdStart = length(timing.TransitionFrames[0]);
  for (std::size_t i = 0; i < photoCount; ++i) {
    const int photo = static_cast<int>(i) + 1;
    const std::int64_t next = holdStart + length(timing.HoldFrames[i]);
    frames.push_back({holdStart, false, photo});
    frames.push_back({next + length(timing.TransitionFrames[i + 1]) / 2, true, photo + 1});
    holdStart = next + length(timing.TransitionFrames[i + 1]);
  }
  return frames;
}

bool RenderPreviewSheet(FrameSequencer& sequencer, Bitmap& sheet, std::string& errorText, std::vector<Rect>* tiles) {
  const int photoCount = sequencer.Photos ? static_cast<int>(sequencer.Photos().size()) : 0;
  if (photoCount < 1) {
    errorText = "no photos for the preview sheet";
    return false;
  }
  const int frameWidth = sequencer.FrameWidth(), frameHeight = sequencer.FrameHeight();
  if (frameWidth < 1 || frameHeight < 1) {
    errorText = "the frame size is not set";
    return false;
  }
  const std::vector<PreviewFrame> shown = PreviewFrames(sequencer.Timing());
  const SheetLayout layout = sheet_layout(frameWidth, frameHeight, static_cast<int>(shown.size()));
  if (layout.Width * layout.Height > MaxPicturePixels) {
    errorText = "preview sheet of " + std::to_string(layout.Width) + "x" + std::to_string(layout.Height) +
                " pixels would be too large; choose fewer photos";
    return false;
  }

  try {
    Bitmap result(static_cast<int>(layout.Width), static_cast<int>(layout.Height), 32);
    result.Fill(Background);
    Bitmap frame(frameWidth, frameHeight, 32);
    // The frames between the shown ones still go through the sequencer, so that every effect and
    // every move comes out as in the run; copying them only into one pixel keeps long holds cheap.
    Bitmap skipped(1, 1, 32);
    std::vector<Rect> places;
    std::int64_t index = 0;
    for (std::size_t i = 0; i < shown.size(); ++i) {
      for (; index < shown[i].Index; ++index) {
        if (sequencer.ReadFrameCanvas(skipped) < 0) break;
      }
      // Read before the frame: the last frame of a transition already moves on to the next effect.
      const int effect = sequencer.EffectNumber();
      if (sequencer.ReadFrameCanvas(frame) < 0) {
        errorText = "the show ended before its planned frames";
        return false;
      }
      ++index;
      const Rect tile = layout.Tile(static_cast<int>(i));
      draw_tile(result, tile, frame, layout.Factor);
      const int number = shown[i].Transition ? effect : shown[i].Photo;
      DrawNumber(result, tile.Left + (tile.Width() - NumberWidth(number, layout.Scale)) / 2,
                 tile.Bottom + layout.Gap / 2, number, layout.Scale,
                 shown[i].Transition ? EffectLabelColour : PhotoLabelColour);
      places.push_back(tile);
    }
    sheet = std::move(result);
    if (tiles != nullptr) *tiles = std::move(places);
    return true;
  } catch (const PhotoLoadError& error) {
    errorText = error.what();
  } catch (const std::bad_alloc&) {
    errorText = "not enough memory for the preview sheet";
  }
  return false;
}

}  // namespace lumivor
