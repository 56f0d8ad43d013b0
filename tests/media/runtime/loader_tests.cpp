#include <dlfcn.h>
#include <link.h>

#include <fstream>
#include <vector>

#include "media/runtime/ff_load.h"
#include "media/runtime/floating_point.h"
#include "media/runtime/lock_manager.h"
#include "media/runtime/stream_helpers.h"
#include "media/runtime/timestamps.h"
#include "media/runtime/ff_log.h"
#include "media/runtime/runtime_errors.h"
#include "runtime_test_support.h"

namespace lumivor {
namespace {

using testing::LoadSystemLibraries;
using testing::ScratchFolder;

TFFLoader& Loader() { return TFFLoader::Instance(); }

void WriteGarbage(const std::string& path) {
  std::ofstream out(path, std::ios::binary);
  out << "this is not a shared object\n";
}

void ExpectNoneLoaded() {
  for (int i = 0; i < LibraryCount; ++i) {
    EXPECT_FALSE(Loader().IsLoaded(static_cast<LibraryIndex>(i))) << TFFLoader::LibraryFileName(static_cast<LibraryIndex>(i));
  }
}

// Where the system search finds a library, so a test can copy it.
std::string SystemLibraryPath(const char* soname) {
  // Kept mapped: unmapping these libraries loses what their initialisers allocated.
  void* handle = dlopen(soname, RTLD_NOW | RTLD_LOCAL | RTLD_NODELETE);
  if (handle == nullptr) return std::string();
  link_map* map = nullptr;
  std::string path;
  if (dlinfo(handle, RTLD_DI_LINKMAP, &map) == 0 && map != nullptr) path = map->l_name;
  dlclose(handle);
  return path;
}

TEST(LibraryFileNameTest, EveryRowFollowsTheSharedObjectPattern) {
  struct Case {
    LibraryIndex library;
    const char* fileName;
  };
  const Case cases[] = {
      {lbAVCodec, "libavcodec.so.59"},   {lbAVDevice, "libavdevice.so.59"}, {lbAVFilter, "libavfilter.so.8"},
      {lbAVFormat, "libavformat.so.59"}, {lbAVUtil, "libavutil.so.57"},     {lbSWResample, "libswresample.so.4"},
      {lbSWScale, "libswscale.so.6"},    {lbLibC, "libc.so.6"},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(TFFLoader::LibraryFileName(c.library), c.fileName);
    EXPECT_EQ(TFFLoader::Item(c.library).NoFolder, c.library == lbLibC) << c.fileName;
  }
}

TEST(LibraryFileNameTest, DefaultFolderIsLibAVBesideTheExecutable) {
  const std::string exe = std::filesystem::read_symlink("/proc/self/exe").string();
  EXPECT_EQ(TFFLoader::DefaultLibraryPath(), std::filesystem::path(exe).parent_path().string() + "/LibAV");
}

TEST(LibrarySetTest, ComponentSets) {
  EXPECT_EQ(EncoderLibraries.Bits(), 0xFFu);
  EXPECT_EQ(PlayerLibraries.Bits(), 0xFFu);
  EXPECT_FALSE(DecoderLibraries.Contains(lbAVDevice));
  EXPECT_FALSE(DecoderLibraries.Contains(lbAVFilter));
  for (LibraryIndex l : {lbAVCodec, lbAVFormat, lbAVUtil, lbSWResample, lbSWScale, lbLibC}) {
    EXPECT_TRUE(DecoderLibraries.Contains(l)) << l;
  }
}

TEST(LoaderTest, EmptySetIsAnAssertionFailure) {
  EXPECT_THROW(Loader().Load(LibrarySet{}), EAssertionFailed);
  EXPECT_THROW(Loader().AllLoaded(LibrarySet{}), EAssertionFailed);
  EXPECT_THROW(Loader().Unload(LibrarySet{}), EAssertionFailed);
}

TEST(LoaderTest, LoadingTwiceBindsOnceAndFillsTheSlots) {
  LoadSystemLibraries();
  int counts[LibraryCount];
  for (int i = 0; i < LibraryCount; ++i) counts[i] = Loader().BindCount(static_cast<LibraryIndex>(i));
  ASSERT_TRUE(Loader().Load(AllLibraries)) << Loader().LastError();
  for (int i = 0; i < LibraryCount; ++i) {
    EXPECT_EQ(Loader().BindCount(static_cast<LibraryIndex>(i)), counts[i]) << TFFLoader::LibraryFileName(static_cast<LibraryIndex>(i));
  }
  EXPECT_TRUE(Loader().AllLoaded(AllLibraries));
  EXPECT_NO_THROW(Loader().CheckLoaded(AllLibraries));

  // One slot per library, and the ones whose registration runs at bind time.
  EXPECT_NE(lib::avcodec_send_packet, nullptr);
  EXPECT_NE(lib::avdevice_register_all, nullptr);
  EXPECT_NE(lib::av_buffersink_get_frame_flags, nullptr);
  EXPECT_NE(lib::avformat_open_input, nullptr);
  EXPECT_NE(lib::av_channel_layout_default, nullptr);
  EXPECT_NE(lib::swr_alloc_set_opts2, nullptr);
  EXPECT_NE(lib::sws_getContext, nullptr);
  // Gone from this generation: stays null, and loading still succeeds.
  EXPECT_EQ(lib::av_lockmgr_register, nullptr);

  // The slots really reach the library.
  EXPECT_STREQ(lib::av_get_pix_fmt_name(AV_PIX_FMT_BGR24), "bgr24");
  EXPECT_NE(lib::avcodec_find_decoder(AV_CODEC_ID_PCM_S16LE), nullptr);
}

TEST(LoaderTest, UnloadClearsSlotsAndCheckLoadedNamesTheFirstMissingLibrary) {
  LoadSystemLibraries();
  Loader().Unload(AllLibraries);
  ExpectNoneLoaded();
  EXPECT_EQ(lib::avcodec_open2, nullptr);
  EXPECT_EQ(lib::av_log_set_callback, nullptr);
  EXPECT_THROW(DefaultLogger().InstallLogCallback(), EAssertionFailed);

  struct Case {
    LibrarySet set;
    const char* message;
  };
  const Case cases[] = {
      {DecoderLibraries, "Library avcodec not loaded."},
      {LibrarySet{lbSWScale, lbAVUtil}, "Library avutil not loaded."},
      {LibrarySet{lbLibC}, "Library c not loaded."},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.message);
    try {
      Loader().CheckLoaded(c.set);
      ADD_FAILURE() << "no exception";
    } catch (const ELibraryNotLoaded& e) {
      EXPECT_STREQ(e.what(), c.message);
    }
  }
  // Loaded again afterwards for the other tests.
  LoadSystemLibraries();
  EXPECT_NO_THROW(Loader().CheckLoaded(AllLibraries));
}

TEST(LoaderTest, CheckLoadedSkipsLoadedLibraries) {
  LoadSystemLibraries();
  Loader().Unload(LibrarySet{lbSWScale});
  try {
    Loader().CheckLoaded(AllLibraries);
    ADD_FAILURE() << "no exception";
  } catch (const ELibraryNotLoaded& e) {
    EXPECT_STREQ(e.what(), "Library swscale not loaded.");
  }
  LoadSystemLibraries();
}

// Each case breaks one file of a "LibAV" folder; the others come from the
// system search. Whatever was loaded before the failure is unloaded again.
TEST(LoaderTest, BrokenLibraryInTheFolderLeavesTheWholeSetUnloaded) {
  struct Case {
    LibraryIndex broken;
    LibrarySet set;
    LibraryIndex loadedBefore;  // a library the load order binds before the broken one
  };
  const Case cases[] = {
      {lbAVUtil, DecoderLibraries, lbAVUtil},
      {lbAVFilter, EncoderLibraries, lbAVFormat},  // sixth in the load order
      {lbAVDevice, EncoderLibraries, lbAVFilter},
  };
  for (const Case& c : cases) {
    const std::string fileName = TFFLoader::LibraryFileName(c.broken);
    SCOPED_TRACE(fileName);
    Loader().Unload(AllLibraries);
    ScratchFolder temp;
    const std::filesystem::path folder = std::filesystem::path(temp.Path()) / "LibAV";
    std::filesystem::create_directory(folder);
    WriteGarbage((folder / fileName).string());
    Loader().SetLibraryPath(folder.string());

    const int boundBefore = Loader().BindCount(c.loadedBefore);
    EXPECT_FALSE(Loader().Load(c.set));
    ExpectNoneLoaded();
    const std::string expected = "Load library " + (folder / fileName).string() + " error: ";
    EXPECT_EQ(Loader().LastError().substr(0, expected.size()), expected) << Loader().LastError();
    if (c.loadedBefore != c.broken) {
      EXPECT_EQ(Loader().BindCount(c.loadedBefore), boundBefore + 1) << "loaded before the broken one";
    }
  }
  LoadSystemLibraries();
}

// The decoder's libraries are loaded and in use when the encoder set fails on
// a broken file: the failure takes back what it loaded itself (avfilter,
// avdevice) and leaves the decoder's libraries bound and callable.
TEST(LoaderTest, FailedLoadLeavesAnotherComponentsLibrariesUsable) {
  Loader().Unload(AllLibraries);
  LoadSystemLibraries(DecoderLibraries);
  int counts[LibraryCount];
  for (int i = 0; i < LibraryCount; ++i) counts[i] = Loader().BindCount(static_cast<LibraryIndex>(i));

  ScratchFolder temp;
  WriteGarbage(temp / (TFFLoader::LibraryFileName(lbAVDevice)));
  Loader().SetLibraryPath(temp.Path());
  EXPECT_FALSE(Loader().Load(EncoderLibraries));
  EXPECT_EQ(Loader().BindCount(lbAVFilter), counts[lbAVFilter] + 1) << "avfilter is loaded before avdevice";

  EXPECT_TRUE(Loader().AllLoaded(DecoderLibraries));
  EXPECT_FALSE(Loader().IsLoaded(lbAVFilter));
  EXPECT_FALSE(Loader().IsLoaded(lbAVDevice));
  EXPECT_EQ(lib::avfilter_graph_alloc, nullptr);
  for (int i = 0; i < LibraryCount; ++i) {
    const auto library = static_cast<LibraryIndex>(i);
    if (DecoderLibraries.Contains(library)) {
      EXPECT_EQ(Loader().BindCount(library), counts[i]) << TFFLoader::LibraryFileName(library);
    }
  }
  ASSERT_NE(lib::avcodec_find_decoder, nullptr);
  EXPECT_NE(lib::avcodec_find_decoder(AV_CODEC_ID_PCM_S16LE), nullptr);
  EXPECT_STREQ(lib::av_get_pix_fmt_name(AV_PIX_FMT_BGR24), "bgr24");
  LoadSystemLibraries();
}

// A real shared object that lacks the library's functions: the first missing
// mandatory function is named, and the module is not kept.
TEST(LoaderTest, MissingFunctionNamesFunctionAndFile) {
  const std::string other = SystemLibraryPath("libswresample.so.4");
  ASSERT_FALSE(other.empty());
  Loader().Unload(AllLibraries);
  ScratchFolder temp;
  std::filesystem::copy_file(other, temp / ("libswscale.so.6"));
  Loader().SetLibraryPath(temp.Path());

  EXPECT_FALSE(Loader().Load(DecoderLibraries));
  EXPECT_EQ(Loader().LastError().rfind("Load function sws_alloc_context@libswscale.so.6 error: ", 0), 0u)
      << Loader().LastError();
  ExpectNoneLoaded();
  EXPECT_EQ(lib::sws_alloc_context, nullptr);
  LoadSystemLibraries();
}

TEST(LoaderTest, FolderCopiesAreLoadedByFullPath) {
  // A folder holding a working copy of avutil: it is the one bound.
  const std::string avutil = SystemLibraryPath("libavutil.so.57");
  ASSERT_FALSE(avutil.empty());
  Loader().Unload(AllLibraries);
  ScratchFolder temp;
  std::filesystem::copy_file(avutil, temp / ("libavutil.so.57"));
  Loader().SetLibraryPath(temp.Path());
  ASSERT_TRUE(Loader().Load(LibrarySet{lbAVUtil})) << Loader().LastError();
  Dl_info info{};
  ASSERT_NE(dladdr(reinterpret_cast<void*>(lib::av_log), &info), 0);
  EXPECT_EQ(std::string(info.dli_fname), temp / ("libavutil.so.57"));
  Loader().Unload(AllLibraries);
  LoadSystemLibraries();
}

TEST(LoaderTest, LoggerIsInstalledWhenAvutilIsBound) {
  TFFLogger logger;
  std::vector<std::string> lines;
  logger.SetOnLog([&](const void*, int, TLogLevel, const std::string& message) { lines.push_back(message); });
  logger.SetLogLevel(llInfo);
  LoadSystemLibraries();
  // The repeat state is process-wide: flush it so the line cannot be folded.
  lib::av_log(nullptr, AV_LOG_ERROR, "%s", static_cast<const char*>(nullptr));
  lib::av_log(nullptr, AV_LOG_ERROR, "from the library %d\n", 7);
  EXPECT_NE(std::find(lines.begin(), lines.end(), "from the library 7"), lines.end());
}

TEST(FloatingPointTest, RoundToNearestWithExceptionsMasked) { EXPECT_TRUE(FloatingPointEnvironmentApplied()); }

// ------------------------------------------------------------ lock manager

class LockManagerTest : public ::testing::Test {
 protected:
  void SetUp() override {
    logger_.SetLogLevel(llDebug);
    logger_.SetTriggerEventInMainThread(false);
    logger_.SetOnLog([this](const void*, int, TLogLevel level, const std::string& message) {
      messages_.push_back({level, message});
    });
  }
  struct Message {
    TLogLevel level;
    std::string text;
  };
  std::string Last() const { return messages_.empty() ? std::string() : messages_.back().text; }
  TLogLevel LastLevel() const { return messages_.back().level; }

  TFFLogger logger_;
  std::vector<Message> messages_;
};

TEST_F(LockManagerTest, LifeCycle) {
  const int records = LockRecordCount();
  void* lock = nullptr;
  ASSERT_EQ(LockManagerCallback(&lock, lkCreate), 0);
  ASSERT_NE(lock, nullptr);
  EXPECT_EQ(LockRecordCount(), records + 1);
  int id = 0;
  ASSERT_EQ(std::sscanf(Last().c_str(), "[lock manager] mutex [%d] created.", &id), 1) << Last();
  EXPECT_EQ(LastLevel(), llDebug);

  EXPECT_EQ(LockManagerCallback(&lock, lkCreate), -1);
  EXPECT_EQ(Last(), "[lock manager] error, mutex [" + std::to_string(id) + "] already exist.");
  EXPECT_EQ(LastLevel(), llError);

  EXPECT_EQ(LockManagerCallback(&lock, lkObtain), 0);
  EXPECT_EQ(Last(), "[lock manager] mutex [" + std::to_string(id) + "] obtained.");
  EXPECT_EQ(LockManagerCallback(&lock, lkRelease), 0);
  EXPECT_EQ(Last(), "[lock manager] mutex [" + std::to_string(id) + "] release.");

  EXPECT_EQ(LockManagerCallback(&lock, 9), -1);
  EXPECT_EQ(Last(), "[lock manager] error, invalid mutex operation 9.");

  EXPECT_EQ(LockManagerCallback(&lock, lkDestroy), 0);
  EXPECT_EQ(Last(), "[lock manager] mutex [" + std::to_string(id) + "] destroyed.");
  EXPECT_EQ(lock, nullptr);
  EXPECT_EQ(LockRecordCount(), records);
}

TEST_F(LockManagerTest, DestroyingANeverCreatedLockFailsButRemovesTheRecord) {
  const int records = LockRecordCount();
  void* lock = nullptr;
  EXPECT_EQ(LockManagerCallback(&lock, lkDestroy), -1);
  EXPECT_EQ(Last(), "[lock manager] error, mutex not available.");
  EXPECT_EQ(LastLevel(), llError);
  EXPECT_EQ(lock, nullptr);
  EXPECT_EQ(LockRecordCount(), records);
}

TEST_F(LockManagerTest, ObtainWithoutMutexFails) {
  void* lock = nullptr;
  EXPECT_EQ(LockManagerCallback(&lock, lkObtain), -1);
  EXPECT_EQ(Last(), "[lock manager] error, mutex not available.");
  EXPECT_EQ(LockManagerCallback(&lock, lkRelease), -1);
  EXPECT_EQ(Last(), "[lock manager] error, mutex not available.");
  EXPECT_EQ(LockManagerCallback(&lock, lkDestroy), -1);
}

TEST_F(LockManagerTest, ForeignPointerIsRefusedWithoutBeingTouched) {
  int notARecord = 0;
  void* lock = &notARecord;
  EXPECT_EQ(LockManagerCallback(&lock, lkObtain), -1);
  EXPECT_EQ(lock, &notARecord);
}

TEST_F(LockManagerTest, ObtainBlocksOnlyUsersOfTheSameLock) {
  void* a = nullptr;
  void* b = nullptr;
  ASSERT_EQ(LockManagerCallback(&a, lkCreate), 0);
  ASSERT_EQ(LockManagerCallback(&b, lkCreate), 0);
  ASSERT_EQ(LockManagerCallback(&a, lkObtain), 0);
  std::atomic<bool> gotB{false};
  std::atomic<bool> gotA{false};
  std::thread other([&] {
    gotB = LockManagerCallback(&b, lkObtain) == 0;
    LockManagerCallback(&b, lkRelease);
    gotA = LockManagerCallback(&a, lkObtain) == 0;
    LockManagerCallback(&a, lkRelease);
  });
  for (int i = 0; i < 2000 && !gotB; ++i) std::this_thread::sleep_for(std::chrono::milliseconds(5));
  EXPECT_TRUE(gotB);
  std::this_thread::sleep_for(std::chrono::milliseconds(20));
  EXPECT_FALSE(gotA) << "obtained a lock that is held";
  LockManagerCallback(&a, lkRelease);
  other.join();
  EXPECT_TRUE(gotA);
  EXPECT_EQ(LockManagerCallback(&a, lkDestroy), 0);
  EXPECT_EQ(LockManagerCallback(&b, lkDestroy), 0);
}

// -------------------------------------------------------- support routines

TEST(SupportRoutinesTest, TimestampTexts) {
  EXPECT_EQ(TimestampText(AV_NOPTS_VALUE), "NOPTS");
  EXPECT_EQ(TimestampText(-42), "-42");
  EXPECT_EQ(TimestampSecondsText(AV_NOPTS_VALUE, AVRational{1, 1000}), "NOPTS");
  EXPECT_EQ(TimestampSecondsText(1500, AVRational{1, 1000}), "1.5");
  EXPECT_EQ(TimestampSecondsText(1, AVRational{1, 3}), "0.333333");
  EXPECT_EQ(TimestampSecondsText(90000LL * 123456, AVRational{1, 90000}), "123456");
}

TEST(SupportRoutinesTest, SampleAspectRatioGuess) {
  struct Case {
    AVRational stream, codec, expected;
  };
  const Case cases[] = {
      {{4, 3}, {16, 9}, {4, 3}},
      {{0, 1}, {16, 9}, {16, 9}},
      {{4, 0}, {16, 9}, {16, 9}},
      {{0, 1}, {0, 1}, {0, 1}},
      {{-1, 1}, {1, -1}, {0, 1}},
  };
  for (const Case& c : cases) {
    AVCodecParameters parameters{};
    parameters.sample_aspect_ratio = c.codec;
    AVStream stream{};
    stream.codecpar = &parameters;
    stream.sample_aspect_ratio = c.stream;
    const AVRational guess = GuessSampleAspectRatio(&stream);
    EXPECT_EQ(guess.num, c.expected.num);
    EXPECT_EQ(guess.den, c.expected.den);
  }
}

TEST(SupportRoutinesTest, BufferSinkFrameRate) {
  LoadSystemLibraries();
  AVFilterGraph* graph = lib::avfilter_graph_alloc();
  ASSERT_NE(graph, nullptr);
  AVFilterContext* source = nullptr;
  AVFilterContext* sink = nullptr;
  ASSERT_GE(lib::avfilter_graph_create_filter(&source, lib::avfilter_get_by_name("testsrc"), "src",
                                              "rate=25:size=32x32", nullptr, graph), 0);
  ASSERT_GE(lib::avfilter_graph_create_filter(&sink, lib::avfilter_get_by_name("buffersink"), "out", nullptr,
                                              nullptr, graph), 0);
  ASSERT_GE(lib::avfilter_link(source, 0, sink, 0), 0);
  ASSERT_GE(lib::avfilter_graph_config(graph, nullptr), 0);
  const AVRational rate = BufferSinkFrameRate(sink);
  EXPECT_EQ(rate.num, 25);
  EXPECT_EQ(rate.den, 1);
  EXPECT_THROW(BufferSinkFrameRate(source), EAssertionFailed);
  lib::avfilter_graph_free(&graph);
}

}  // namespace
}  // namespace lumivor
