// Drawing a video through the two components the application uses: the frame input adapter
// feeds a task that the encoder component builds from option text and runs in the background.
#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <cstdint>
#include <cstdlib>
#include <mutex>
#include <stdexcept>
#include <string>
#include <vector>

#include "decoded_video.h"
#include "media/components/ff_decoder.h"
#include "media/components/ff_encoder.h"
#include "media/components/frame_input.h"
#include "media/runtime/ff_load.h"
#include "media/runtime/ff_log.h"
#include "media/runtime/main_thread.h"
#include "support/scratch_folder.h"

namespace lumivor {
namespace {

constexpr int kWidth = 174;
constexpr int kHeight = 96;
constexpr int kFrames = 15;

// Frame k is one colour above the middle and another below it.
struct Bgr {
  int B, G, R;
};
Bgr TopColour(int frame) { return {40 + frame * 8, 180, 60}; }
Bgr BottomColour(int) { return {200, 50, 120}; }

void DrawFrame(Bitmap& canvas, int frame) {
  for (int y = 0; y < kHeight; ++y) {
    const Bgr c = y < kHeight / 2 ? TopColour(frame) : BottomColour(frame);
    std::uint8_t* row = canvas.ScanLine(y);
    for (int x = 0; x < kWidth; ++x) {
      row[3 * x] = static_cast<std::uint8_t>(c.B);
      row[3 * x + 1] = static_cast<std::uint8_t>(c.G);
      row[3 * x + 2] = static_cast<std::uint8_t>(c.R);
    }
  }
}

Bgr ColourAt(const testing::DecodedPicture& picture, int x, int y) {
  const std::uint8_t* p = picture.PixelAt(x, y);
  return {p[0], p[1], p[2]};
}

bool Near(const Bgr& a, const Bgr& b, int tolerance) {
  return std::abs(a.B - b.B) <= tolerance && std::abs(a.G - b.G) <= tolerance && std::abs(a.R - b.R) <= tolerance;
}

class FrameInputThroughEncoder : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_TRUE(encoder_.LoadLibraries(TFFLoader::DefaultLibraryPath())) << encoder_.LastErrorText;
    RegisterFrameInput();
    savedLevel_ = DefaultLogger().LogLevel();
    DefaultLogger().SetLogLevel(llError);
    encoder_.SetProgressInterval(100);
    encoder_.OnTerminate = [this](TCustomEncoder*, const TTerminateInfo& info) { Ends.push_back(info); };
  }

  // The slideshow's task: the adapter's frames at 10 a second into an mp4 file.
  int BuildTask(TFrameInputAdapter& adapter, const std::string& output) {
    TInputOptions input;
    InitInputOptions(input);
    input.Options = "-f frameinput -input_type canvas -pix_fmt bgr24 -r 10/1 -s 174x96";
    const int task = encoder_.AddTask(adapter.InputName(), &input);
    if (task < 0) return task;
    TOutputOptions out;
    InitOutputOptions(out);
    out.Options = "-c:v mpeg4 -q:v 2 -pix_fmt yuv420p";
    const int result = encoder_.SetOutput(task, output, &out);
    return result < 0 ? result : task;
  }

  void TearDown() override {
    DefaultLogger().SetLogLevel(savedLevel_);
    DefaultLogger().ApplyLogLevel();
  }

  bool RunToTheEnd() {
    encoder_.StartTask(1);
    return WaitServing([this] { return encoder_.AllFinished() && !Ends.empty() && Ends.back().TaskIndex == -1; },
                       std::chrono::seconds(120));
  }

  TFFEncoder encoder_;
  std::vector<TTerminateInfo> Ends;
  testing::ScratchFolder Folder;

 private:
  TLogLevel savedLevel_ = llError;
};

TEST_F(FrameInputThroughEncoder, DrawnFramesMakeAPlayableFile) {
  TFrameInputAdapter adapter;
  adapter.OnReadFrameCanvas = [](TFrameInputAdapter&, Bitmap& canvas, PInputFrameInfo info) {
    if (info->FrameNumber > kFrames) return -1;
    DrawFrame(canvas, info->FrameNumber);
    return 0;
  };
  const std::string output = Folder / "slideshow.mp4";
  ASSERT_EQ(BuildTask(adapter, output), 0) << encoder_.LastErrorText;
  ASSERT_TRUE(RunToTheEnd());
  ASSERT_EQ(Ends.size(), 2u);
  EXPECT_EQ(Ends[0].TaskIndex, 0);
  EXPECT_TRUE(Ends[0].Finished);
  EXPECT_FALSE(Ends[0].Exception) << Ends[0].ExceptionMsg;

  TFFDecoder decoder;
  ASSERT_TRUE(decoder.LoadFile(output)) << decoder.LastErrorText;
  TVideoStreamInfo video;
  ASSERT_TRUE(decoder.GetVideoStreamInfo(decoder.FirstVideoStream, video));
  EXPECT_EQ(video.Width, kWidth);
  EXPECT_EQ(video.Height, kHeight);
  TFileStreamInfo file;
  ASSERT_TRUE(decoder.GetFileStreamInfo(file));
  EXPECT_NEAR(static_cast<double>(file.Duration) / 1e6, kFrames / 10.0, 0.15);
  decoder.CloseFile();

  const std::vector<testing::DecodedPicture> pictures = testing::DecodeVideoPictures(output);
  ASSERT_EQ(pictures.size(), static_cast<std::size_t>(kFrames));
  for (int k = 0; k < kFrames; ++k) {
    SCOPED_TRACE(k);
    const testing::DecodedPicture& p = pictures[static_cast<std::size_t>(k)];
    ASSERT_EQ(p.Width, kWidth);
    ASSERT_EQ(p.Height, kHeight);
    // Away from the edge between the halves, where the codec blurs colours together.
    EXPECT_TRUE(Near(ColourAt(p, kWidth / 2, 10), TopColour(k + 1), 12));
    EXPECT_TRUE(Near(ColourAt(p, kWidth / 2, kHeight - 10), BottomColour(k + 1), 12));
  }
}

TEST_F(FrameInputThroughEncoder, APictureThatCannotBeMadeFailsTheTaskWithItsText) {
  TFrameInputAdapter adapter;
  adapter.OnReadFrameCanvas = [](TFrameInputAdapter&, Bitmap& canvas, PInputFrameInfo info) {
    if (info->FrameNumber == 6) throw std::runtime_error("Could not decode photo-6.jpg");
    DrawFrame(canvas, info->FrameNumber);
    return 0;
  };
  ASSERT_EQ(BuildTask(adapter, Folder / "broken.mp4"), 0) << encoder_.LastErrorText;
  ASSERT_TRUE(RunToTheEnd());
  ASSERT_EQ(Ends.size(), 2u);
  EXPECT_EQ(Ends[0].TaskIndex, 0);
  EXPECT_FALSE(Ends[0].Finished);
  EXPECT_TRUE(Ends[0].Exception);
  EXPECT_EQ(Ends[0].ExceptionMsg, "Could not decode photo-6.jpg");
  EXPECT_EQ(Ends[1].TaskIndex, -1);
}

TEST_F(FrameInputThroughEncoder, AddTaskReportsARefusedFrameInput) {
  TFrameInputAdapter adapter;
  TInputOptions input;
  InitInputOptions(input);
  input.Options = "-f frameinput -input_type Canvas -pix_fmt bgr24 -r 10/1 -s 174x96";
  EXPECT_LT(encoder_.AddTask(adapter.InputName(), &input), 0);
  EXPECT_NE(encoder_.LastErrorText.find("Invalid argument"), std::string::npos) << encoder_.LastErrorText;
  EXPECT_EQ(encoder_.TaskCount(), 0);
}

}  // namespace
}  // namespace lumivor
