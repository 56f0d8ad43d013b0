#include "media/runtime/file_names.h"

#include <strings.h>

#include <cstring>

extern "C" {
#include <libavcodec/codec_id.h>
}

namespace lumivor {

namespace {

struct ImageExtension {
  const char* Extension;
  AVCodecID Codec;
};

// The image sequence extensions of the libraries, in their order.
const ImageExtension ImageExtensions[] = {
    {"jpeg", AV_CODEC_ID_MJPEG},       {"jpg", AV_CODEC_ID_MJPEG},
    {"jps", AV_CODEC_ID_MJPEG},        {"ljpg", AV_CODEC_ID_LJPEG},
    {"jls", AV_CODEC_ID_JPEGLS},       {"png", AV_CODEC_ID_PNG},
    {"pns", AV_CODEC_ID_PNG},          {"mng", AV_CODEC_ID_PNG},
    {"ppm", AV_CODEC_ID_PPM},          {"pnm", AV_CODEC_ID_PPM},
    {"pgm", AV_CODEC_ID_PGM},          {"pgmyuv", AV_CODEC_ID_PGMYUV},
    {"pbm", AV_CODEC_ID_PBM},          {"pam", AV_CODEC_ID_PAM},
    {"mpg1-img", AV_CODEC_ID_MPEG1VIDEO}, {"mpg2-img", AV_CODEC_ID_MPEG2VIDEO},
    {"mpg4-img", AV_CODEC_ID_MPEG4},   {"ffv1-img", AV_CODEC_ID_FFV1},
    {"y", AV_CODEC_ID_RAWVIDEO},       {"raw", AV_CODEC_ID_RAWVIDEO},
    {"bmp", AV_CODEC_ID_BMP},          {"gif", AV_CODEC_ID_GIF},
    {"tga", AV_CODEC_ID_TARGA},        {"tiff", AV_CODEC_ID_TIFF},
    {"tif", AV_CODEC_ID_TIFF},         {"sgi", AV_CODEC_ID_SGI},
    {"ptx", AV_CODEC_ID_PTX},          {"pcx", AV_CODEC_ID_PCX},
    {"pix", AV_CODEC_ID_BRENDER_PIX},  {"sun", AV_CODEC_ID_SUNRAST},
    {"ras", AV_CODEC_ID_SUNRAST},      {"rs", AV_CODEC_ID_SUNRAST},
    {"im1", AV_CODEC_ID_SUNRAST},      {"im8", AV_CODEC_ID_SUNRAST},
    {"im24", AV_CODEC_ID_SUNRAST},     {"im32", AV_CODEC_ID_SUNRAST},
    {"sunras", AV_CODEC_ID_SUNRAST},   {"j2c", AV_CODEC_ID_JPEG2000},
    {"j2k", AV_CODEC_ID_JPEG2000},     {"jp2", AV_CODEC_ID_JPEG2000},
    {"jpc", AV_CODEC_ID_JPEG2000},     {"dpx", AV_CODEC_ID_DPX},
    {"exr", AV_CODEC_ID_EXR},          {"pic", AV_CODEC_ID_PICTOR},
    {"yuv10", AV_CODEC_ID_V210X},      {"xbm", AV_CODEC_ID_XBM},
    {"xface", AV_CODEC_ID_XFACE},      {"xwd", AV_CODEC_ID_XWD},
};
static_assert(sizeof ImageExtensions / sizeof ImageExtensions[0] == 48);

// Protocols whose names are handed over as they are, never prefixed.
constexpr char UnprefixedProtocols[] = ":unicode:stream:gopher:http:pipe:rtp:tcp:udp:";

bool HasListedProtocol(const std::string& name) {
  const size_t colon = name.find(':');
  if (colon == std::string::npos) return false;
  const std::string key = ":" + name.substr(0, colon) + ":";
  return std::strstr(UnprefixedProtocols, key.c_str()) != nullptr;
}

bool HasPrefix(const std::string& text) {
  return text.size() >= sizeof UnicodeProtocolPrefix &&
         text.compare(0, sizeof UnicodeProtocolPrefix - 1, UnicodeProtocolPrefix) == 0;
}

}  // namespace

int IsImageFileName(const std::string& name) {
  const size_t dot = name.rfind('.');
  if (dot == std::string::npos) return 0;
  const char* extension = name.c_str() + dot + 1;
  for (const ImageExtension& e : ImageExtensions) {
    if (strcasecmp(extension, e.Extension) == 0) return e.Codec;
  }
  return 0;
}

bool NeedsUnicodeProtocol(const std::string& name) {
  if (HasListedProtocol(name)) return false;
  // The "8-bit code page" is UTF-8: only a name it cannot carry changes on
  // the way there and back.
  return !detail::IsValidUtf8(name);
}

bool RegisterUnicodeProtocol() { return false; }
bool UnicodeProtocolRegistered() { return false; }

std::string ToLibraryFileName(const std::string& name) {
  return detail::ToLibraryFileName(name, UnicodeProtocolRegistered());
}

std::string FromLibraryFileName(const std::string& libraryName) {
  return detail::FromLibraryFileName(libraryName, UnicodeProtocolRegistered());
}

namespace detail {

std::string ToLibraryFileName(const std::string& name, bool protocolRegistered) {
  if (IsImageFileName(name) != 0 && protocolRegistered && NeedsUnicodeProtocol(name)) {
    return UnicodeProtocolPrefix + name;
  }
  return name;
}

std::string FromLibraryFileName(const std::string& libraryName, bool protocolRegistered) {
  // At least one character after the prefix.
  if (IsImageFileName(libraryName) != 0 && protocolRegistered && HasPrefix(libraryName)) {
    return libraryName.substr(sizeof UnicodeProtocolPrefix - 1);
  }
  return libraryName;
}

bool IsValidUtf8(const std::string& text) {
  const auto* p = reinterpret_cast<const unsigned char*>(text.data());
  const auto* end = p + text.size();
  while (p < end) {
    const unsigned char c = *p;
    int length;
    unsigned int code;
    if (c < 0x80) {
      ++p;
      continue;
    } else if ((c & 0xE0) == 0xC0) {
      length = 2;
      code = c & 0x1F;
    } else if ((c & 0xF0) == 0xE0) {
      length = 3;
      code = c & 0x0F;
    } else if ((c & 0xF8) == 0xF0) {
      length = 4;
      code = c & 0x07;
    } else {
      return false;
    }
    if (end - p < length) return false;
    for (int i = 1; i < length; ++i) {
      if ((p[i] & 0xC0) != 0x80) return false;
      code = (code << 6) | (p[i] & 0x3F);
    }
    // Overlong forms, surrogates and values beyond Unicode do not survive
    // a round trip either.
    static const unsigned int minimum[5] = {0, 0, 0x80, 0x800, 0x10000};
    if (code < minimum[length] || (code >= 0xD800 && code <= 0xDFFF) || code > 0x10FFFF) return false;
    p += length;
  }
  return true;
}

}  // namespace detail

}  // namespace lumivor
