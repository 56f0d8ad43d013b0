// A preview sheet: the planned show on one picture, so that the order, the crops and the turns of
// the photos can be checked before a long encoding. The frames are the sequencer's own, drawn as
// the run would draw them; nothing is encoded.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "app/show/show_timing.h"
#include "raster/raster.h"

namespace lumivor {

class FrameSequencer;

// Tiles are at most this wide; wider frames are shrunk by a whole factor, averaging each block.
inline constexpr int PreviewTileMaxWidth = 320;

// One frame a preview sheet shows.
struct PreviewFrame {
  std::int64_t Index = 0;   // position in the run, counting from 0
  bool Transition = false;  // the middle frame of a transition, else the first frame of a hold
  int Photo = 0;            // the held photo, from 1; for a transition the photo it leads to (count + 1: black)
};

// The frames shown for a run of photoCount photos, in show order: the middle frame of the opening
// transition, then for each photo the first frame of its hold and the middle frame of the
// transition that follows it. Frame counts below 1 are taken as 1, as the sequencer takes them.
std::vector<PreviewFrame> PreviewFrames(int photoCount, int holdFrames, int transitionFrames);
// The same for a show timed photo by photo: one photo per hold in the timing.
std::vector<PreviewFrame> PreviewFrames(const ShowTiming& timing);

// Runs sequencer (ResetRun already called with the show's plan, its photo list set) up to the last
// frame shown and lays the shown frames out in rows, each tile labelled with the photo's number
// or, for a transition, the effect's number. tiles, when given, receives where each frame went.
// False with a one-line reason when there are no photos, a photo cannot be read or the sheet
// would be too large; the sheet is then left as it was.
bool RenderPreviewSheet(FrameSequencer& sequencer, Bitmap& sheet, std::string& errorText,
                        std::vector<Rect>* tiles = nullptr);

}  // namespace lumivor
