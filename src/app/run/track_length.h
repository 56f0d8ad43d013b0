// How long a sound or video file plays, read without any window: the container's own figure, or,
// where the container does not know it, the samples of its sound counted by decoding it.
#pragma once

#include <cstdint>
#include <optional>
#include <string>

namespace lumivor {

// Microseconds the file plays; nothing when it cannot be opened, holds no stream the libraries
// can read, or the media libraries cannot be loaded. Safe on any thread: each call opens the file
// for itself, and the libraries are loaded (once, from the default folder) when they are not yet.
std::optional<std::int64_t> ReadTrackMicroseconds(const std::string& path);

}  // namespace lumivor
