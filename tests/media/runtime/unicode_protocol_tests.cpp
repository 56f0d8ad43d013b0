#include <fstream>
#include <sstream>

#include "media/runtime/stream_helpers.h"
#include "media/runtime/unicode_protocol.h"
#include "runtime_test_support.h"

namespace lumivor {
namespace {

using testing::LoadSystemLibraries;
using testing::ScratchFolder;

void WriteFile(const std::string& path, const std::string& content) {
  std::ofstream out(path, std::ios::binary);
  out << content;
}

std::string ReadFile(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  std::stringstream content;
  content << in.rdbuf();
  return content.str();
}

std::string ProtocolName(const std::string& path) { return "unicode:utf8:" + path; }

class UnicodeProtocolTest : public ::testing::Test {
 protected:
  void SetUp() override {
    path_ = temp_ / ("Daten \xc3\xa4\xc3\xb6.bin");  // a name with non-ASCII characters
    WriteFile(path_, "0123456789");
  }
  void TearDown() override { UnicodeClose(file_); }

  ScratchFolder temp_;
  std::string path_;
  UnicodeFile file_;
};

TEST_F(UnicodeProtocolTest, ReadToTheEnd) {
  ASSERT_EQ(UnicodeOpen(file_, ProtocolName(path_), AVIO_FLAG_READ), 0);
  uint8_t buffer[16] = {};
  EXPECT_EQ(UnicodeRead(file_, buffer, 4), 4);
  EXPECT_EQ(std::string(reinterpret_cast<char*>(buffer), 4), "0123");
  EXPECT_EQ(UnicodeRead(file_, buffer, 16), 6);
  EXPECT_EQ(UnicodeRead(file_, buffer, 16), 0) << "end of file";
  EXPECT_EQ(UnicodeClose(file_), 0);
}

TEST_F(UnicodeProtocolTest, SeekFromEachOriginAndSizeQuery) {
  ASSERT_EQ(UnicodeOpen(file_, ProtocolName(path_), AVIO_FLAG_READ), 0);
  struct Case {
    int64_t position;
    int whence;
    int64_t result;
    char next;  // the byte read after the seek, 0 for none
  };
  const Case cases[] = {
      {3, SEEK_SET, 3, '3'},
      {2, SEEK_CUR, 6, '6'},  // after reading one byte at 3
      {-2, SEEK_END, 8, '8'},
      {0, AVSEEK_SIZE, 10, '9'},  // the size, position left where it was
      {1, SEEK_SET | AVSEEK_FORCE, 1, '1'},
      {-5, SEEK_SET, -1, '2'},  // failure, position unchanged
      {0, 7, -1, 0},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(::testing::Message() << c.position << " whence " << c.whence);
    EXPECT_EQ(UnicodeSeek(file_, c.position, c.whence), c.result);
    if (c.next != 0) {
      uint8_t byte = 0;
      ASSERT_EQ(UnicodeRead(file_, &byte, 1), 1);
      EXPECT_EQ(static_cast<char>(byte), c.next);
    }
  }
}

TEST_F(UnicodeProtocolTest, ReadingNeverCreatesOrTruncates) {
  const std::string missing = temp_ / ("missing.jpg");
  EXPECT_EQ(UnicodeOpen(file_, ProtocolName(missing), AVIO_FLAG_READ), -2);
  EXPECT_FALSE(std::filesystem::exists(missing));
  ASSERT_EQ(UnicodeOpen(file_, ProtocolName(path_), AVIO_FLAG_READ), 0);
  uint8_t byte = 'x';
  EXPECT_EQ(UnicodeWrite(file_, &byte, 1), -1) << "opened for reading only";
  UnicodeClose(file_);
  EXPECT_EQ(ReadFile(path_), "0123456789");
}

TEST_F(UnicodeProtocolTest, WritingCreatesOrTruncates) {
  struct Case {
    int flags;
    bool exists;
  };
  const Case cases[] = {
      {AVIO_FLAG_WRITE, true},
      {AVIO_FLAG_WRITE, false},
      {AVIO_FLAG_READ_WRITE, true},
      {AVIO_FLAG_READ_WRITE, false},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(::testing::Message() << "flags " << c.flags << (c.exists ? " existing" : " new"));
    const std::string path = temp_ / ("out.jpg");
    if (c.exists) WriteFile(path, "old content that is longer");
    else std::filesystem::remove(path);
    ASSERT_EQ(UnicodeOpen(file_, ProtocolName(path), c.flags), 0);
    const uint8_t text[] = {'n', 'e', 'w'};
    EXPECT_EQ(UnicodeWrite(file_, text, 3), 3);
    if (c.flags == AVIO_FLAG_READ_WRITE) {
      EXPECT_EQ(UnicodeSeek(file_, 0, SEEK_SET), 0);
      uint8_t back[8] = {};
      EXPECT_EQ(UnicodeRead(file_, back, 8), 3);
    }
    UnicodeClose(file_);
    EXPECT_EQ(ReadFile(path), "new");
  }
}

TEST_F(UnicodeProtocolTest, OpenFailsInAMissingFolder) {
  EXPECT_EQ(UnicodeOpen(file_, ProtocolName(temp_ / ("no/such/out.jpg")), AVIO_FLAG_WRITE), -2);
}

TEST_F(UnicodeProtocolTest, LibraryByteStreamReadsSeeksAndWrites) {
  LoadSystemLibraries();
  int error = 1;
  auto reader = UnicodeStream::Open(ProtocolName(path_), AVIO_FLAG_READ, &error);
  ASSERT_NE(reader, nullptr);
  EXPECT_EQ(error, 0);
  EXPECT_EQ(lib::avio_size(reader->Context()), 10);
  unsigned char buffer[32] = {};
  EXPECT_EQ(lib::avio_read(reader->Context(), buffer, 32), 10);
  EXPECT_EQ(std::string(reinterpret_cast<char*>(buffer), 10), "0123456789");
  EXPECT_TRUE(lib::avio_feof(reader->Context()));
  EXPECT_EQ(lib::avio_seek(reader->Context(), 7, SEEK_SET), 7);
  EXPECT_EQ(StreamPosition(reader->Context()), 7);
  EXPECT_EQ(lib::avio_read(reader->Context(), buffer, 32), 3);
  reader.reset();

  const std::string out = temp_ / ("written.bmp");
  auto writer = UnicodeStream::Open(ProtocolName(out), AVIO_FLAG_WRITE, &error);
  ASSERT_NE(writer, nullptr);
  lib::avio_write(writer->Context(), reinterpret_cast<const unsigned char*>("through the library"), 19);
  writer.reset();  // flushes
  EXPECT_EQ(ReadFile(out), "through the library");

  EXPECT_EQ(UnicodeStream::Open(ProtocolName(temp_ / ("none.jpg")), AVIO_FLAG_READ, &error), nullptr);
  EXPECT_EQ(error, -2);
}

}  // namespace
}  // namespace lumivor
