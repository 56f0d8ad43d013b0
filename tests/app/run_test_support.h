// Photos and tracks for the run tests, made here: sample pictures as BMP and JPEG files, and
// WAV tracks of a given length written by the components' media maker.
#pragma once

#include <gtest/gtest.h>

#include <algorithm>
#include <string>
#include <vector>

#include "app/photos/picture_file.h"
#include "app/picture_test_support.h"
#include "app/samples/sample_pictures.h"
#include "media/components/media_maker.h"
#include "media/components/whole_file_decode.h"
#include "media/runtime/ff_load.h"
#include "media/runtime/library_objects.h"

namespace lumivor::testing {

// A photo file of the sample landscape; ".bmp" names get a BMP, others a JPEG.
inline void WritePhoto(const std::string& path, int width, int height) {
  const Bitmap picture = MakeSamplePicture(SamplePicture::Landscape, width, height);
  std::vector<std::uint8_t> bytes;
  if (path.size() > 4 && path.compare(path.size() - 4, 4, ".bmp") == 0) {
    std::string error;
    ASSERT_TRUE(EncodeBmp24(picture, bytes, error)) << error;
  } else {
    bytes = EncodeJpeg(picture);
  }
  ASSERT_TRUE(WriteWholeFile(path, bytes)) << path;
}

inline void WriteTrack(const std::string& path, double seconds) {
  MediaSpec spec;
  spec.Format = "wav";
  spec.Seconds = seconds;
  spec.Audio.SampleRate = 22050;
  std::string error;
  ASSERT_TRUE(WriteMediaFile(path, spec, error)) << error;
}

// What a written video holds, decoded to its end: every video frame counted, every packet the
// decoder refuses counted as an error, and where the sound ends.
struct DecodedVideo {
  bool Opened = false;
  int VideoFrames = 0;
  int Width = 0, Height = 0;
  int DecodeErrors = 0;
  bool HasAudio = false;
  double AudioEndSeconds = 0;
};

inline DecodedVideo DecodeVideoFile(const std::string& path) {
  DecodedVideo result;
  WholeFileVisit visit;
  visit.Opened = [&](const AVFormatContext& file) {
    for (unsigned i = 0; i < file.nb_streams; ++i)
      if (file.streams[i]->codecpar->codec_type == AVMEDIA_TYPE_AUDIO) result.HasAudio = true;
  };
  visit.Packet = [&](const AVStream& stream, const AVPacket& packet) {
    if (stream.codecpar->codec_type == AVMEDIA_TYPE_AUDIO && packet.pts != AV_NOPTS_VALUE) {
      const double end = static_cast<double>(packet.pts + packet.duration) * av_q2d(stream.time_base);
      result.AudioEndSeconds = std::max(result.AudioEndSeconds, end);
    }
  };
  visit.Refused = [&](const AVStream&) { result.DecodeErrors += 1; };
  visit.Frame = [&](const AVStream& stream, const AVFrame& frame) {
    if (stream.codecpar->codec_type != AVMEDIA_TYPE_VIDEO) return;
    result.VideoFrames += 1;
    result.Width = frame.width;
    result.Height = frame.height;
  };
  result.Opened = DecodeWholeFile(path, visit);
  return result;
}

}  // namespace lumivor::testing
