#include <gtest/gtest.h>

#include <cstring>
#include <set>

extern "C" {
#include <libavutil/error.h>
}

#include "media/engine/error_text.h"
#include "media/engine/ffmpeg_exception.h"

namespace lumivor {
namespace {

TEST(ErrorText, TableHasTwoHundredTenRowsWithDistinctCodes) {
  ASSERT_EQ(ErrorTextTableSize(), 210);
  std::set<int> codes;
  for (int i = 0; i < ErrorTextTableSize(); ++i) {
    EXPECT_TRUE(codes.insert(ErrorTextTable()[i].Code).second) << "duplicate code " << ErrorTextTable()[i].Code;
    EXPECT_LT(ErrorTextTable()[i].Code, 0);
  }
}

TEST(ErrorText, PosixRowsReadAsTheCLibraryWordsThem) {
  int posixRows = 0;
  for (int i = 0; i < ErrorTextTableSize(); ++i) {
    const ErrorTextRow& row = ErrorTextTable()[i];
    if (row.Code <= -2 && row.Code >= -131) {
      ++posixRows;
      EXPECT_STREQ(row.Text, std::strerror(-row.Code)) << "code " << row.Code;
    }
  }
  EXPECT_EQ(posixRows, 128);  // 2..131 without the two unassigned numbers
}

TEST(ErrorText, KnownCodes) {
  struct Case {
    int Code;
    const char* Text;
  };
  const Case cases[] = {
      {AVERROR_EOF, "End of file"},
      {AVERROR_INVALIDDATA, "Invalid data found when processing input"},
      {AVERROR_BUG, "Internal bug, should not have happened"},
      {AVERROR_BUG2, "Internal bug, should not have happened"},
      {AVERROR_OPTION_NOT_FOUND, "Option not found"},
      {AVERROR_EXIT, "Immediate exit requested"},
      {AVERROR_EXPERIMENTAL,
       "Requested feature is flagged experimental. Set strict_std_compliance if you really want to use it."},
      {-2, "No such file or directory"},
      {-5, "Input/output error"},
      {-22, "Invalid argument"},
      {-28, "No space left on device"},
      {-110, "Connection timed out"},
      {-10060, "Connection timed out"},
      {-10061, "Connection refused"},
      {-10035, "WSAEWOULDBLOCK"},
      {-11001, "WSAHOST_NOT_FOUND"},
      {-10093, "WSANOTINITIALISED"},
      {-41, "Error number -41 occurred"},
      {0, "Error number 0 occurred"},
      {12345, "Error number 12345 occurred"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.Code);
    EXPECT_EQ(ErrorText(c.Code), c.Text);
  }
}

TEST(ErrorText, PrefixIsJoinedWithAColon) {
  EXPECT_EQ(ErrorText("song.mp3", -2), "song.mp3: No such file or directory");
  EXPECT_EQ(ErrorText("", -2), "No such file or directory");
}

TEST(GrowArray, GrowsZeroesTheNewPartAndNeverShrinks) {
  int count = 0;
  int* values = GrowArray<int>(nullptr, count, 3);
  ASSERT_NE(values, nullptr);
  EXPECT_EQ(count, 3);
  values[0] = 7;
  values[2] = 9;
  values = GrowArray(values, count, 6);
  EXPECT_EQ(count, 6);
  EXPECT_EQ(values[0], 7);
  EXPECT_EQ(values[2], 9);
  for (int i = 3; i < 6; ++i) EXPECT_EQ(values[i], 0) << "element " << i;
  int* same = GrowArray(values, count, 2);
  EXPECT_EQ(same, values);
  EXPECT_EQ(count, 6);
  std::free(values);
}

TEST(GrowArray, RefusesCountsWhoseByteSizeOverflows) {
  int count = 0;
  try {
    GrowArray(nullptr, 16, count, 2147483647 / 16);
    FAIL() << "no exception";
  } catch (const FFmpegException& e) {
    EXPECT_STREQ(e.what(), "Array too big.");
  }
  EXPECT_EQ(count, 0);
}

}  // namespace
}  // namespace lumivor
