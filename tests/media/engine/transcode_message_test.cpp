// Failures say their cause: the library's own reason travels with a bare error code, and a name
// whose format cannot be told says so instead of "Invalid argument".
#include <gtest/gtest.h>

#include <string>

#include "transcode_test_support.h"

namespace lumivor {
namespace {

using testing_engine::TranscodeTest;

class TranscodeMessage : public TranscodeTest {};

TEST_F(TranscodeMessage, FailuresNameTheirCause) {
  const std::string input = MakeInput("input.mkv", 0.4, true, false);

  struct Case {
    const char* Name;
    const char* Output;
    const char* Options;
    const char* Begins;    // the text begins with this
    const char* Contains;  // and holds this
  };
  const Case cases[] = {
      // The encoder's code is a bare "Invalid argument"; its log line tells which.
      {"a size the encoder refuses", "odd.mkv", "-c:v h263 -s 161x120", "transcode_init() error",
       "h263: width and height must be a multiple of 4"},
      {"a name of no known format", "out.xyz", "", "", "the output format cannot be guessed from the file name"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.Name);
    Engine = std::make_unique<TCustomFFmpeg>();
    Engine->BuildOptionTable();
    ASSERT_GE(AddInput(input), 0) << Engine->LastErrMsg;
    std::string failure;
    if (AddOutput(PathOf(c.Output), c.Options) < 0) {
      failure = Engine->LastErrMsg;
    } else {
      failure = Run();
    }
    EXPECT_EQ(failure.rfind(c.Begins, 0), 0u) << failure;
    EXPECT_NE(failure.find(c.Contains), std::string::npos) << failure;
  }
}

}  // namespace
}  // namespace lumivor
