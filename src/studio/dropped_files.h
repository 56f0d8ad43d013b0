// Files handed to Studio from outside (a file manager's drop, the photo dialog): which are photos
// for the storyboard and which are tracks for the music.
#pragma once

#include <string>
#include <vector>

namespace lumivor::studio {

// By the name's extension, in any letter case: the picture kinds the photo loader reads.
bool HasPictureName(const std::string& path);
// By the name's extension, in any letter case: the kinds the track dialog offers (sound files, and
// videos whose sound can be laid under a show).
bool HasTrackName(const std::string& path);

struct SortedFiles {
  std::vector<std::string> Photos;
  std::vector<std::string> Tracks;
};

// Each path in the order given: a folder adds the pictures directly inside it in name order (its
// other files and its sub-folders are left out, so dropping a camera folder does not sweep in
// side files); a track goes to the tracks; any other file is taken as a photo, so that one that
// cannot be read is shown with its reason rather than silently dropped.
SortedFiles SortDroppedFiles(const std::vector<std::string>& paths);

}  // namespace lumivor::studio
