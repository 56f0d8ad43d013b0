// Small texts and lookups the engine, the decoder, the player and the frame input share.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

extern "C" {
#include <libavcodec/avcodec.h>
#include <libavutil/avutil.h>
#include <libavutil/dict.h>
#include <libavutil/rational.h>
}

namespace lumivor {

// "hh:mm:ss.mmm" of a time in microseconds, rounded to the nearest millisecond (halves up);
// AV_NOPTS_VALUE gives "N/A".
std::string FormatDuration(std::int64_t us);
// A timestamp in timeBase units, rescaled to microseconds, in FormatDuration's form.
std::string FormatTimestamp(std::int64_t timestamp, AVRational timeBase);
// Length of one frame at frameRate in microseconds; 25 fps when either term is 0.
std::int64_t FrameDurationUs(AVRational frameRate);

// Minutes to add to local standard time to reach UTC (positive west of Greenwich), without
// daylight-saving adjustments.
int TimeZoneBaseBias();
// "UTC" when the base bias is 0, else "UTC" + sign + "hh:mm", the sign being that of the bias.
std::string TimeZoneText();
// Days since 30 December 1899 (a date-time in the app's calendar) of a Unix time in seconds,
// moved to local standard time.
double UnixToLocalDateTime(std::int64_t unixSeconds);

// Name of the codec registered for id ("name(long name)"), or the codec descriptor's name, or the
// codec tag as text.
std::string DescribeCodec(AVCodecID id, std::uint32_t codecTag, bool encoder);
std::string DescribeCodec(const AVCodecContext* context, bool encoder);

std::string MediaTypeName(AVMediaType type);
std::string DictValue(const AVDictionary* dictionary, const char* key, const std::string& defaultValue);

// The whole file plus a terminating zero byte (counted in size). Result 0, or -1 when the file
// cannot be opened, AVERROR(EIO) when it cannot be read, AVERROR(ENOMEM), or AVERROR_EOF for a
// short read without a stream error. Failures are logged through the library log.
int ReadWholeFile(const std::string& path, std::vector<std::uint8_t>& data, std::int64_t& size);

// Decoder picture buffers: the decoders here run on the library's own reference-counted buffer
// pools (the default get_buffer2 with AVBufferRef-counted frames). They already reuse buffers of
// the same geometry, keep a free list per pool and release a buffer when its last reference goes,
// which is the whole contract a private pool would give; a second pool over get_buffer2 would only
// add a place for reference-count mistakes. So GetPoolBuffer, ReleasePoolBuffer,
// ReleaseFilterBuffer and FreeBufferPool have no counterpart in this code.

}  // namespace lumivor
