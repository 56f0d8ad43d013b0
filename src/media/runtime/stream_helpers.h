#pragma once

#include <cstdint>

#include "media/runtime/ff_headers.h"

namespace lumivor {

// Current byte position of a stream (a seek by 0 from the current position).
int64_t StreamPosition(AVIOContext* stream);
// The stream's sample aspect ratio if both terms are positive, else the
// codec's (the given context, or the stream's parameters when none), else 0/1.
AVRational GuessSampleAspectRatio(const AVStream* stream, const AVCodecContext* codec = nullptr);
// Frame rate of a "buffersink" (or "ffbuffersink") filter's input; throws
// EAssertionFailed for any other filter.
AVRational BufferSinkFrameRate(const AVFilterContext* sink);

}  // namespace lumivor
