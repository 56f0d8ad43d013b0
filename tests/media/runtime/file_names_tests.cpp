#include <gtest/gtest.h>

#include "media/runtime/file_names.h"

extern "C" {
#include <libavcodec/codec_id.h>
}

namespace lumivor {
namespace {

TEST(ImageFileNameTest, ExtensionsIgnoringCase) {
  struct Case {
    const char* name;
    int codec;
  };
  const Case cases[] = {
      {"photo.jpg", AV_CODEC_ID_MJPEG},        {"PHOTO.JPEG", AV_CODEC_ID_MJPEG},
      {"/a.b/frame%03d.png", AV_CODEC_ID_PNG}, {"x.mpg2-img", AV_CODEC_ID_MPEG2VIDEO},
      {"x.yuv10", AV_CODEC_ID_V210X},          {"scan.Tif", AV_CODEC_ID_TIFF},
      {"x.xwd", AV_CODEC_ID_XWD},              {"x.y", AV_CODEC_ID_RAWVIDEO},
      {"song.mp3", 0},                         {"clip.mp4", 0},
      {"jpg", 0},                              {"archive.jpg.gz", 0},
      {"x.", 0},                               {"", 0},
  };
  for (const Case& c : cases) EXPECT_EQ(IsImageFileName(c.name), c.codec) << c.name;
}

TEST(ImageFileNameTest, AllFortyEightExtensions) {
  const char* extensions[] = {"jpeg", "jpg", "jps", "ljpg", "jls", "png", "pns", "mng", "ppm", "pnm",
                              "pgm", "pgmyuv", "pbm", "pam", "mpg1-img", "mpg2-img", "mpg4-img",
                              "ffv1-img", "y", "raw", "bmp", "gif", "tga", "tiff", "tif", "sgi", "ptx",
                              "pcx", "pix", "sun", "ras", "rs", "im1", "im8", "im24", "im32", "sunras",
                              "j2c", "j2k", "jp2", "jpc", "dpx", "exr", "pic", "yuv10", "xbm", "xface",
                              "xwd"};
  static_assert(sizeof extensions / sizeof extensions[0] == 48);
  for (const char* e : extensions) EXPECT_NE(IsImageFileName(std::string("f.") + e), 0) << e;
}

TEST(UnicodeNameTest, OnlyInvalidNamesWouldNeedTheProtocol) {
  struct Case {
    const char* name;
    bool needs;
  };
  const Case cases[] = {
      {"/home/u/Fotos/Straße.jpg", false},
      {"/tmp/\xe5\x86\x99\xe7\x9c\x9f.png", false},  // CJK
      {"plain.jpg", false},
      {"/tmp/bad\xff.jpg", true},
      {"/tmp/overlong\xc0\xaf.jpg", true},
      {"/tmp/truncated\xe5\x86.jpg", true},
      {"/tmp/surrogate\xed\xa0\x80.jpg", true},
      {"http://host/bad\xff.jpg", false},  // a listed protocol is never prefixed
      {"pipe:\xff", false},
      {"ftp:bad\xff.jpg", true},
  };
  for (const Case& c : cases) EXPECT_EQ(NeedsUnicodeProtocol(c.name), c.needs) << c.name;
}

TEST(UnicodeNameTest, ConversionRules) {
  struct Case {
    const char* name;
    bool registered;
    const char* library;
  };
  const Case cases[] = {
      // Never registered here: every name passes as it is.
      {"/tmp/Straße.jpg", false, "/tmp/Straße.jpg"},
      {"/tmp/bad\xff.jpg", false, "/tmp/bad\xff.jpg"},
      // With a registered protocol only an image name it is needed for is prefixed.
      {"/tmp/Straße.jpg", true, "/tmp/Straße.jpg"},
      {"/tmp/bad\xff.jpg", true, "unicode:utf8:/tmp/bad\xff.jpg"},
      {"/tmp/bad\xff.mp4", true, "/tmp/bad\xff.mp4"},
      {"http://h/bad\xff.jpg", true, "http://h/bad\xff.jpg"},
      {"", true, ""},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    const std::string library = detail::ToLibraryFileName(c.name, c.registered);
    EXPECT_EQ(library, c.library);
    EXPECT_EQ(detail::FromLibraryFileName(library, c.registered), c.name) << "round trip";
  }
  EXPECT_EQ(ToLibraryFileName("/tmp/a.jpg"), "/tmp/a.jpg");
  EXPECT_EQ(FromLibraryFileName("unicode:utf8:/tmp/a.jpg"), "unicode:utf8:/tmp/a.jpg") << "not registered";
  EXPECT_FALSE(RegisterUnicodeProtocol());
  EXPECT_FALSE(UnicodeProtocolRegistered());
}

}  // namespace
}  // namespace lumivor
