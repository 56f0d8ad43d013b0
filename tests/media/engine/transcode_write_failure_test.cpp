// A run whose output cannot be written to the end fails with the library's reason: a file size
// limit reached while packets are written, while the trailer is written or at the last flush,
// and a full file system. The file on disk is then incomplete, so the run must never count as
// finished.
#include <gtest/gtest.h>

#include <signal.h>
#include <sys/mount.h>
#include <sys/resource.h>
#include <sys/stat.h>

#include <cerrno>
#include <cstring>
#include <string>

#include "transcode_test_support.h"

namespace lumivor {
namespace {

using testing_engine::TranscodeTest;

// Caps the size of every file this process writes, the way a shell's file size limit does;
// writes past the cap fail with "File too large" instead of ending the process.
class FileSizeCap {
 public:
  explicit FileSizeCap(rlim_t bytes) {
    ok_ = ::getrlimit(RLIMIT_FSIZE, &saved_) == 0;
    previousSignal_ = ::signal(SIGXFSZ, SIG_IGN);
    rlimit capped = saved_;
    capped.rlim_cur = bytes;
    ok_ = ok_ && ::setrlimit(RLIMIT_FSIZE, &capped) == 0;
  }
  ~FileSizeCap() {
    ::setrlimit(RLIMIT_FSIZE, &saved_);
    ::signal(SIGXFSZ, previousSignal_);
  }
  FileSizeCap(const FileSizeCap&) = delete;
  FileSizeCap& operator=(const FileSizeCap&) = delete;
  bool Ok() const { return ok_; }

 private:
  rlimit saved_{};
  sighandler_t previousSignal_ = SIG_DFL;
  bool ok_ = false;
};

class TranscodeWriteFailure : public TranscodeTest {
 protected:
  // Runs the task, uncapped when cap is 0; the failure text, empty for a run that ended well.
  std::string Convert(const std::string& input, const std::string& output, const std::string& options,
                      rlim_t cap) {
    Engine = std::make_unique<TCustomFFmpeg>();
    Engine->BuildOptionTable();
    EXPECT_GE(AddInput(input), 0) << Engine->LastErrMsg;
    EXPECT_GE(AddOutput(output, options), 0) << Engine->LastErrMsg;
    if (cap == 0) return Run();
    FileSizeCap limit(cap);
    EXPECT_TRUE(limit.Ok()) << std::strerror(errno);
    return Run();
  }
};

TEST_F(TranscodeWriteFailure, AFileSizeLimitFailsTheRunWithTheReason) {
  const std::string small = MakeInput("small.mkv", 1, true, false);
  const std::string large = MakeInput("large.mkv", 4);

  struct Case {
    const char* Name;
    const std::string* Input;
    const char* Options;
    std::int64_t BytesShort;  // the cap: the size a run without one writes, less this many bytes
  };
  // Below the library's write buffer everything reaches the file at the end: the trailer's
  // writes and the last flush fail there. The large one fills several buffers on the way.
  const Case cases[] = {
      {"the end of a small file", &small, "-c:v mpeg4", 1},
      {"the trailer of a small file", &small, "-c:v mpeg4", 200},
      {"the packets of a large file", &large, "-c:v mpeg4 -c:a pcm_s16le", 400000},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.Name);
    const std::string reference = PathOf(std::string("reference-") + std::to_string(&c - cases) + ".mkv");
    ASSERT_EQ(Convert(*c.Input, reference, c.Options, 0), "");
    ASSERT_TRUE(Engine->Finished.load());
    const std::int64_t full = testing_engine::FileSize(reference);
    ASSERT_GT(full, c.BytesShort + 1000) << "the reference output is too small for this case";

    const std::string capped = PathOf(std::string("capped-") + std::to_string(&c - cases) + ".mkv");
    const std::string failure = Convert(*c.Input, capped, c.Options, static_cast<rlim_t>(full - c.BytesShort));
    EXPECT_NE(failure.find("File too large"), std::string::npos) << "failure: " << failure;
    EXPECT_NE(Engine->LastErrMsg.find("File too large"), std::string::npos) << Engine->LastErrMsg;
    EXPECT_FALSE(Engine->Finished.load()) << "an incomplete file is no finished run";
    EXPECT_LE(testing_engine::FileSize(capped), full - c.BytesShort);
  }
}

TEST_F(TranscodeWriteFailure, AFullFileSystemFailsTheRunWithTheReason) {
  const std::string input = MakeInput("input.mkv", 4);
  const std::string mountPoint = PathOf("small-disk");
  ASSERT_EQ(::mkdir(mountPoint.c_str(), 0700), 0);
  if (::mount("tmpfs", mountPoint.c_str(), "tmpfs", 0, "size=64k") != 0) {
    GTEST_SKIP() << "mounting a small file system is not allowed here: " << std::strerror(errno);
  }
  const std::string failure = Convert(input, mountPoint + "/out.mkv", "-c:v mpeg4 -c:a pcm_s16le", 0);
  ::umount2(mountPoint.c_str(), MNT_DETACH);
  EXPECT_NE(failure.find("No space left on device"), std::string::npos) << "failure: " << failure;
  EXPECT_FALSE(Engine->Finished.load());
}

}  // namespace
}  // namespace lumivor
