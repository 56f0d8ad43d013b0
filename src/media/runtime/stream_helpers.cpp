#include "media/runtime/stream_helpers.h"

#include <cstdio>
#include <cstring>

#include "media/runtime/ff_load.h"
#include "media/runtime/runtime_errors.h"

namespace lumivor {

int64_t StreamPosition(AVIOContext* stream) { return lib::avio_seek(stream, 0, SEEK_CUR); }

AVRational GuessSampleAspectRatio(const AVStream* stream, const AVCodecContext* codec) {
  if (stream->sample_aspect_ratio.num > 0 && stream->sample_aspect_ratio.den > 0) {
    return stream->sample_aspect_ratio;
  }
  AVRational fromCodec{0, 1};
  if (codec != nullptr) {
    fromCodec = codec->sample_aspect_ratio;
  } else if (stream->codecpar != nullptr) {
    fromCodec = stream->codecpar->sample_aspect_ratio;
  }
  if (fromCodec.num > 0 && fromCodec.den > 0) return fromCodec;
  return AVRational{0, 1};
}

AVRational BufferSinkFrameRate(const AVFilterContext* sink) {
  if (sink == nullptr || sink->filter == nullptr || sink->filter->name == nullptr ||
      (std::strcmp(sink->filter->name, "buffersink") != 0 &&
       std::strcmp(sink->filter->name, "ffbuffersink") != 0)) {
    throw EAssertionFailed();
  }
  if (sink->nb_inputs == 0 || sink->inputs[0] == nullptr) return AVRational{0, 1};
  return sink->inputs[0]->frame_rate;
}

}  // namespace lumivor
