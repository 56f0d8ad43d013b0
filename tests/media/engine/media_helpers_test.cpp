#include <gtest/gtest.h>

#include <cstdio>
#include <cstdlib>
#include <ctime>
#include <filesystem>
#include <fstream>
#include <string>

#include <unistd.h>

#include "media/engine/input_formats.h"
#include "media/engine/media_helpers.h"
#include "media/runtime/ff_load.h"
#include "media/runtime/library_objects.h"
#include "support/scratch_folder.h"

namespace lumivor {
namespace {

class MediaHelpers : public ::testing::Test {
 protected:
  void SetUp() override { ASSERT_TRUE(TFFLoader::Instance().Load(AllLibraries)) << TFFLoader::Instance().LastError(); }
};

TEST(FormatDuration, RoundsToTheNearestMillisecond) {
  struct Case {
    std::int64_t Us;
    const char* Text;
  };
  const Case cases[] = {
      {10000000, "00:00:10.000"},
      {4000000, "00:00:04.000"},
      {5041633, "00:00:05.042"},
      {AV_NOPTS_VALUE, "N/A"},
      {0, "00:00:00.000"},
      {499, "00:00:00.000"},
      {500, "00:00:00.001"},
      {1234567, "00:00:01.235"},
      {1234499, "00:00:01.234"},
      {59999500, "00:01:00.000"},
      {3599999499, "00:59:59.999"},
      {3599999500, "01:00:00.000"},
      {36000000000LL * 3, "30:00:00.000"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.Us);
    EXPECT_EQ(FormatDuration(c.Us), c.Text);
  }
}

TEST_F(MediaHelpers, FormatTimestampRescalesToMicroseconds) {
  EXPECT_EQ(FormatTimestamp(180000, AVRational{1, 90000}), "00:00:02.000");
  EXPECT_EQ(FormatTimestamp(2500000, AVRational{1, 1000000}), "00:00:02.500");
  EXPECT_EQ(FormatTimestamp(441000, AVRational{1, 44100}), "00:00:10.000");
  EXPECT_EQ(FormatTimestamp(45056, AVRational{1, 44100}), "00:00:01.022");
  EXPECT_EQ(FormatTimestamp(AV_NOPTS_VALUE, AVRational{1, 90000}), "N/A");
}

TEST(FrameDurationUs, FallsBackToTwentyFiveFramesPerSecond) {
  EXPECT_EQ(FrameDurationUs(AVRational{25, 1}), 40000);
  EXPECT_EQ(FrameDurationUs(AVRational{30000, 1001}), 33366);
  EXPECT_EQ(FrameDurationUs(AVRational{0, 1}), 40000);
  EXPECT_EQ(FrameDurationUs(AVRational{25, 0}), 40000);
}

// The zone comes from TZ; each case sets it and puts the old value back.
class TimeZone : public ::testing::Test {
 protected:
  void SetUp() override {
    const char* old = std::getenv("TZ");
    hadTz_ = old != nullptr;
    if (hadTz_) oldTz_ = old;
  }
  void TearDown() override {
    if (hadTz_) {
      setenv("TZ", oldTz_.c_str(), 1);
    } else {
      unsetenv("TZ");
    }
    tzset();
  }
  static void Use(const char* zone) {
    setenv("TZ", zone, 1);
    tzset();
  }

 private:
  bool hadTz_ = false;
  std::string oldTz_;
};

TEST_F(TimeZone, TextUsesTheBaseBiasWithoutDaylightSaving) {
  struct Case {
    const char* Zone;
    const char* Text;
    int Bias;
  };
  // The sign is that of the bias (minutes to add to reach UTC), so zones east of Greenwich read
  // "UTC-"; daylight saving never changes the text.
  const Case cases[] = {
      {"UTC0", "UTC", 0},
      {"EST5EDT", "UTC+05:00", 300},
      {"CET-1CEST", "UTC-01:00", -60},
      {"IST-5:30", "UTC-05:30", -330},
      {"NST3:30NDT", "UTC+03:30", 210},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.Zone);
    Use(c.Zone);
    EXPECT_EQ(TimeZoneBaseBias(), c.Bias);
    EXPECT_EQ(TimeZoneText(), c.Text);
  }
}

TEST_F(TimeZone, UnixTimeBecomesDaysSinceEighteenNinetyNine) {
  Use("UTC0");
  EXPECT_DOUBLE_EQ(UnixToLocalDateTime(0), 25569.0);
  EXPECT_DOUBLE_EQ(UnixToLocalDateTime(86400 + 43200), 25570.5);
  Use("EST5EDT");
  EXPECT_DOUBLE_EQ(UnixToLocalDateTime(0), 25569.0 - 300.0 / 1440.0);
}

TEST_F(MediaHelpers, DescribeCodecNamesTheCodecOrItsTag) {
  struct Case {
    AVCodecID Id;
    std::uint32_t Tag;
    bool Encoder;
    const char* Text;
  };
  const Case cases[] = {
      {AV_CODEC_ID_NONE, MKTAG('X', 'V', 'I', 'D'), false, "XVID / 0x44495658"},
      {AV_CODEC_ID_NONE, 0x01, false, "0x0001"},
      {AV_CODEC_ID_NONE, MKTAG('X', 'V', 'I', 0x7F), false, "0x7f495658"},
      {AV_CODEC_ID_MPEG2TS, 0, false, "mpeg2ts"},
      {AV_CODEC_ID_PCM_S16LE, 0, false, "pcm_s16le(PCM signed 16-bit little-endian)"},
      {AV_CODEC_ID_MP3, 0, true, "libmp3lame(libmp3lame MP3 (MPEG audio layer 3))"},
      // Known to the library but without a decoder: the descriptor's name.
      {AV_CODEC_ID_TTF, 0, false, "ttf"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.Text);
    EXPECT_EQ(DescribeCodec(c.Id, c.Tag, c.Encoder), c.Text);
  }
  CodecContextPtr context(lib::avcodec_alloc_context3(nullptr));
  context->codec_tag = MKTAG('X', 'V', 'I', 'D');
  EXPECT_EQ(DescribeCodec(context.get(), false), "XVID / 0x44495658");
}

TEST(MediaTypeName, NamesEveryKind) {
  EXPECT_EQ(MediaTypeName(AVMEDIA_TYPE_VIDEO), "Video");
  EXPECT_EQ(MediaTypeName(AVMEDIA_TYPE_AUDIO), "Audio");
  EXPECT_EQ(MediaTypeName(AVMEDIA_TYPE_DATA), "Data");
  EXPECT_EQ(MediaTypeName(AVMEDIA_TYPE_SUBTITLE), "Subtitle");
  EXPECT_EQ(MediaTypeName(AVMEDIA_TYPE_ATTACHMENT), "Attachment");
  EXPECT_EQ(MediaTypeName(AVMEDIA_TYPE_UNKNOWN), "Unknown");
}

TEST_F(MediaHelpers, DictValueFallsBackToTheDefault) {
  AVDictionary* raw = nullptr;
  lib::av_dict_set(&raw, "title", "Tone", 0);
  DictionaryPtr tags(raw);
  EXPECT_EQ(DictValue(tags.get(), "title", "x"), "Tone");
  EXPECT_EQ(DictValue(tags.get(), "album", "x"), "x");
  EXPECT_EQ(DictValue(nullptr, "title", ""), "");
}

TEST_F(MediaHelpers, ReadWholeFileAddsATerminatingZero) {
  const lumivor::testing::ScratchFolder scratch;
  const std::string path = scratch / "whole-file.txt";
  {
    std::ofstream out(path, std::ios::binary);
    out << "a=1\nb=2";
  }
  std::vector<std::uint8_t> data;
  std::int64_t size = 0;
  ASSERT_EQ(ReadWholeFile(path, data, size), 0);
  EXPECT_EQ(size, 8);
  ASSERT_EQ(data.size(), 8u);
  EXPECT_EQ(std::string(data.begin(), data.end() - 1), "a=1\nb=2");
  EXPECT_EQ(data.back(), 0);

  { std::ofstream truncate(path, std::ios::binary | std::ios::trunc); }
  ASSERT_EQ(ReadWholeFile(path, data, size), 0);
  EXPECT_EQ(size, 1);
  std::filesystem::remove(path);

  EXPECT_EQ(ReadWholeFile(path, data, size), -1);
  EXPECT_TRUE(data.empty());
  // A folder opens but cannot be read or measured.
  EXPECT_LT(ReadWholeFile(scratch.Path(), data, size), 0);
}

TEST(InputFormats, ADemuxerIsRegisteredOnceByName) {
  InProcessInputFormat format;
  format.Name = "lumivor_test_input";
  format.LongName = "Test input";
  EXPECT_TRUE(RegisterDemuxerOnce(format));
  format.LongName = "Second registration";
  EXPECT_FALSE(RegisterDemuxerOnce(format));
  const InProcessInputFormat* found = FindInProcessInputFormat("lumivor_test_input");
  ASSERT_NE(found, nullptr);
  EXPECT_EQ(found->LongName, "Test input");
  ASSERT_NE(found->LibraryRecord, nullptr);
  EXPECT_STREQ(found->LibraryRecord->name, "lumivor_test_input");
  EXPECT_STREQ(found->LibraryRecord->long_name, "Test input");
  EXPECT_EQ(found->LibraryRecord->read_packet, nullptr);
  EXPECT_EQ(FindInProcessInputFormat("lumivor_test"), nullptr);
  EXPECT_EQ(FindInProcessInputFormat("LUMIVOR_TEST_INPUT"), nullptr);
}

TEST_F(MediaHelpers, ProtocolsCanOnlyBeFound) {
  EXPECT_TRUE(RegisterProtocolOnce("file"));
  EXPECT_FALSE(RegisterProtocolOnce("unicode"));
}

}  // namespace
}  // namespace lumivor
