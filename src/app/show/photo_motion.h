// Photos that move while they are on screen: a slow zoom in or out about a point of the photo, or a
// slow pan across it, from the first frame of the transition that brings the photo in to the last
// frame of the one that takes it away. Each frame is sampled with sub-pixel positions from a copy of
// the laid-out photo scaled once to the largest zoom the move reaches, so the picture glides instead
// of stepping a whole pixel now and then.
#pragma once

#include <cstdint>
#include <optional>
#include <string_view>
#include <vector>

#include "app/show/photo_layout.h"
#include "raster/raster.h"

namespace lumivor {

enum class MotionKind { None, Zoom, Pan, Random };

// "none", "zoom", "pan" or "random" (exactly, lower case); nothing for any other text.
std::optional<MotionKind> ParseMotionKind(std::string_view text);
std::string_view MotionKindName(MotionKind kind);

// The strength a run uses unless told otherwise: the zoom changes by 10 % across a hold.
inline constexpr int DefaultMotionStrength = 10;
// Strengths accepted, in percent.
inline constexpr int MaxMotionStrength = 100;

// A photo's move over the frames it is on screen, linear from start to end. Zoom 1 shows the
// laid-out photo as the still slideshow would; zoom 1.2 shows the middle 1/1.2 of it on each axis.
// The anchor says where the shown part sits in the laid-out photo: 0 at its left (top) edge, 1 at
// its right (bottom) edge; a zoom with a fixed anchor keeps that point of the photo where it is.
struct MotionPath {
  double ZoomStart = 1.0;
  double ZoomEnd = 1.0;
  double AnchorXStart = 0.5;
  double AnchorYStart = 0.5;
  double AnchorXEnd = 0.5;
  double AnchorYEnd = 0.5;

  double LargestZoom() const { return ZoomStart > ZoomEnd ? ZoomStart : ZoomEnd; }
};

// The move of one photo that is on screen for frameCount frames of which holdFrames are its hold.
// strengthPercent is the change of zoom across the hold (a zoom keeps that rate through the
// transitions too, up to twice the frame's size at most) and the zoom a pan is made at. Random
// picks zoom or pan; zoom in or out, the anchor and the pan's direction all come from seed, so the
// same seed gives the same move. None (or a strength of 0) gives a photo that stays put.
MotionPath ChooseMotionPath(MotionKind kind, int strengthPercent, int frameCount, int holdFrames, std::uint32_t seed);

// One photo's moving picture. Prepare does the expensive work once per photo; DrawFrame then only
// samples, without allocating.
class PhotoMover {
 public:
  // Lays out the photo by mode at the path's largest zoom (filtered) and sizes the sampling tables
  // for the frame. frameCount is the number of frames the move is spread over.
  void Prepare(const Bitmap& photo, ScreenMode mode, const MotionPath& path, int frameWidth, int frameHeight,
               int frameCount);
  // Nothing to show: DrawFrame paints black.
  void Clear();
  bool IsEmpty() const { return scaled_.IsEmpty(); }
  const MotionPath& Path() const { return path_; }

  // Draws frame number index (0 to frameCount - 1, clamped) of the move into frame, a 32-bit
  // bitmap of the frame's size.
  void DrawFrame(Bitmap& frame, int index);

 private:
  Bitmap scaled_;
  MotionPath path_;
  int frameWidth_ = 0;
  int frameHeight_ = 0;
  int frameCount_ = 1;
  // Per frame column: the left source column (from the first one read) and the weights of it and
  // of its right neighbour, packed in two halves.
  std::vector<int> columnIndex_;
  std::vector<std::uint32_t> columnWeight_;
  // A source row span mixed from two rows, with sub-pixel fraction bits kept.
  std::vector<std::uint16_t> rowMix_;
};

}  // namespace lumivor
