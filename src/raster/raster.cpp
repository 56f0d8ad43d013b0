#include "raster/raster.h"

#include <algorithm>
#include <cassert>
#include <cstdlib>
#include <cstring>

#include "raster/short_copy.h"

namespace lumivor {

int RowStride(int width, int bitsPerPixel) {
  const long long bits = static_cast<long long>(std::max(width, 0)) * bitsPerPixel;
  return static_cast<int>((bits + 31) / 32 * 4);
}

Bitmap::Bitmap(int width, int height, int bitsPerPixel) { Resize(width, height, bitsPerPixel); }

void Bitmap::Resize(int width, int height, int bitsPerPixel) {
  assert(bitsPerPixel == 8 || bitsPerPixel == 16 || bitsPerPixel == 24 || bitsPerPixel == 32);
  width_ = std::max(width, 0);
  height_ = std::max(height, 0);
  bitsPerPixel_ = bitsPerPixel;
  stride_ = RowStride(width_, bitsPerPixel_);
  pixels_.resize(ImageSize());
  if (bitsPerPixel_ == 8 && palette_.empty()) palette_.resize(256);
}

void Bitmap::Assign(const Bitmap& other) {
  if (this == &other) return;
  Resize(other.width_, other.height_, other.bitsPerPixel_);
  std::memcpy(pixels_.data(), other.pixels_.data(), other.ImageSize());
  palette_ = other.palette_;
  sourceSeed_ = other.sourceSeed_;
}

void Bitmap::Fill(std::uint32_t bgra) {
  for (int y = 0; y < height_; ++y)
    for (int x = 0; x < width_; ++x) SetPixel(x, y, bgra);
}

std::uint32_t Bitmap::Pixel(int x, int y) const {
  assert(x >= 0 && x < width_ && y >= 0 && y < height_);
  const std::uint8_t* p = ScanLine(y);
  switch (bitsPerPixel_) {
    case 32: {
      std::uint32_t v;
      std::memcpy(&v, p + 4 * x, 4);
      return v;
    }
    case 24:
      return p[3 * x] | (p[3 * x + 1] << 8) | (p[3 * x + 2] << 16);
    case 16:
      return p[2 * x] | (p[2 * x + 1] << 8);
    default:
      return p[x];
  }
}

void Bitmap::SetPixel(int x, int y, std::uint32_t bgra) {
  assert(x >= 0 && x < width_ && y >= 0 && y < height_);
  std::uint8_t* p = ScanLine(y);
  switch (bitsPerPixel_) {
    case 32:
      std::memcpy(p + 4 * x, &bgra, 4);
      break;
    case 24:
      p[3 * x] = bgra & 0xFF;
      p[3 * x + 1] = (bgra >> 8) & 0xFF;
      p[3 * x + 2] = (bgra >> 16) & 0xFF;
      break;
    case 16:
      p[2 * x] = bgra & 0xFF;
      p[2 * x + 1] = (bgra >> 8) & 0xFF;
      break;
    default:
      p[x] = bgra & 0xFF;
  }
}

namespace {

// The half-open index range [first, last) of an operation clipped so that both the destination
// position base + i and the source position sourceBase + i stay inside their pictures.
struct IndexRange {
  long long first;
  long long last;
  bool IsEmpty() const { return last <= first; }
};

IndexRange ClipIndexes(long long count, long long base, long long limit, long long sourceBase, long long sourceLimit) {
  return {std::max({0LL, -base, -sourceBase}), std::min({count, limit - base, sourceLimit - sourceBase})};
}

}  // namespace

void CopyRect(Bitmap& D, int dx, int dy, int cw, int ch, const Bitmap& S, int sx, int sy) {
  assert(D.BitsPerPixel() == S.BitsPerPixel());
  if (cw <= 0 || ch <= 0) return;
  const IndexRange columns = ClipIndexes(cw, dx, D.Width(), sx, S.Width());
  const IndexRange rows = ClipIndexes(ch, dy, D.Height(), sy, S.Height());
  if (columns.IsEmpty() || rows.IsEmpty()) return;

  const int bytes = D.BytesPerPixel();
  const std::size_t rowBytes = static_cast<std::size_t>(columns.last - columns.first) * bytes;
  const long long destColumn = dx + columns.first;
  const long long sourceColumn = sx + columns.first;
  auto copyRow = [&](long long j) {
    // memmove: within one picture a row may overlap itself.
    std::memmove(D.ScanLine(static_cast<int>(dy + j)) + destColumn * bytes,
                 S.ScanLine(static_cast<int>(sy + j)) + sourceColumn * bytes, rowBytes);
  };
  // Within one picture, a move downwards must write the lowest rows first so that no source row is
  // overwritten before it has been read.
  if (&D == &S && dy > sy) {
    for (long long j = rows.last - 1; j >= rows.first; --j) copyRow(j);
  } else {
    for (long long j = rows.first; j < rows.last; ++j) copyRow(j);
  }
}

namespace {

std::uint32_t LoadPixel(const std::uint8_t* p) {
  std::uint32_t v;
  std::memcpy(&v, p, 4);
  return v;
}

void StorePixel(std::uint8_t* p, std::uint32_t v) { std::memcpy(p, &v, 4); }

// Position k of a scaled axis: destination base + k (or base - k when mirrored) shows source
// position sourceBase + k * |sourceSize| / |destSize| (mirrored the same way).
long long ScaledSource(long long k, int sourceBase, int sourceSize, int destSize) {
  const long long offset = k * std::llabs(sourceSize) / std::llabs(destSize);
  return sourceSize > 0 ? sourceBase + offset : sourceBase - offset;
}

// The index range k in [0, |size|) whose position base +/- k lies inside [0, limit).
IndexRange AxisInside(int base, int size, int limit) {
  const long long count = std::llabs(size);
  if (size > 0) return {std::max(0LL, -static_cast<long long>(base)), std::min(count, static_cast<long long>(limit) - base)};
  return {std::max(0LL, static_cast<long long>(base) - limit + 1), std::min(count, static_cast<long long>(base) + 1)};
}

// How the destination columns of one call take their source columns, worked out once per call and
// applied to every row that is resampled. The source column is monotonic in the destination
// column, so the columns that find a source pixel form one run [DestLeft, DestLeft + Count), and
// the source columns they read lie in [SourceLeft, SourceRight].
class ColumnPlan {
 public:
  ColumnPlan(int dx, int dw, int destWidth, int sx, int sw, int sourceWidth) {
    const IndexRange range = AxisInside(dx, dw, destWidth);
    for (long long k = range.first; k < range.last; ++k) {
      const long long source = ScaledSource(k, sx, sw, dw);
      if (source < 0 || source >= sourceWidth) continue;
      const int dest = static_cast<int>(dw > 0 ? dx + k : dx - k);
      if (offsets_.empty()) destLeft_ = dest;
      destLeft_ = std::min(destLeft_, dest);
      offsets_.push_back(static_cast<int>(source));
    }
    if (offsets_.empty()) return;
    // Left to right in the destination; a mirrored destination listed them right to left.
    if (dw < 0) std::reverse(offsets_.begin(), offsets_.end());
    sourceLeft_ = std::min(offsets_.front(), offsets_.back());
    sourceRight_ = std::max(offsets_.front(), offsets_.back());
    for (int& o : offsets_) o -= sourceLeft_;
    SplitIntoRuns();
  }

  bool IsEmpty() const { return offsets_.empty(); }
  int DestLeft() const { return destLeft_; }
  int Count() const { return static_cast<int>(offsets_.size()); }
  int SourceLeft() const { return sourceLeft_; }
  int SourceCount() const { return sourceRight_ - sourceLeft_ + 1; }
  // Every destination column shows the source column the same distance to the right.
  bool IsPlainCopy() const { return runs_.size() == 1 && runs_.front().Step == 1; }

  // Resamples one row: out is the destination row at DestLeft, in the source row at SourceLeft.
  // The two must not overlap.
  void Resample(std::uint8_t* out, const std::uint8_t* in, int bytes) const {
    if (bytes != 4) {
      for (std::size_t i = 0; i < offsets_.size(); ++i)
        std::memcpy(out + i * bytes, in + static_cast<std::size_t>(offsets_[i]) * bytes, bytes);
    } else if (byRuns_) {
      for (const Run& r : runs_) CopyRun(out + 4 * static_cast<std::size_t>(r.First), in, r);
    } else {
      Gather(out, in, offsets_.data(), Count());
    }
  }

 private:
  // Destination columns First .. First + Count - 1 (from DestLeft) showing source columns
  // Source, Source + Step, ... (from SourceLeft).
  struct Run {
    int First;
    int Count;
    int Source;
    int Step;
  };

  void SplitIntoRuns() {
    const int n = Count();
    for (int i = 0; i < n;) {
      int last = i;
      const int step = i + 1 < n ? offsets_[i + 1] - offsets_[i] : 0;
      while (last + 1 < n && offsets_[last + 1] - offsets_[last] == step) ++last;
      runs_.push_back({i, last - i + 1, offsets_[i], step});
      i = last + 1;
    }
    // Runs pay off where they are long: a plain copy, a magnification (each source pixel repeated)
    // or an exact halving. A ratio that alternates its steps gives runs of one or two pixels,
    // which the index table serves better.
    byRuns_ = n >= 8 * static_cast<int>(runs_.size());
  }

  static void Gather(std::uint8_t* __restrict out, const std::uint8_t* __restrict in, const int* __restrict offsets,
                     int count) {
    for (int i = 0; i < count; ++i) StorePixel(out + 4 * i, LoadPixel(in + 4 * static_cast<std::ptrdiff_t>(offsets[i])));
  }

  static void CopyRun(std::uint8_t* __restrict out, const std::uint8_t* __restrict in, const Run& r) {
    const std::uint8_t* first = in + 4 * static_cast<std::ptrdiff_t>(r.Source);
    switch (r.Step) {
      case 0: {
        const std::uint32_t pixel = LoadPixel(first);
        for (int i = 0; i < r.Count; ++i) StorePixel(out + 4 * i, pixel);
        break;
      }
      case 1:
        CopyShortBytes(out, first, 4 * static_cast<std::size_t>(r.Count));
        break;
      case -1:
        for (int i = 0; i < r.Count; ++i) StorePixel(out + 4 * i, LoadPixel(first - 4 * i));
        break;
      case 2:
        for (int i = 0; i < r.Count; ++i) StorePixel(out + 4 * i, LoadPixel(first + 8 * i));
        break;
      default:
        for (int i = 0; i < r.Count; ++i) StorePixel(out + 4 * i, LoadPixel(first + 4 * static_cast<std::ptrdiff_t>(r.Step) * i));
    }
  }

  int destLeft_ = 0;
  int sourceLeft_ = 0;
  int sourceRight_ = -1;
  std::vector<int> offsets_;
  std::vector<Run> runs_;
  bool byRuns_ = false;
};

struct RowPair {
  int Dest;
  int Source;
};

}  // namespace

void StretchRect(Bitmap& D, int dx, int dy, int dw, int dh, const Bitmap& S, int sx, int sy, int sw, int sh) {
  assert(D.BitsPerPixel() == S.BitsPerPixel());
  if (dw == 0 || dh == 0 || sw == 0 || sh == 0 || D.IsEmpty() || S.IsEmpty()) return;

  const ColumnPlan columns(dx, dw, D.Width(), sx, sw, S.Width());
  if (columns.IsEmpty()) return;

  std::vector<RowPair> rows;
  const IndexRange rowRange = AxisInside(dy, dh, D.Height());
  if (rowRange.IsEmpty()) return;
  rows.reserve(static_cast<std::size_t>(rowRange.last - rowRange.first));
  for (long long k = rowRange.first; k < rowRange.last; ++k) {
    const long long source = ScaledSource(k, sy, sh, dh);
    if (source < 0 || source >= S.Height()) continue;
    rows.push_back({static_cast<int>(dh > 0 ? dy + k : dy - k), static_cast<int>(source)});
  }
  if (rows.empty()) return;

  const int bytes = D.BytesPerPixel();
  const std::size_t spanBytes = static_cast<std::size_t>(columns.Count()) * bytes;
  const std::size_t sourceBytes = static_cast<std::size_t>(columns.SourceCount()) * bytes;
  const std::size_t destOffset = static_cast<std::size_t>(columns.DestLeft()) * bytes;
  const std::size_t sourceOffset = static_cast<std::size_t>(columns.SourceLeft()) * bytes;

  // Same-picture calls must behave as if the source rectangle had been read before the first
  // write. When no row reads a row above itself (or none reads one below), writing the rows from
  // the top down (or from the bottom up) reaches every source row before it is overwritten; a row
  // that reads itself is resampled from a copy of that one row. Otherwise the source rows are
  // copied out as one block first.
  const bool samePicture = &D == &S;
  bool topDown = true;
  const std::uint8_t* block = nullptr;
  int blockBottom = 0;
  if (samePicture) {
    const bool readsBelow = std::all_of(rows.begin(), rows.end(), [](const RowPair& r) { return r.Source >= r.Dest; });
    const bool readsAbove = std::all_of(rows.begin(), rows.end(), [](const RowPair& r) { return r.Source <= r.Dest; });
    if (readsBelow || readsAbove) {
      topDown = readsBelow;
    } else {
      // Sources are monotonic in k, so the first and last rows bound them.
      const int top = std::min(rows.front().Source, rows.back().Source);
      blockBottom = std::max(rows.front().Source, rows.back().Source);
      const std::size_t blockBytes = static_cast<std::size_t>(blockBottom - top + 1) * S.Stride();
      std::vector<std::uint8_t>& scratch = D.Scratch();
      if (scratch.size() < blockBytes) scratch.resize(blockBytes);
      std::memcpy(scratch.data(), S.ScanLine(blockBottom), blockBytes);
      block = scratch.data();
    }
  }
  if ((rows.front().Dest < rows.back().Dest) != topDown) std::reverse(rows.begin(), rows.end());

  auto sourceLine = [&](int y) {
    return block != nullptr ? block + static_cast<std::size_t>(blockBottom - y) * S.Stride() : S.ScanLine(y);
  };
  int previousSource = -1;
  int previousDest = 0;
  for (const RowPair& row : rows) {
    std::uint8_t* out = D.ScanLine(row.Dest) + destOffset;
    if (row.Source == previousSource) {
      // A repeated line: the previous destination row already holds exactly this row's result.
      std::memcpy(out, D.ScanLine(previousDest) + destOffset, spanBytes);
    } else {
      const std::uint8_t* in = sourceLine(row.Source) + sourceOffset;
      if (columns.IsPlainCopy()) {
        // memmove: within one picture a row may be moved along itself.
        std::memmove(out, in, spanBytes);
      } else if (samePicture && block == nullptr && row.Source == row.Dest) {
        std::vector<std::uint8_t>& scratch = D.Scratch();
        if (scratch.size() < sourceBytes) scratch.resize(sourceBytes);
        std::memcpy(scratch.data(), in, sourceBytes);
        columns.Resample(out, scratch.data(), bytes);
      } else {
        columns.Resample(out, in, bytes);
      }
    }
    previousSource = row.Source;
    previousDest = row.Dest;
  }
}

namespace {

// d + floor((s - d) * a / 256) equals (d * (256 - a) + s * a) >> 8, whose terms stay below 2^16.
// Written as plain loops over bytes in 16-bit arithmetic, so that compilers turn them into vector
// code (eight or sixteen channels per instruction).
void BlendBytes(std::uint8_t* __restrict out, const std::uint8_t* __restrict d, const std::uint8_t* __restrict s,
                std::size_t count, int weight) {
  const auto a = static_cast<std::uint16_t>(weight), keep = static_cast<std::uint16_t>(256 - weight);
  for (std::size_t i = 0; i < count; ++i) out[i] = static_cast<std::uint8_t>(static_cast<std::uint16_t>(d[i] * keep + s[i] * a) >> 8);
}

void BlendBytesInPlace(std::uint8_t* __restrict d, const std::uint8_t* __restrict s, std::size_t count, int weight) {
  const auto a = static_cast<std::uint16_t>(weight), keep = static_cast<std::uint16_t>(256 - weight);
  for (std::size_t i = 0; i < count; ++i) d[i] = static_cast<std::uint8_t>(static_cast<std::uint16_t>(d[i] * keep + s[i] * a) >> 8);
}

// 32-bit pixels: every byte is blended into a buffer and then merged back with the fourth byte of
// D. Skipping the fourth byte inside the blend loop would leave gaps in its stores that stop the
// compiler from vectorising it.
void BlendRow32(std::uint8_t* __restrict d, const std::uint8_t* __restrict s, int count, int weight) {
  constexpr int Chunk = 1024;
  alignas(16) std::uint8_t blended[4 * Chunk];
  for (int first = 0; first < count; first += Chunk) {
    const int n = std::min(Chunk, count - first);
    std::uint8_t* out = d + 4 * static_cast<std::size_t>(first);
    BlendBytes(blended, out, s + 4 * static_cast<std::size_t>(first), 4 * static_cast<std::size_t>(n), weight);
    for (int i = 0; i < n; ++i)
      StorePixel(out + 4 * i, (LoadPixel(blended + 4 * i) & 0x00FFFFFFu) | (LoadPixel(out + 4 * i) & 0xFF000000u));
  }
}

}  // namespace

void BlendPixels(Bitmap& D, const Bitmap& S, int weight) { BlendPixels(D, S, weight, Rect{0, 0, D.Width(), D.Height()}); }

void BlendPixels(Bitmap& D, const Bitmap& S, int weight, const Rect& area) {
  assert(D.BitsPerPixel() == S.BitsPerPixel() && (D.BitsPerPixel() == 24 || D.BitsPerPixel() == 32));
  const int left = std::max({area.Left, 0}), right = std::min({area.Right, D.Width(), S.Width()});
  const int top = std::max(area.Top, 0), bottom = std::min({area.Bottom, D.Height(), S.Height()});
  // A picture blended with itself stays as it is; the row loops assume two separate pictures.
  if (right <= left || bottom <= top || &D == &S) return;
  const int bytes = D.BytesPerPixel();
  // Bottom-up, as every pixel loop of the frame code walks the memory.
  weight = std::clamp(weight, 0, 256);
  for (int y = bottom - 1; y >= top; --y) {
    std::uint8_t* out = D.ScanLine(y) + left * bytes;
    const std::uint8_t* in = S.ScanLine(y) + left * bytes;
    if (bytes == 4) {
      BlendRow32(out, in, right - left, weight);
    } else {
      BlendBytesInPlace(out, in, static_cast<std::size_t>(right - left) * 3, weight);
    }
  }
}

}  // namespace lumivor
