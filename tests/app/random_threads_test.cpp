// Each sequencer draws from a generator of its own: its frames are the same whichever thread reads
// them, whatever another sequencer or a stray draw on the same or another thread does meanwhile.
#include <gtest/gtest.h>

#include <atomic>
#include <cstdint>
#include <string>
#include <thread>
#include <vector>

#include "app/run_test_support.h"
#include "app/show/frame_sequencer.h"
#include "effects/random.h"
#include "support/scratch_folder.h"

namespace lumivor {
namespace {

constexpr int W = 64, H = 48;

std::uint64_t frame_hash(const Bitmap& frame) {
  std::uint64_t hash = 1469598103934665603ull;
  for (int y = 0; y < frame.Height(); ++y) {
    const std::uint8_t* row = frame.ScanLine(y);
    for (int x = 0; x < frame.Width() * 4; ++x) hash = (hash ^ row[x]) * 1099511628211ull;
  }
  return hash;
}

struct ShowSetup {
  const char* Name;
  bool Random;
  std::uint32_t Seed;
  std::vector<int> Order;
  MotionKind Motion;
};

// Drawn at random (each choice a draw), and taken in turn from shreds that draw on every frame
// they compose: either way a draw taken from the wrong state changes a picture.
const ShowSetup Shows[] = {
    {"drawn effects, zoom", true, 11u, {}, MotionKind::Zoom},
    {"shreds in turn, still", false, 3u, {65, 77, 100, 66}, MotionKind::None},
};

class Show {
 public:
  Show(const std::vector<std::string>& photos, const ShowSetup& setup) : photos_(photos), canvas_(W, H, 32) {
    sequencer_.Photos = [this]() -> const std::vector<std::string>& { return photos_; };
    sequencer_.Motion = setup.Motion;
    sequencer_.ResetRun(W, H, 2, 7, setup.Random, setup.Seed, setup.Order);
  }
  // The next frame's hash, or nothing at the end.
  bool Read(std::vector<std::uint64_t>& hashes) {
    if (sequencer_.ReadFrameCanvas(canvas_) != 0) return false;
    hashes.push_back(frame_hash(canvas_));
    return true;
  }
  std::uint64_t FrameAt(std::int64_t frame) {
    sequencer_.SeekFrame(frame);
    std::vector<std::uint64_t> one;
    return Read(one) ? one.front() : 0;
  }

 private:
  std::vector<std::string> photos_;
  FrameSequencer sequencer_;
  Bitmap canvas_;
};

class RandomThreadsTest : public ::testing::Test {
 protected:
  void SetUp() override {
    for (int i = 0; i < 4; ++i) {
      const std::string path = folder / ("photo" + std::to_string(i) + ".jpg");
      testing::WritePhoto(path, 80 + 16 * i, 60 + 8 * i);
      photos.push_back(path);
    }
    for (const ShowSetup& setup : Shows) {
      Show alone(photos, setup);
      std::vector<std::uint64_t> hashes;
      while (alone.Read(hashes)) {
      }
      reference.push_back(hashes);
    }
  }

  testing::ScratchFolder folder;
  std::vector<std::string> photos;
  std::vector<std::vector<std::uint64_t>> reference;
};

TEST_F(RandomThreadsTest, ASequencersFramesDoNotDependOnWhatElseDraws) {
  ASSERT_GT(reference[0].size(), 30u);
  // The two shows differ, or the comparisons below could not tell one from the other.
  ASSERT_NE(reference[0], reference[1]);

  enum class Way { OneThreadInTurns, TwoThreadsAtOnce };
  const struct {
    const char* name;
    Way way;
  } cases[] = {
      {"in turns on one thread, stray draws between", Way::OneThreadInTurns},
      {"on two threads at once, stray draws on a third", Way::TwoThreadsAtOnce},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    // Readied here and read elsewhere, as a preview readies its sequencer and its worker reads it.
    Show first(photos, Shows[0]);
    Show second(photos, Shows[1]);
    std::vector<std::uint64_t> firstHashes, secondHashes;
    if (c.way == Way::OneThreadInTurns) {
      bool firstGoing = true, secondGoing = true;
      while (firstGoing || secondGoing) {
        if (firstGoing) firstGoing = first.Read(firstHashes);
        RandomSeed = 0xBADu;
        RandomInt(1000);
        if (secondGoing) secondGoing = second.Read(secondHashes);
        RandomInt(7);
      }
    } else {
      std::atomic<int> running{2};
      std::thread a([&] {
        while (first.Read(firstHashes)) {
        }
        --running;
      });
      std::thread b([&] {
        while (second.Read(secondHashes)) {
        }
        --running;
      });
      // An effect gallery's animation drawing on the main thread all the while.
      while (running > 0) RandomInt(100);
      a.join();
      b.join();
    }
    EXPECT_EQ(firstHashes, reference[0]) << Shows[0].Name;
    EXPECT_EQ(secondHashes, reference[1]) << Shows[1].Name;

    // A seek counts the draws of the frames before it from the run's own start, on any thread.
    const std::int64_t middle = static_cast<std::int64_t>(reference[0].size()) / 2;
    std::uint64_t sought = 0;
    std::thread seeker([&] { sought = first.FrameAt(middle); });
    RandomSeed = 0xFEEDu;
    seeker.join();
    EXPECT_EQ(sought, reference[0][static_cast<std::size_t>(middle)]);
    EXPECT_EQ(second.FrameAt(5), reference[1][5]);
  }
}

}  // namespace
}  // namespace lumivor
