// Track lengths read by the core: from the container where it knows them, by decoding where it
// does not, and nothing for a file that is no sound at all.
#include "app/run/track_length.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <cstdlib>
#include <optional>
#include <string>

#include "app/samples/sample_media.h"
#include "support/scratch_folder.h"

namespace lumivor {
namespace {

using testing::ScratchFolder;

void write_text(const std::string& path, const std::string& text) {
  FILE* file = std::fopen(path.c_str(), "wb");
  ASSERT_NE(file, nullptr) << path;
  std::fwrite(text.data(), 1, text.size(), file);
  std::fclose(file);
}

// Matroska written to a pipe has no length in its header, and compressed sound gives no bit rate
// to estimate one from: the reader has to decode it.
bool write_headerless_track(const std::string& path, double seconds) {
  const std::string command = "ffmpeg -nostdin -loglevel error -f lavfi -i sine=frequency=440:sample_rate=44100:duration=" +
                              std::to_string(seconds) + " -c:a flac -f matroska pipe:1 > '" + path + "'";
  return std::system(command.c_str()) == 0;
}

TEST(TrackLengthTest, LengthsOfTracksAndOfFilesThatAreNone) {
  ScratchFolder folder;
  std::string errorText;
  const std::string wav = folder / "tune.wav";
  ASSERT_TRUE(WriteSampleTrack(wav, 3.0, errorText)) << errorText;
  const std::string headerless = folder / "stream.mka";
  ASSERT_TRUE(write_headerless_track(headerless, 2.5)) << "the ffmpeg program could not write " << headerless;
  const std::string text = folder / "notes.mp3";
  write_text(text, "these are words, not sound\n");
  const std::string empty = folder / "empty.wav";
  write_text(empty, "");

  struct Case {
    const char* name;
    std::string path;
    std::optional<double> seconds;  // nothing: unreadable
  };
  const Case cases[] = {
      {"a WAV file's length from its header", wav, 3.0},
      {"a stream without a length, decoded", headerless, 2.5},
      {"text under a sound file's name", text, std::nullopt},
      {"an empty file", empty, std::nullopt},
      {"a file that is not there", folder / "missing.flac", std::nullopt},
      {"a folder", folder.Path(), std::nullopt},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    const std::optional<std::int64_t> microseconds = ReadTrackMicroseconds(c.path);
    ASSERT_EQ(microseconds.has_value(), c.seconds.has_value());
    // Within a hundredth of a second: the encoder's frame padding is all that may differ.
    if (c.seconds) {
      EXPECT_NEAR(static_cast<double>(*microseconds) / 1e6, *c.seconds, 0.01);
    }
  }
}

}  // namespace
}  // namespace lumivor
