#include "app/run/track_length.h"

#include "app/run/sound_samples.h"
#include "media/runtime/ff_load.h"
#include "media/runtime/library_objects.h"

namespace lumivor {
namespace {

bool libraries_ready() {
  TFFLoader& loader = TFFLoader::Instance();
  return loader.AllLoaded(DecoderLibraries) || loader.Load(DecoderLibraries);
}

// The sound's length by decoding it to the end: samples counted, at one rate whatever the
// stream's. Packet times are not trusted here, since a file whose container has no length often
// has no reliable times either.
std::optional<std::int64_t> decoded_microseconds(const std::string& path) {
  constexpr int CountingRate = 48000;
  std::int64_t frames = 0;
  std::string errorText;
  const auto count = [&frames](const float*, std::size_t decoded) {
    frames += static_cast<std::int64_t>(decoded);
    return true;
  };
  if (!DecodeSound(path, CountingRate, 1, count, errorText)) return std::nullopt;
  return frames * 1000000 / CountingRate;
}

}  // namespace

std::optional<std::int64_t> ReadTrackMicroseconds(const std::string& path) {
  if (path.empty() || !libraries_ready()) return std::nullopt;
  AVFormatContext* opened = nullptr;
  if (lib::avformat_open_input(&opened, path.c_str(), nullptr, nullptr) < 0) return std::nullopt;
  InputFormatContextPtr format(opened);
  if (lib::avformat_find_stream_info(format.get(), nullptr) < 0) return std::nullopt;
  bool playable = false;
  for (unsigned i = 0; i < format->nb_streams; ++i) {
    const AVMediaType type = format->streams[i]->codecpar->codec_type;
    playable = playable || type == AVMEDIA_TYPE_AUDIO || type == AVMEDIA_TYPE_VIDEO;
  }
  if (!playable) return std::nullopt;
  if (format->duration != AV_NOPTS_VALUE && format->duration > 0) {
    // The container's figure is in AV_TIME_BASE units, which are microseconds.
    return format->duration * 1000000 / AV_TIME_BASE;
  }
  return decoded_microseconds(path);
}

}  // namespace lumivor
