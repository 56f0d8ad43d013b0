// Writes small media files through the library slots so that the tests never depend on files
// from elsewhere.
#pragma once

#include <map>
#include <string>

namespace lumivor::testing {

struct AudioTrack {
  std::string Codec = "pcm_s16le";  // encoder name
  int SampleRate = 44100;
  int Channels = 2;
  int BitRate = 0;  // 0: the encoder's default
};

struct VideoTrack {
  std::string Codec = "mpeg4";
  int Width = 320;
  int Height = 240;
  int FrameRate = 25;
  int SampleAspectNum = 0;  // 0: not set
  int SampleAspectDen = 1;
};

struct MediaSpec {
  std::string Format;  // muxer name ("wav", "mp3", "matroska", ...)
  double Seconds = 1.0;
  bool HasAudio = true;
  AudioTrack Audio;
  bool HasVideo = false;
  VideoTrack Video;
  std::map<std::string, std::string> FileTags;
  std::map<std::string, std::string> AudioTags;
  int AudioDisposition = 0;
};

// Loads the libraries when needed; false with a reason in error when anything fails.
bool WriteMediaFile(const std::string& path, const MediaSpec& spec, std::string& error);

// 160x120 mpeg4 pictures at 25 a second with a stereo pcm tone, in Matroska: the small clip most
// runs through the engine and the components are made from.
MediaSpec SmallVideoClip(double seconds);

// A canonical 8-bit mono PCM WAV file of exactly totalBytes bytes (at least 44).
bool WriteSizedWav(const std::string& path, int totalBytes);

}  // namespace lumivor::testing
