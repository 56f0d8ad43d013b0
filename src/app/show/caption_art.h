// Words on the show's pictures: a caption under a photo and a title card before the first one.
// Text is laid out by Pango (any script, right-to-left lines, emoji, a font found for every
// character the machine has one for) and drawn by Cairo, then handed on as plain bitmaps.
//
// Threads: any thread may render. Pango's font maps and Cairo's font caches must not be used by
// two threads at once, so every render in the process goes through one font map under one lock;
// a caption is rendered once per photo (by the thread that reads the frames, the engine's reading
// worker during a run) and only the compositing, which uses no library, runs per frame.
#pragma once

#include <array>
#include <cstdint>
#include <functional>
#include <future>
#include <optional>
#include <string>

#include "raster/raster.h"

namespace lumivor {

// The central 90 % of the frame each way: what a television's overscan never cuts, and where
// words sit clear of the edges on any screen.
Rect SafeArea(int frameWidth, int frameHeight);

// Text heights, as parts of the frame's height: they scale with the frame, so a caption covers
// the same share of a small preview and of the full-size video.
inline constexpr double CaptionTextHeight = 0.045;
inline constexpr double TitleTextHeight = 0.08;
inline constexpr double SubtitleTextHeight = 0.05;

// A caption for a frame of this size: white text with a soft dark shadow on a transparent ground,
// wrapped to the safe area's width (three lines at most, the last one ellipsised), in a 32-bit
// bitmap of premultiplied blue, green, red and alpha that is just large enough for the text and
// its shadow. Empty for an empty text or a frame without pixels. Text that is not UTF-8 has its
// wrong bytes replaced rather than refused: a caption must never stop a show.
Bitmap RenderCaption(const std::string& text, int frameWidth, int frameHeight);

// Where a rendered caption goes in the frame (its top-left corner): centred across, resting on
// the safe area's bottom edge, so that the whole picture, shadow included, lies in the safe area
// whenever it fits there.
Point CaptionPosition(const Bitmap& caption, int frameWidth, int frameHeight);

// A title card of the frame's size: a dark backdrop with the title and, below it, the subtitle,
// both centred. 32-bit with the fourth byte 0, as the photo readers return pictures, so that the
// card can be shown as any photo is. Either text may be empty.
Bitmap RenderTitleCard(const std::string& title, const std::string& subtitle, int frameWidth, int frameHeight);

// Lays a premultiplied caption over a 24- or 32-bit frame with its top-left corner at (x, y) in
// frame coordinates, its strength scaled by opacity (0 leaves the frame alone, 255 is the caption
// as drawn). Only the part over the frame is drawn; the frame's fourth byte is kept.
void CompositeCaption(Bitmap& frame, const Bitmap& caption, int x, int y, int opacity);

// True when the machine's fonts have a glyph for every character of text; false when some would
// be drawn as a box of hex digits.
bool FontsCoverText(const std::string& text);

// The captions of one show as the frames are made. Each picture's caption is rendered once, as
// its photo is loaded: the next one's is made on another thread while the frames before it are
// served, so neither a caption's text (which may mean reading the photo's Exif block) nor its
// drawing is on the frame path. The two last made are kept, since a transition shows two pictures.
// Used by one thread at a time, like the sequencer.
class CaptionLayer {
 public:
  // The caption of the show's picture number index (from 0); empty for none. Unset: no captions,
  // and the layer does no work at all. It is called on the layer's own threads too, so it must
  // only read what it holds.
  std::function<std::string(int index)> Text;

  CaptionLayer() = default;
  // Waits for a caption still being made ahead.
  ~CaptionLayer() = default;
  CaptionLayer(const CaptionLayer&) = delete;
  CaptionLayer& operator=(const CaptionLayer&) = delete;

  bool Active() const { return static_cast<bool>(Text); }
  // A new run at a frame size: rendered captions, and one being made ahead, are forgotten.
  void Reset(int frameWidth, int frameHeight);
  // Makes picture index's caption ready to draw: taken from the one made ahead when it is that
  // picture's, else rendered now; nothing when it is kept already. Then starts making picture
  // aheadIndex's (a negative number: none).
  void Prepare(int index, int aheadIndex);
  // Lays picture index's caption over canvas at opacity (0..255); nothing when it has none.
  // A caption not prepared is rendered here, so a draw is never wrong, only slower.
  void Draw(Bitmap& canvas, int index, int opacity);
  // How many captions were rendered since the last Reset, made ahead or not.
  int Renders() const { return renders_; }

 private:
  struct Made {
    int Index = -1;
    bool Rendered = false;
    Bitmap Picture;
    Point At;
  };
  struct Kept {
    Made Caption;
    std::uint64_t Order = 0;
  };
  struct Ahead {
    int Index = -1;
    std::future<Made> Caption;
  };
  static Made make(const std::function<std::string(int)>& text, int index, int frameWidth, int frameHeight);
  const Kept* find(int index) const;
  const Kept& keep(Made caption);

  int frameWidth_ = 0;
  int frameHeight_ = 0;
  std::uint64_t keeps_ = 0;
  int renders_ = 0;
  std::array<Kept, 2> kept_;
  // Last, so that it goes first: its thread uses only its own copies.
  std::optional<Ahead> ahead_;
};

}  // namespace lumivor
