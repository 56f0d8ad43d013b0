// The lengths of a show's tracks, read by the core's track list as the window's audio page reads
// them.
#pragma once

#include <memory>
#include <string>
#include <vector>

namespace lumivor::studio {

class TrackLengthReader {
 public:
  TrackLengthReader();
  ~TrackLengthReader();
  TrackLengthReader(const TrackLengthReader&) = delete;
  TrackLengthReader& operator=(const TrackLengthReader&) = delete;

  // One text per track, in order ("00:03:12.500"); a track that cannot be read has the core's
  // zero length, and all are empty when the media libraries cannot be loaded.
  std::vector<std::string> Read(const std::vector<std::string>& tracks);

 private:
  struct Parts;
  std::unique_ptr<Parts> parts_;
};

}  // namespace lumivor::studio
