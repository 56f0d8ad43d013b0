#include "app/show/caption_art.h"

#include <pango/pangocairo.h>

#include <algorithm>
#include <cmath>
#include <cstring>
#include <memory>
#include <mutex>
#include <utility>
#include <vector>

#if defined(__SSE2__)
#include <immintrin.h>
#endif

namespace lumivor {

namespace {

// ------------------------------------------------------------------ the libraries' objects

struct GObjectUnref {
  void operator()(void* object) const { g_object_unref(object); }
};
using PangoContextPtr = std::unique_ptr<PangoContext, GObjectUnref>;
using PangoLayoutPtr = std::unique_ptr<PangoLayout, GObjectUnref>;

struct FontDescriptionFree {
  void operator()(PangoFontDescription* description) const { pango_font_description_free(description); }
};
using FontDescriptionPtr = std::unique_ptr<PangoFontDescription, FontDescriptionFree>;

struct FontOptionsDestroy {
  void operator()(cairo_font_options_t* options) const { cairo_font_options_destroy(options); }
};
using FontOptionsPtr = std::unique_ptr<cairo_font_options_t, FontOptionsDestroy>;

struct SurfaceDestroy {
  void operator()(cairo_surface_t* surface) const { cairo_surface_destroy(surface); }
};
using SurfacePtr = std::unique_ptr<cairo_surface_t, SurfaceDestroy>;

struct CairoDestroy {
  void operator()(cairo_t* cairo) const { cairo_destroy(cairo); }
};
using CairoPtr = std::unique_ptr<cairo_t, CairoDestroy>;

struct GFree {
  void operator()(gchar* text) const { g_free(text); }
};
using GTextPtr = std::unique_ptr<gchar, GFree>;

// The one font map of the process and the lock every use of it holds. It lives as long as the
// program: fonts found once are found quickly for every later caption.
std::mutex& text_lock() {
  static std::mutex lock;
  return lock;
}

PangoFontMap* font_map() {
  static PangoFontMap* const map = pango_cairo_font_map_new();
  return map;
}

// Grey antialiasing, not subpixel: a caption is scaled and encoded, and coloured fringes would
// show. Metrics unhinted, so the layout scales with the frame without jumps.
PangoContextPtr new_context() {
  PangoContextPtr context(pango_font_map_create_context(font_map()));
  FontOptionsPtr options(cairo_font_options_create());
  cairo_font_options_set_antialias(options.get(), CAIRO_ANTIALIAS_GRAY);
  cairo_font_options_set_hint_metrics(options.get(), CAIRO_HINT_METRICS_OFF);
  pango_cairo_context_set_font_options(context.get(), options.get());
  return context;
}

// The text as Pango may take it: valid UTF-8 (wrong bytes become U+FFFD), line ends as "\n",
// other control characters as blanks, since they would be drawn as boxes.
std::string clean_text(const std::string& text) {
  const GTextPtr valid(g_utf8_make_valid(text.data(), static_cast<gssize>(text.size())));
  std::string clean;
  clean.reserve(text.size());
  for (const char* p = valid.get(); *p != '\0'; ++p) {
    const unsigned char c = static_cast<unsigned char>(*p);
    if (c == '\r') {
      if (p[1] != '\n') clean += '\n';
    } else if (c < 0x20 && c != '\n') {
      clean += ' ';
    } else {
      clean += static_cast<char>(c);
    }
  }
  return clean;
}

struct TextStyle {
  int PixelSize = 1;
  bool Bold = false;
  int WrapWidth = 1;  // pixels
  int MaxLines = 3;
};

PangoLayoutPtr new_layout(PangoContext* context, const std::string& text, const TextStyle& style) {
  PangoLayoutPtr layout(pango_layout_new(context));
  FontDescriptionPtr font(pango_font_description_from_string(style.Bold ? "Sans Bold" : "Sans Semi-Bold"));
  pango_font_description_set_absolute_size(font.get(), static_cast<double>(style.PixelSize) * PANGO_SCALE);
  pango_layout_set_font_description(layout.get(), font.get());
  pango_layout_set_width(layout.get(), std::max(style.WrapWidth, 1) * PANGO_SCALE);
  pango_layout_set_wrap(layout.get(), PANGO_WRAP_WORD_CHAR);
  pango_layout_set_alignment(layout.get(), PANGO_ALIGN_CENTER);
  // A negative height counts lines: the text ends with an ellipsis after that many.
  pango_layout_set_ellipsize(layout.get(), PANGO_ELLIPSIZE_END);
  pango_layout_set_height(layout.get(), -std::max(style.MaxLines, 1));
  pango_layout_set_text(layout.get(), text.data(), static_cast<int>(text.size()));
  return layout;
}

// The shadow's blur radius and offset, and so the ground left around the text for it.
struct ShadowSize {
  int Radius;
  int Offset;
  int Margin() const { return 2 * Radius + Offset; }
};

ShadowSize shadow_for(int pixelSize) { return {std::max(1, pixelSize / 10), std::max(1, pixelSize / 20)}; }

// Two box blurs in a row: a tent-shaped spread, soft enough for a shadow and linear in the radius.
void box_blur(std::vector<int>& values, int width, int height, int radius) {
  std::vector<int> line(static_cast<std::size_t>(std::max(width, height)));
  const int span = 2 * radius + 1;
  auto blur_line = [&](int count, auto at) {
    int sum = 0;
    for (int i = 0; i < std::min(radius, count); ++i) sum += at(i);
    for (int i = 0; i < count; ++i) {
      if (i + radius < count) sum += at(i + radius);
      line[static_cast<std::size_t>(i)] = sum / span;
      if (i - radius >= 0) sum -= at(i - radius);
    }
    for (int i = 0; i < count; ++i) at(i) = line[static_cast<std::size_t>(i)];
  };
  for (int pass = 0; pass < 2; ++pass) {
    for (int y = 0; y < height; ++y) {
      int* row = values.data() + static_cast<std::size_t>(y) * width;
      blur_line(width, [row](int x) -> int& { return row[x]; });
    }
    for (int x = 0; x < width; ++x) {
      int* column = values.data() + x;
      blur_line(height, [column, width](int y) -> int& { return column[static_cast<std::size_t>(y) * width]; });
    }
  }
}

// Exact for 0..255*255: x / 255 rounded to nearest.
inline int divide_255(int x) { return (x + 128 + ((x + 128) >> 8)) >> 8; }

// The text in white over its shadow, in a premultiplied bitmap sized to both. Holds the text lock.
Bitmap render_text(const std::string& text, const TextStyle& style) {
  const std::string clean = clean_text(text);
  if (clean.find_first_not_of(" \n") == std::string::npos) return Bitmap();
  const ShadowSize shadow = shadow_for(style.PixelSize);
  const int margin = shadow.Margin();

  std::vector<std::uint8_t> pixels;
  int width = 0, height = 0, stride = 0;
  {
    std::scoped_lock lock(text_lock());
    const PangoContextPtr context = new_context();
    const PangoLayoutPtr layout = new_layout(context.get(), clean, style);
    PangoRectangle ink{}, logical{};
    pango_layout_get_pixel_extents(layout.get(), &ink, &logical);
    // Both boxes: accents and emoji may reach past the line's box, and a line of blanks has ink
    // nowhere.
    const int left = std::min(ink.x, logical.x), top = std::min(ink.y, logical.y);
    const int right = std::max(ink.x + ink.width, logical.x + logical.width);
    const int bottom = std::max(ink.y + ink.height, logical.y + logical.height);
    if (right <= left || bottom <= top) return Bitmap();
    width = right - left + 2 * margin;
    height = bottom - top + 2 * margin;
    const SurfacePtr surface(cairo_image_surface_create(CAIRO_FORMAT_ARGB32, width, height));
    if (cairo_surface_status(surface.get()) != CAIRO_STATUS_SUCCESS) return Bitmap();
    const CairoPtr cairo(cairo_create(surface.get()));
    cairo_set_source_rgb(cairo.get(), 1, 1, 1);
    cairo_move_to(cairo.get(), margin - left, margin - top);
    pango_cairo_show_layout(cairo.get(), layout.get());
    cairo_surface_flush(surface.get());
    stride = cairo_image_surface_get_stride(surface.get());
    const std::uint8_t* data = cairo_image_surface_get_data(surface.get());
    if (data == nullptr) return Bitmap();
    pixels.assign(data, data + static_cast<std::size_t>(stride) * height);
  }

  // Cairo's ARGB32 is blue, green, red, alpha in memory on this byte order: the bitmap's own.
  std::vector<int> shade(static_cast<std::size_t>(width) * height, 0);
  for (int y = 0; y + shadow.Offset < height; ++y) {
    const std::uint8_t* row = pixels.data() + static_cast<std::size_t>(y) * stride;
    int* to = shade.data() + static_cast<std::size_t>(y + shadow.Offset) * width + shadow.Offset;
    for (int x = 0; x + shadow.Offset < width; ++x) to[x] = row[4 * x + 3];
  }
  box_blur(shade, width, height, shadow.Radius);

  Bitmap picture(width, height, 32);
  constexpr int ShadowStrength = 200;  // of 255: dark enough on a white sky, not a black slab
  for (int y = 0; y < height; ++y) {
    const std::uint8_t* from = pixels.data() + static_cast<std::size_t>(y) * stride;
    const int* shadeRow = shade.data() + static_cast<std::size_t>(y) * width;
    std::uint8_t* to = picture.ScanLine(y);
    for (int x = 0; x < width; ++x, from += 4, to += 4) {
      const int textAlpha = from[3];
      const int shadowAlpha = divide_255(std::min(shadeRow[x], 255) * ShadowStrength);
      // The text over a black shadow: the shadow adds no colour, only cover.
      to[0] = from[0];
      to[1] = from[1];
      to[2] = from[2];
      to[3] = static_cast<std::uint8_t>(textAlpha + divide_255(shadowAlpha * (255 - textAlpha)));
    }
  }
  return picture;
}

int text_pixels(double share, int frameHeight) { return std::max(1, static_cast<int>(std::lround(share * frameHeight))); }

// One row of a caption over one row of frame, count pixels, the caption first faded to opacity
// when Faded. Captions are drawn on every frame of their photo, so this is on the frame path.
template <int FrameBytes, bool Faded>
void composite_row_plain(const std::uint8_t* from, std::uint8_t* to, int count, int opacity) {
  for (int i = 0; i < count; ++i, from += 4, to += FrameBytes) {
    int alpha = from[3];
    int colour[3] = {from[0], from[1], from[2]};
    if constexpr (Faded) {
      alpha = divide_255(alpha * opacity);
      for (int& c : colour) c = divide_255(c * opacity);
    }
    const int keep = 255 - alpha;
    for (int c = 0; c < 3; ++c) to[c] = static_cast<std::uint8_t>(std::min(255, colour[c] + divide_255(to[c] * keep)));
  }
}

#if defined(__SSE2__)
// divide_255 of eight 16-bit products at once; every step stays within 16 bits for products of
// two bytes.
inline __m128i divide_255_epi16(__m128i x) {
  x = _mm_add_epi16(x, _mm_set1_epi16(128));
  return _mm_srli_epi16(_mm_add_epi16(x, _mm_srli_epi16(x, 8)), 8);
}

// Sixteen bytes of a times sixteen of b, each product divided by 255.
inline __m128i multiply_bytes(__m128i a, __m128i b) {
  const __m128i zero = _mm_setzero_si128();
  const __m128i low = divide_255_epi16(_mm_mullo_epi16(_mm_unpacklo_epi8(a, zero), _mm_unpacklo_epi8(b, zero)));
  const __m128i high = divide_255_epi16(_mm_mullo_epi16(_mm_unpackhi_epi8(a, zero), _mm_unpackhi_epi8(b, zero)));
  return _mm_packus_epi16(low, high);
}
#endif

// The same over 32-bit frames, four pixels at a time where the processor has SSE2, with results
// equal to the plain loop's to the bit.
template <bool Faded>
void composite_row_32(const std::uint8_t* from, std::uint8_t* to, int count, int opacity) {
  int i = 0;
#if defined(__SSE2__)
  const __m128i strength = _mm_set1_epi8(static_cast<char>(opacity));
  const __m128i frameAlpha = _mm_set1_epi32(static_cast<int>(0xFF000000u));
  for (; i + 4 <= count; i += 4) {
    __m128i caption = _mm_loadu_si128(reinterpret_cast<const __m128i*>(from + 4 * i));
    // Four clear pixels leave the frame as it is: the ground around a caption's letters.
    if (_mm_movemask_epi8(_mm_cmpeq_epi32(caption, _mm_setzero_si128())) == 0xFFFF) continue;
    const __m128i frame = _mm_loadu_si128(reinterpret_cast<const __m128i*>(to + 4 * i));
    if constexpr (Faded) caption = multiply_bytes(caption, strength);
    // Each pixel's alpha in all four of its bytes, then 255 - alpha.
    __m128i alpha = _mm_srli_epi32(caption, 24);
    alpha = _mm_or_si128(alpha, _mm_slli_epi32(alpha, 8));
    alpha = _mm_or_si128(alpha, _mm_slli_epi32(alpha, 16));
    const __m128i keep = _mm_xor_si128(alpha, _mm_set1_epi8(static_cast<char>(0xFF)));
    const __m128i blended = _mm_adds_epu8(caption, multiply_bytes(frame, keep));
    // The frame's fourth byte is its own.
    const __m128i result = _mm_or_si128(_mm_andnot_si128(frameAlpha, blended), _mm_and_si128(frameAlpha, frame));
    _mm_storeu_si128(reinterpret_cast<__m128i*>(to + 4 * i), result);
  }
#endif
  composite_row_plain<4, Faded>(from + 4 * i, to + 4 * i, count - i, opacity);
}

#if defined(__SSE2__)
// The same over 24-bit frames, the canvas a run hands the encoder: each group of four frame pixels
// is spread to 32 bits by one byte shuffle, blended as above and packed back. A group is read as
// 16 bytes of which 12 are its pixels, so the loop stops two pixels short of the row's end and the
// last pixels go the plain way; only the group's own 12 bytes are written.
template <bool Faded>
__attribute__((target("ssse3"))) void composite_row_24_ssse3(const std::uint8_t* from, std::uint8_t* to, int count,
                                                             int opacity) {
  const __m128i spread = _mm_setr_epi8(0, 1, 2, -1, 3, 4, 5, -1, 6, 7, 8, -1, 9, 10, 11, -1);
  const __m128i pack = _mm_setr_epi8(0, 1, 2, 4, 5, 6, 8, 9, 10, 12, 13, 14, -1, -1, -1, -1);
  const __m128i strength = _mm_set1_epi8(static_cast<char>(opacity));
  int i = 0;
  for (; i + 6 <= count; i += 4) {
    __m128i caption = _mm_loadu_si128(reinterpret_cast<const __m128i*>(from + 4 * i));
    if (_mm_movemask_epi8(_mm_cmpeq_epi32(caption, _mm_setzero_si128())) == 0xFFFF) continue;
    std::uint8_t* pixels = to + 3 * i;
    const __m128i frame = _mm_shuffle_epi8(_mm_loadu_si128(reinterpret_cast<const __m128i*>(pixels)), spread);
    if constexpr (Faded) caption = multiply_bytes(caption, strength);
    __m128i alpha = _mm_srli_epi32(caption, 24);
    alpha = _mm_or_si128(alpha, _mm_slli_epi32(alpha, 8));
    alpha = _mm_or_si128(alpha, _mm_slli_epi32(alpha, 16));
    const __m128i keep = _mm_xor_si128(alpha, _mm_set1_epi8(static_cast<char>(0xFF)));
    const __m128i blended = _mm_shuffle_epi8(_mm_adds_epu8(caption, multiply_bytes(frame, keep)), pack);
    _mm_storel_epi64(reinterpret_cast<__m128i*>(pixels), blended);
    const int last = _mm_cvtsi128_si32(_mm_srli_si128(blended, 8));
    std::memcpy(pixels + 8, &last, 4);
  }
  composite_row_plain<3, Faded>(from + 4 * i, to + 3 * i, count - i, opacity);
}
#endif

using CompositeRow = void (*)(const std::uint8_t*, std::uint8_t*, int, int);

// The row blend for this frame depth and processor.
CompositeRow choose_composite_row(int frameBytes, bool faded) {
  if (frameBytes == 4) return faded ? composite_row_32<true> : composite_row_32<false>;
#if defined(__SSE2__)
  static const bool shuffles = __builtin_cpu_supports("ssse3");
  if (shuffles) return faded ? composite_row_24_ssse3<true> : composite_row_24_ssse3<false>;
#endif
  return faded ? composite_row_plain<3, true> : composite_row_plain<3, false>;
}

void composite_rows(Bitmap& frame, const Bitmap& caption, int x, int y, int opacity) {
  const int bytes = frame.BytesPerPixel();
  const CompositeRow blend_row = choose_composite_row(bytes, opacity < 255);
  const int left = std::max(x, 0), right = std::min(x + caption.Width(), frame.Width());
  const int top = std::max(y, 0), bottom = std::min(y + caption.Height(), frame.Height());
  if (left >= right || top >= bottom) return;
  for (int row = top; row < bottom; ++row) {
    const std::uint8_t* from = caption.ScanLine(row - y) + 4 * static_cast<std::size_t>(left - x);
    std::uint8_t* to = frame.ScanLine(row) + static_cast<std::size_t>(bytes) * left;
    blend_row(from, to, right - left, opacity);
  }
}

}  // namespace

Rect SafeArea(int frameWidth, int frameHeight) {
  const int w = std::max(frameWidth, 0), h = std::max(frameHeight, 0);
  const int marginX = static_cast<int>(std::lround(w * 0.05)), marginY = static_cast<int>(std::lround(h * 0.05));
  return {marginX, marginY, w - marginX, h - marginY};
}

Bitmap RenderCaption(const std::string& text, int frameWidth, int frameHeight) {
  if (frameWidth <= 0 || frameHeight <= 0) return Bitmap();
  TextStyle style;
  style.PixelSize = text_pixels(CaptionTextHeight, frameHeight);
  style.WrapWidth = SafeArea(frameWidth, frameHeight).Width() - 2 * shadow_for(style.PixelSize).Margin();
  return render_text(text, style);
}

Point CaptionPosition(const Bitmap& caption, int frameWidth, int frameHeight) {
  const Rect safe = SafeArea(frameWidth, frameHeight);
  Point at{(frameWidth - caption.Width()) / 2, safe.Bottom - caption.Height()};
  // Taller than the safe area (a tiny frame): centred, so that the cut is shared by both edges.
  if (at.Y < safe.Top) at.Y = (frameHeight - caption.Height()) / 2;
  return at;
}

Bitmap RenderTitleCard(const std::string& title, const std::string& subtitle, int frameWidth, int frameHeight) {
  Bitmap card(std::max(frameWidth, 0), std::max(frameHeight, 0), 32);
  if (card.IsEmpty()) return card;
  // A dark slate at the top deepening to black: a card, yet no jump from the black the show
  // opens and closes on.
  for (int y = 0; y < card.Height(); ++y) {
    const double depth = 1.0 - static_cast<double>(y) / card.Height();
    const auto level = [depth](double top) { return static_cast<std::uint8_t>(std::lround(top * depth)); };
    const std::uint8_t blue = level(38), green = level(28), red = level(24);
    std::uint8_t* row = card.ScanLine(y);
    for (int x = 0; x < card.Width(); ++x, row += 4) {
      row[0] = blue;
      row[1] = green;
      row[2] = red;
      row[3] = 0;
    }
  }
  const Rect safe = SafeArea(frameWidth, frameHeight);
  TextStyle titleStyle{text_pixels(TitleTextHeight, frameHeight), true, 1, 3};
  titleStyle.WrapWidth = safe.Width() - 2 * shadow_for(titleStyle.PixelSize).Margin();
  TextStyle subtitleStyle{text_pixels(SubtitleTextHeight, frameHeight), false, 1, 3};
  subtitleStyle.WrapWidth = safe.Width() - 2 * shadow_for(subtitleStyle.PixelSize).Margin();
  const Bitmap titleText = render_text(title, titleStyle);
  const Bitmap subtitleText = render_text(subtitle, subtitleStyle);

  // The two blocks stand as one, centred; their shadow grounds overlap, the text does not.
  const int titleMargin = titleText.IsEmpty() ? 0 : shadow_for(titleStyle.PixelSize).Margin();
  const int subtitleMargin = subtitleText.IsEmpty() ? 0 : shadow_for(subtitleStyle.PixelSize).Margin();
  const int gap = titleText.IsEmpty() || subtitleText.IsEmpty() ? 0 : subtitleStyle.PixelSize / 2;
  const int subtitleFromTop =
      titleText.IsEmpty() ? 0 : titleText.Height() - titleMargin - subtitleMargin + gap;
  const int total = subtitleText.IsEmpty() ? titleText.Height() : subtitleFromTop + subtitleText.Height();
  const int top = (frameHeight - total) / 2;
  if (!titleText.IsEmpty()) CompositeCaption(card, titleText, (frameWidth - titleText.Width()) / 2, top, 255);
  if (!subtitleText.IsEmpty()) {
    CompositeCaption(card, subtitleText, (frameWidth - subtitleText.Width()) / 2, top + subtitleFromTop, 255);
  }
  return card;
}

void CompositeCaption(Bitmap& frame, const Bitmap& caption, int x, int y, int opacity) {
  if (frame.BitsPerPixel() != 24 && frame.BitsPerPixel() != 32) return;
  if (caption.BitsPerPixel() != 32 || caption.IsEmpty() || frame.IsEmpty()) return;
  opacity = std::clamp(opacity, 0, 255);
  if (opacity == 0) return;
  std::scoped_lock lock(frame.Lock());
  composite_rows(frame, caption, x, y, opacity);
}

bool FontsCoverText(const std::string& text) {
  const std::string clean = clean_text(text);
  std::scoped_lock lock(text_lock());
  const PangoContextPtr context = new_context();
  TextStyle style;
  style.PixelSize = 20;
  style.WrapWidth = 100000;
  style.MaxLines = 1000;
  const PangoLayoutPtr layout = new_layout(context.get(), clean, style);
  return pango_layout_get_unknown_glyphs_count(layout.get()) == 0;
}

void CaptionLayer::Reset(int frameWidth, int frameHeight) {
  ahead_.reset();
  frameWidth_ = std::max(frameWidth, 0);
  frameHeight_ = std::max(frameHeight, 0);
  for (Kept& kept : kept_) kept = Kept{};
  keeps_ = 0;
  renders_ = 0;
}

CaptionLayer::Made CaptionLayer::make(const std::function<std::string(int)>& text, int index, int frameWidth,
                                      int frameHeight) {
  Made made;
  made.Index = index;
  const std::string words = text(index);
  if (words.empty()) return made;
  made.Rendered = true;
  made.Picture = RenderCaption(words, frameWidth, frameHeight);
  made.At = CaptionPosition(made.Picture, frameWidth, frameHeight);
  return made;
}

const CaptionLayer::Kept* CaptionLayer::find(int index) const {
  for (const Kept& kept : kept_)
    if (kept.Order != 0 && kept.Caption.Index == index) return &kept;
  return nullptr;
}

// The one kept longest ago goes: the other is the picture a transition takes away while this one
// comes in. Going by the order of keeping, not of index, holds after a seek backwards too.
const CaptionLayer::Kept& CaptionLayer::keep(Made caption) {
  if (caption.Rendered) ++renders_;
  Kept& slot = *std::min_element(kept_.begin(), kept_.end(),
                                 [](const Kept& a, const Kept& b) { return a.Order < b.Order; });
  slot.Caption = std::move(caption);
  slot.Order = ++keeps_;
  return slot;
}

void CaptionLayer::Prepare(int index, int aheadIndex) {
  if (!Text) return;
  if (index >= 0 && find(index) == nullptr) {
    if (ahead_ && ahead_->Index == index) {
      std::future<Made> made = std::move(ahead_->Caption);
      ahead_.reset();
      keep(made.get());
    } else {
      keep(make(Text, index, frameWidth_, frameHeight_));
    }
  }
  if (aheadIndex < 0 || find(aheadIndex) != nullptr || (ahead_ && ahead_->Index == aheadIndex)) return;
  ahead_.reset();
  // The thread works on its own copies: the layer may be reset or its text changed meanwhile.
  ahead_ = Ahead{aheadIndex, std::async(std::launch::async,
                                        [text = Text, aheadIndex, width = frameWidth_, height = frameHeight_] {
                                          return make(text, aheadIndex, width, height);
                                        })};
}

void CaptionLayer::Draw(Bitmap& canvas, int index, int opacity) {
  if (!Text || index < 0 || opacity <= 0) return;
  const Kept* kept = find(index);
  if (kept == nullptr) {
    Prepare(index, -1);
    kept = find(index);
  }
  if (kept == nullptr || kept->Caption.Picture.IsEmpty()) return;
  CompositeCaption(canvas, kept->Caption.Picture, kept->Caption.At.X, kept->Caption.At.Y, opacity);
}

}  // namespace lumivor

#if defined(__has_feature)
#if __has_feature(address_sanitizer)
#define LUMIVOR_LEAK_CHECKED 1
#endif
#endif
#if defined(__SANITIZE_ADDRESS__) || defined(LUMIVOR_LEAK_CHECKED)
// Fontconfig, which Pango finds fonts through, keeps its configuration and caches for the life of
// the process where the leak checker cannot follow them, and cannot be shut down while a font map
// lives. Blocks allocated inside it are passed over; nothing else is. Weak, so that a program with
// suppressions of its own keeps them (and must list this library too).
extern "C" __attribute__((weak)) const char* __lsan_default_suppressions() { return "leak:libfontconfig.so\n"; }
#endif
