#include <gtest/gtest.h>

#include <algorithm>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <functional>
#include <map>
#include <random>
#include <sstream>
#include <stdexcept>
#include <string>
#include <thread>
#include <chrono>
#include <vector>

#include "media/components/ff_decoder.h"
#include "media/engine/error_text.h"
#include "media/runtime/ff_load.h"
#include "support/scratch_folder.h"
#include "media/runtime/ff_log.h"
#include "media_maker.h"

namespace lumivor {
namespace {

using testing::MediaSpec;

std::vector<std::string> Lines(const std::string& text) {
  std::vector<std::string> lines;
  std::istringstream in(text);
  for (std::string line; std::getline(in, line);) lines.push_back(line);
  return lines;
}

bool HasLine(const std::string& text, const std::string& line) {
  for (const auto& l : Lines(text)) {
    if (l == line) return true;
  }
  return false;
}

std::int64_t SizeOf(const std::string& path) { return static_cast<std::int64_t>(std::filesystem::file_size(path)); }

void WriteBytes(const std::string& path, const std::vector<std::uint8_t>& bytes) {
  std::ofstream out(path, std::ios::binary | std::ios::trunc);
  out.write(reinterpret_cast<const char*>(bytes.data()), static_cast<std::streamsize>(bytes.size()));
}

std::vector<std::uint8_t> ReadBytes(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  return std::vector<std::uint8_t>(std::istreambuf_iterator<char>(in), {});
}

// Collects what the components log, for as long as the object lives.
class LogCapture {
 public:
  // Warnings must reach the capture whatever level an earlier test left the process-wide logger at.
  LogCapture() : savedLevel_(DefaultLogger().LogLevel()) {
    if (savedLevel_ < llWarning) DefaultLogger().SetLogLevel(llWarning);
    DefaultLogger().SetOnLog([this](const void*, int, TLogLevel level, const std::string& message) {
      if (level <= llWarning) Messages.push_back(message);
    });
  }
  ~LogCapture() {
    DefaultLogger().SetOnLog(nullptr);
    DefaultLogger().SetLogLevel(savedLevel_);
  }
  int Count(const std::string& message) const {
    int n = 0;
    for (const auto& m : Messages) n += m == message ? 1 : 0;
    return n;
  }
  std::vector<std::string> Messages;

 private:
  TLogLevel savedLevel_;
};

// Media made once for the whole suite: a 1 s tone as WAV and MP3, a video clip with sound, a
// silent clip, and a tagged file.
class Decoder : public ::testing::Test {
 protected:
  static void SetUpTestSuite() {
    folder_ = new testing::ScratchFolder();
    std::string error;
    MediaSpec wav;
    wav.Format = "wav";
    ok_ = testing::WriteMediaFile(Wav(), wav, error);
    MediaSpec mp3;
    mp3.Format = "mp3";
    mp3.Audio.Codec = "libmp3lame";
    mp3.Audio.BitRate = 128000;
    mp3.FileTags = {{"title", "Tone"}, {"album", "Tests"}, {"track", "7"}, {"genre", "Test"}, {"copyright", "none"}};
    ok_ = ok_ && testing::WriteMediaFile(Mp3(), mp3, error);
    MediaSpec clip;
    clip.Format = "matroska";
    clip.HasVideo = true;
    clip.Audio.Codec = "mp2";
    clip.Video.SampleAspectNum = 4;
    clip.Video.SampleAspectDen = 3;
    clip.FileTags = {{"title", "Clip"}, {"year", "2024"}, {"comment", "first line\nsecond\rline"}};
    clip.AudioTags = {{"language", "eng"}};
    clip.AudioDisposition = AV_DISPOSITION_DEFAULT | AV_DISPOSITION_FORCED | AV_DISPOSITION_HEARING_IMPAIRED;
    ok_ = ok_ && testing::WriteMediaFile(Clip(), clip, error);
    MediaSpec silent;
    silent.Format = "avi";
    silent.HasVideo = true;
    silent.HasAudio = false;
    ok_ = ok_ && testing::WriteMediaFile(Silent(), silent, error);
    error_ = error;
  }
  static void TearDownTestSuite() {
    delete folder_;
    folder_ = nullptr;
  }
  void SetUp() override { ASSERT_TRUE(ok_) << error_; }

  static std::string Path(const std::string& name) { return *folder_ / name; }
  static std::string Wav() { return Path("tone.wav"); }
  static std::string Mp3() { return Path("tone.mp3"); }
  static std::string Clip() { return Path("clip.mkv"); }
  static std::string Silent() { return Path("silent.avi"); }

  TFFDecoder decoder_;

 private:
  static testing::ScratchFolder* folder_;
  static bool ok_;
  static std::string error_;
};

testing::ScratchFolder* Decoder::folder_ = nullptr;
bool Decoder::ok_ = false;
std::string Decoder::error_;

TEST_F(Decoder, WithoutAFileEverythingIsUnknown) {
  EXPECT_EQ(decoder_.FileSize, -1);
  EXPECT_EQ(decoder_.StreamCount, -1);
  EXPECT_EQ(decoder_.FirstAudioStream, -1);
  TFileStreamInfo info;
  info.Duration = 5;
  info.Title = "old";
  EXPECT_FALSE(decoder_.GetFileStreamInfo(info));
  EXPECT_EQ(info.StartTime, AV_NOPTS_VALUE);
  EXPECT_EQ(info.Duration, -1);
  EXPECT_EQ(info.BitRate, -1);
  EXPECT_EQ(info.Year, -1);
  EXPECT_EQ(info.Track, -1);
  EXPECT_EQ(info.Title, "");
  EXPECT_EQ(decoder_.LastErrorText, "file not loaded.");
  decoder_.LastErrorText.clear();
  EXPECT_EQ(decoder_.FileInfoText(), "");
  EXPECT_EQ(decoder_.LastErrorText, "file not loaded.");
  TAudioStreamInfo audio;
  EXPECT_FALSE(decoder_.GetAudioStreamInfo(-1, audio));
  EXPECT_EQ(audio.SampleRate, -1);
}

TEST_F(Decoder, WavToneIsDescribedLineByLine) {
  ASSERT_TRUE(decoder_.LoadFile(Wav())) << decoder_.LastErrorText;
  EXPECT_EQ(decoder_.FileSize, SizeOf(Wav()));
  EXPECT_EQ(decoder_.StreamCount, 1);
  EXPECT_EQ(decoder_.AudioStreamCount, 1);
  EXPECT_EQ(decoder_.VideoStreamCount, 0);
  EXPECT_EQ(decoder_.FirstAudioStream, 0);
  EXPECT_EQ(decoder_.FirstVideoStream, -1);
  const auto lines = Lines(decoder_.FileInfoText());
  ASSERT_GE(lines.size(), 6u);
  EXPECT_EQ(lines[0], "File Name: " + Wav());
  EXPECT_EQ(lines[1], "Format Name: wav");
  EXPECT_EQ(lines[2], "Format Long Name: WAV / WAVE (Waveform Audio)");
  char size[64];
  std::snprintf(size, sizeof size, "File Size: %.2f KB", SizeOf(Wav()) / 1024.0);
  EXPECT_EQ(lines[3], size);
  // 44 frames of 1024 samples: 45056 / 44100 s = 1.021678 s, shown to the nearest millisecond.
  // The library knows no start time for a WAV file, so there is no start item.
  EXPECT_TRUE(HasLine(decoder_.FileInfoText(), "Duration: 00:00:01.022, bitrate: 1411 kb/s"))
      << decoder_.FileInfoText();
  EXPECT_EQ(lines.back().rfind("  Stream #0, 1/44100: Audio: pcm_s16le", 0), 0u) << lines.back();
  EXPECT_NE(lines.back().find(", duration: 00:00:01.022"), std::string::npos) << lines.back();
  EXPECT_NE(lines.back().find("44100 Hz"), std::string::npos) << lines.back();

  TAudioStreamInfo audio;
  ASSERT_TRUE(decoder_.GetAudioStreamInfo(-1, audio)) << decoder_.LastErrorText;
  EXPECT_EQ(audio.CodecName, "pcm_s16le");
  EXPECT_EQ(audio.SampleRate, 44100);
  EXPECT_EQ(audio.Channels, 2);
  EXPECT_EQ(audio.SampleFormat, AV_SAMPLE_FMT_S16);
  EXPECT_EQ(audio.BitRate, 1411200);
  EXPECT_EQ(audio.Duration, 45056);
  EXPECT_EQ(audio.DurationUS, 1021678);
}

TEST_F(Decoder, SizeLinesChangeUnitAboveEachPowerOf1024) {
  struct Case {
    int Bytes;
    const char* Line;
  };
  const Case cases[] = {
      {1024, "File Size: 1024 Byte"},
      {1025, "File Size: 1.00 KB"},
      {1048576, "File Size: 1024.00 KB"},
      {1048577, "File Size: 1.00 MB"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.Bytes);
    const std::string path = Path("sized-" + std::to_string(c.Bytes) + ".wav");
    ASSERT_TRUE(testing::WriteSizedWav(path, c.Bytes));
    ASSERT_TRUE(decoder_.LoadFile(path)) << decoder_.LastErrorText;
    EXPECT_EQ(decoder_.FileSize, c.Bytes);
    EXPECT_TRUE(HasLine(decoder_.FileInfoText(), c.Line)) << decoder_.FileInfoText();
  }
}

TEST_F(Decoder, ClipWithVideoAndSound) {
  ASSERT_TRUE(decoder_.LoadFile(Clip())) << decoder_.LastErrorText;
  EXPECT_EQ(decoder_.StreamCount, 2);
  EXPECT_EQ(decoder_.FirstVideoStream, 0);
  EXPECT_EQ(decoder_.FirstAudioStream, 1);
  TVideoStreamInfo video;
  ASSERT_TRUE(decoder_.GetVideoStreamInfo(-1, video)) << decoder_.LastErrorText;
  EXPECT_EQ(video.Width, 320);
  EXPECT_EQ(video.Height, 240);
  EXPECT_EQ(video.FrameRateNum, 25);
  EXPECT_EQ(video.FrameRateDen, 1);
  EXPECT_EQ(video.PixelFormat, AV_PIX_FMT_YUV420P);
  EXPECT_EQ(video.CodecName, "mpeg4");
  EXPECT_EQ(video.SampleAspectNum, 4);
  EXPECT_EQ(video.SampleAspectDen, 3);
  EXPECT_FLOAT_EQ(video.SampleAspect, 4.0f / 3.0f);
  EXPECT_EQ(video.DisplayAspectNum, 16);
  EXPECT_EQ(video.DisplayAspectDen, 9);
  EXPECT_FLOAT_EQ(video.DisplayAspect, 16.0f / 9.0f);
  TAudioStreamInfo audio;
  ASSERT_TRUE(decoder_.GetAudioStreamInfo(-1, audio));
  EXPECT_EQ(audio.Language, "eng");
  EXPECT_EQ(audio.CodecName, "mp2");

  const std::string text = decoder_.FileInfoText();
  const auto lines = Lines(text);
  // The stream line in the library's words, then the rates in their short forms.
  bool videoLine = false;
  bool audioLine = false;
  for (const auto& line : lines) {
    if (line.rfind("  Stream #0, 1/1000: Video: mpeg4", 0) == 0) {
      videoLine = true;
      EXPECT_NE(line.find("320x240 [SAR 4:3 DAR 16:9]"), std::string::npos) << line;
      EXPECT_NE(line.find(", 25 tbr, 1k tbn"), std::string::npos) << line;
      EXPECT_EQ(line.find("(default)"), std::string::npos) << line;
    }
    if (line.rfind("  Stream #1(eng), 1/1000: Audio: mp2", 0) == 0) {
      audioLine = true;
      EXPECT_NE(line.find(" (default) (forced) (hearing impaired), start: 0.000000"), std::string::npos) << line;
    }
  }
  EXPECT_TRUE(videoLine) << text;
  EXPECT_TRUE(audioLine) << text;
  EXPECT_TRUE(HasLine(text, "Metadata:")) << text;
  EXPECT_TRUE(HasLine(text, "  title           : Clip")) << text;
  // A tag value with a line break continues on a line of its own; a carriage return is a space.
  // Keys as the container stores them.
  EXPECT_TRUE(HasLine(text, "  COMMENT         : first line")) << text;
  EXPECT_TRUE(HasLine(text, "                  : second line")) << text;
  // The language is part of the stream line, never a tag line.
  for (const auto& line : lines) EXPECT_EQ(line.find("language"), std::string::npos) << line;

  TFileStreamInfo info;
  ASSERT_TRUE(decoder_.GetFileStreamInfo(info));
  EXPECT_EQ(info.Title, "Clip");
  EXPECT_EQ(info.Year, 2024);
  EXPECT_GT(info.Duration, 900000);
  EXPECT_LT(info.Duration, 1200000);
}

TEST_F(Decoder, ChaptersWithTheirTags) {
  const std::string path = Path("chapters.txt");
  {
    std::ofstream out(path);
    out << ";FFMETADATA1\ntitle=Book\n"
           "[CHAPTER]\nTIMEBASE=1/1000\nSTART=0\nEND=1500\ntitle=Intro\n"
           "[CHAPTER]\nTIMEBASE=1/1000\nSTART=1500\nEND=61250\ntitle=Main\n";
  }
  ASSERT_TRUE(decoder_.LoadFile(path, "ffmetadata")) << decoder_.LastErrorText;
  const auto lines = Lines(decoder_.FileInfoText());
  const std::vector<std::string> expected = {
      "Chapter #0: start 0.000000, end 1.500000",
      "  Metadata:",
      "    title           : Intro",
      "Chapter #1: start 1.500000, end 61.250000",
      "  Metadata:",
      "    title           : Main",
  };
  const auto first = std::find(lines.begin(), lines.end(), expected[0]);
  ASSERT_NE(first, lines.end()) << decoder_.FileInfoText();
  ASSERT_GE(static_cast<std::size_t>(lines.end() - first), expected.size());
  EXPECT_EQ(std::vector<std::string>(first, first + static_cast<std::ptrdiff_t>(expected.size())), expected);
}

TEST_F(Decoder, ProgramsListTheirStreams) {
  MediaSpec ts;
  ts.Format = "mpegts";
  ts.HasVideo = true;
  ts.Audio.Codec = "mp2";
  ts.Seconds = 0.5;
  std::string error;
  const std::string path = Path("programs.ts");
  ASSERT_TRUE(testing::WriteMediaFile(path, ts, error)) << error;
  ASSERT_TRUE(decoder_.LoadFile(path)) << decoder_.LastErrorText;
  EXPECT_EQ(decoder_.ProgramCount, 1);
  const std::string text = decoder_.FileInfoText();
  const auto lines = Lines(text);
  const auto program = std::find(lines.begin(), lines.end(), "Program 1 ");
  ASSERT_NE(program, lines.end()) << text;
  EXPECT_EQ(*(program + 1), "  Metadata:");
  EXPECT_EQ(*(program + 2), "    service_name    : Service01") << text;
  // Transport streams show stream ids; every stream appears once, inside its program.
  int streamLines = 0;
  for (auto line = program; line != lines.end(); ++line) {
    if (line->rfind("  Stream #", 0) == 0) {
      ++streamLines;
      EXPECT_NE(line->find("[0x1"), std::string::npos) << *line;
    }
  }
  EXPECT_EQ(streamLines, 2) << text;
  EXPECT_EQ(std::find(lines.begin(), lines.end(), "No Program"), lines.end()) << text;
}

TEST_F(Decoder, TagsOfAnMp3) {
  ASSERT_TRUE(decoder_.LoadFile(Mp3())) << decoder_.LastErrorText;
  TFileStreamInfo info;
  ASSERT_TRUE(decoder_.GetFileStreamInfo(info));
  EXPECT_EQ(info.Title, "Tone");
  EXPECT_EQ(info.Album, "Tests");
  EXPECT_EQ(info.Track, 7);
  EXPECT_EQ(info.Genre, "Test");
  EXPECT_EQ(info.Copyright, "none");
  EXPECT_EQ(info.Year, 0);  // no such tag
  // The container's rate is estimated from size and duration, tags included.
  EXPECT_GT(info.BitRate, 128000);
  EXPECT_LT(info.BitRate, 140000);
  TAudioStreamInfo audio;
  ASSERT_TRUE(decoder_.GetAudioStreamInfo(0, audio));
  EXPECT_EQ(audio.CodecName, "mp3");
  EXPECT_EQ(audio.SampleRate, 44100);
  EXPECT_EQ(audio.BitRate, 128000);
  const std::string text = decoder_.FileInfoText();
  EXPECT_TRUE(HasLine(text, "Format Name: mp3")) << text;
  EXPECT_TRUE(HasLine(text, "  album           : Tests")) << text;
}

// This library generation's demuxers name the year "date" and the author "artist"; the old names
// still win when a file carries both.
TEST_F(Decoder, YearAndAuthorFallBackToDateAndArtist) {
  struct Case {
    std::string Name;
    std::map<std::string, std::string> Tags;
    int Year;
    std::string Author;
  };
  const Case cases[] = {
      {"new-names", {{"date", "2019"}, {"artist", "Someone"}}, 2019, "Someone"},
      {"full-date", {{"date", "2021-06-30T10:00:00Z"}}, 2021, ""},
      {"both-names", {{"year", "2024"}, {"date", "1999"}, {"author", "Old"}, {"artist", "New"}}, 2024, "Old"},
      {"not-a-date", {{"date", "summer"}}, 0, ""},
      {"long-number", {{"date", "20210630"}}, 0, ""},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.Name);
    MediaSpec spec;
    spec.Format = "matroska";
    spec.Seconds = 0.2;
    spec.FileTags = c.Tags;
    std::string error;
    const std::string path = Path("tags-" + c.Name + ".mka");
    ASSERT_TRUE(testing::WriteMediaFile(path, spec, error)) << error;
    ASSERT_TRUE(decoder_.LoadFile(path)) << decoder_.LastErrorText;
    TFileStreamInfo info;
    ASSERT_TRUE(decoder_.GetFileStreamInfo(info));
    EXPECT_EQ(info.Year, c.Year);
    EXPECT_EQ(info.Author, c.Author);
  }
  // An MP3's ID3 frames come back under the new names too.
  MediaSpec mp3;
  mp3.Format = "mp3";
  mp3.Audio.Codec = "libmp3lame";
  mp3.Seconds = 0.2;
  mp3.FileTags = {{"date", "2003"}, {"artist", "Band"}};
  std::string error;
  ASSERT_TRUE(testing::WriteMediaFile(Path("tags.mp3"), mp3, error)) << error;
  ASSERT_TRUE(decoder_.LoadFile(Path("tags.mp3"))) << decoder_.LastErrorText;
  TFileStreamInfo info;
  ASSERT_TRUE(decoder_.GetFileStreamInfo(info));
  EXPECT_EQ(info.Year, 2003);
  EXPECT_EQ(info.Author, "Band");
}

TEST_F(Decoder, AThrowingEventHandlerFailsTheLoadLikeAnyOtherFailure) {
  struct Case {
    std::string Name;
    std::function<void()> Throw;
    std::string Error;
  };
  const Case cases[] = {
      {"std", [] { throw std::runtime_error("handler broke"); }, Wav() + ": OnBeforeFindStreamInfo failed: handler broke"},
      {"other", [] { throw 42; }, Wav() + ": OnBeforeFindStreamInfo failed: unknown exception"},
  };
  for (bool mainThread : {true, false}) {
    for (const auto& c : cases) {
      SCOPED_TRACE(c.Name + (mainThread ? " through the main thread" : " called directly"));
      LogCapture log;
      decoder_.TriggerEventInMainThread = mainThread;
      decoder_.OnBeforeFindStreamInfo = [&](TCustomDecoder*, AVFormatContext*) { c.Throw(); };
      bool loaded = true;
      EXPECT_NO_THROW(loaded = decoder_.LoadFile(Wav()));
      EXPECT_FALSE(loaded);
      EXPECT_EQ(decoder_.LastErrorText, c.Error);
      EXPECT_EQ(log.Count(c.Error), 1);
      EXPECT_EQ(decoder_.StreamCount, -1);
      EXPECT_EQ(decoder_.FileInfoText(), "");
    }
  }
  decoder_.OnBeforeFindStreamInfo = nullptr;
  EXPECT_TRUE(decoder_.LoadFile(Wav())) << decoder_.LastErrorText;
}

TEST_F(Decoder, StreamGettersNameWhatIsWrong) {
  struct Case {
    std::string File;
    bool Audio;
    int Index;
    std::string Error;
  };
  const Case cases[] = {
      {Silent(), true, -1, "no audio stream."},
      {Wav(), false, -1, "no video stream."},
      {Wav(), true, 1, "stream index #1 is invalid."},
      {Wav(), false, 5, "stream index #5 is invalid."},
      {Wav(), true, -2, "stream index #-2 is invalid."},
      {Clip(), true, 0, "stream #0 is not audio stream."},
      {Clip(), false, 1, "stream #1 is not video stream."},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.Error);
    ASSERT_TRUE(decoder_.LoadFile(c.File)) << decoder_.LastErrorText;
    bool result = true;
    if (c.Audio) {
      TAudioStreamInfo info;
      result = decoder_.GetAudioStreamInfo(c.Index, info);
      EXPECT_EQ(info.SampleRate, -1);
    } else {
      TVideoStreamInfo info;
      result = decoder_.GetVideoStreamInfo(c.Index, info);
      EXPECT_EQ(info.Width, -1);
    }
    EXPECT_FALSE(result);
    EXPECT_EQ(decoder_.LastErrorText, c.Error);
    // A getter's failure leaves the file open.
    EXPECT_GT(decoder_.StreamCount, 0);
  }
}

TEST_F(Decoder, FilesThatCannotBeReadGiveTheirTexts) {
  const std::string empty = Path("empty.mp3");
  WriteBytes(empty, {});
  std::vector<std::uint8_t> noise(8192);
  std::mt19937 generator(12345);
  for (auto& byte : noise) byte = static_cast<std::uint8_t>(generator());
  const std::string random = Path("random.bin");
  WriteBytes(random, noise);
  const std::string missing = Path("missing.wav");

  struct Case {
    std::string File;
    std::string Format;
    std::string Error;
  };
  const Case cases[] = {
      // The mp3 probe takes an empty file for a stream it cannot seek in, as ffprobe reports too.
      {empty, "", empty + ": Invalid argument"},
      {random, "", random + ": " + ErrorText(AVERROR_INVALIDDATA)},
      {missing, "", missing + ": No such file or directory"},
      {Wav(), "no_such_format", "Unknown input format: no_such_format"},
      {random, "mp3", random + ": Invalid argument"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.File + " " + c.Format);
    ASSERT_TRUE(decoder_.LoadFile(Wav()));
    EXPECT_FALSE(decoder_.LoadFile(c.File, c.Format));
    EXPECT_EQ(decoder_.LastErrorText, c.Error);
    EXPECT_EQ(decoder_.StreamCount, -1);
    EXPECT_EQ(decoder_.FileSize, -1);
    EXPECT_EQ(decoder_.FileInfoText(), "");
  }
}

TEST_F(Decoder, AProbeThatFindsNoStreamsFailsTheLoad) {
  // Forced as a transport stream, an MP3 opens (the demuxer reads no header) but the probe finds
  // no packets to learn codec parameters from.
  ASSERT_TRUE(decoder_.LoadFile(Wav()));
  EXPECT_FALSE(decoder_.LoadFile(Mp3(), "mpegts"));
  EXPECT_EQ(decoder_.LastErrorText, Mp3() + ": could not find codec parameters");
  EXPECT_EQ(decoder_.StreamCount, -1);
  EXPECT_EQ(decoder_.ForcedFormat, "");
  ASSERT_TRUE(decoder_.LoadFile(Mp3(), "mp3"));
  EXPECT_EQ(decoder_.ForcedFormat, "mp3");
}

TEST_F(Decoder, TheInterruptCallbackEnforcesTheReadTimeout) {
  struct Case {
    int TimeoutMs;
    int Expected;
    int TimeoutLines;
  };
  // The callback is asked once the open has run for at least 5 ms. The time-out is in force only
  // for that question, so the open and the probe themselves are never cut short on a slow machine.
  const Case cases[] = {{1, 1, 1}, {0, 0, 0}, {60000, 0, 0}};
  for (const auto& c : cases) {
    SCOPED_TRACE(c.TimeoutMs);
    LogCapture log;
    int answer = -1;
    decoder_.ReadTimeout = 0;
    decoder_.OnBeforeFindStreamInfo = [&](TCustomDecoder*, AVFormatContext* context) {
      std::this_thread::sleep_for(std::chrono::milliseconds(5));
      decoder_.ReadTimeout = c.TimeoutMs;
      answer = context->interrupt_callback.callback(context->interrupt_callback.opaque);
      decoder_.ReadTimeout = 0;
    };
    ASSERT_TRUE(decoder_.LoadFile(Wav())) << decoder_.LastErrorText;
    EXPECT_EQ(answer, c.Expected);
    EXPECT_EQ(log.Count("connecting/reading timeout"), c.TimeoutLines);
  }
}

TEST_F(Decoder, TruncatedFilesNeverCrash) {
  for (const std::string& source : {Wav(), Mp3(), Clip(), Silent()}) {
    const auto bytes = ReadBytes(source);
    for (std::size_t keep : {std::size_t{1}, std::size_t{12}, std::size_t{64}, std::size_t{300}, bytes.size() / 2}) {
      SCOPED_TRACE(source + " cut at " + std::to_string(keep));
      const std::string cut = Path("cut.bin");
      WriteBytes(cut, std::vector<std::uint8_t>(bytes.begin(), bytes.begin() + static_cast<std::ptrdiff_t>(keep)));
      if (decoder_.LoadFile(cut)) {
        EXPECT_EQ(decoder_.FileSize, static_cast<std::int64_t>(keep));
        EXPECT_FALSE(decoder_.FileInfoText().empty());
        TFileStreamInfo info;
        EXPECT_TRUE(decoder_.GetFileStreamInfo(info));
      } else {
        const bool described = decoder_.LastErrorText.rfind(cut + ": ", 0) == 0;
        EXPECT_TRUE(described) << decoder_.LastErrorText;
      }
    }
  }
}

TEST_F(Decoder, UnknownOptionsAreReportedOnceAndIgnored) {
  LogCapture log;
  decoder_.SetOption("no_such_option", "1");
  decoder_.SetOption("probesize", "5000000");
  ASSERT_TRUE(decoder_.LoadFile(Wav())) << decoder_.LastErrorText;
  EXPECT_EQ(log.Count("Option no_such_option not found, ignored."), 1);
  EXPECT_EQ(log.Count("Option probesize not found, ignored."), 0);
  // The options were used up by that call.
  ASSERT_TRUE(decoder_.LoadFile(Wav()));
  EXPECT_EQ(log.Count("Option no_such_option not found, ignored."), 1);
}

TEST_F(Decoder, ScalingFlagsReachThePictureConverter) {
  decoder_.SetOption("sws_flags", "bilinear");
  ASSERT_TRUE(decoder_.LoadFile(Wav())) << decoder_.LastErrorText;
  EXPECT_EQ(decoder_.Converter().SwsFlags, SWS_BILINEAR);
}

TEST_F(Decoder, TheEventSeesTheOpenContextBeforeProbing) {
  int calls = 0;
  decoder_.OnBeforeFindStreamInfo = [&](TCustomDecoder* sender, AVFormatContext* context) {
    ++calls;
    EXPECT_EQ(sender, &decoder_);
    ASSERT_NE(context, nullptr);
    EXPECT_STREQ(context->iformat->name, "wav");
  };
  ASSERT_TRUE(decoder_.LoadFile(Wav()));
  EXPECT_EQ(calls, 1);
}

TEST_F(Decoder, AnAttachedContextIsDescribedAndLeftOpen) {
  AVFormatContext* context = nullptr;
  ASSERT_EQ(lib::avformat_open_input(&context, Clip().c_str(), nullptr, nullptr), 0);
  ASSERT_GE(lib::avformat_find_stream_info(context, nullptr), 0);
  decoder_.AttachContext(context);
  EXPECT_EQ(decoder_.StreamCount, 2);
  EXPECT_EQ(decoder_.FileSize, SizeOf(Clip()));
  EXPECT_TRUE(HasLine(decoder_.FileInfoText(), "File Name: " + Clip()));
  decoder_.CloseFile();
  EXPECT_EQ(decoder_.StreamCount, -1);
  // Still ours to use and to close; the sanitizer reports it if the component freed it.
  EXPECT_EQ(context->nb_streams, 2u);
  lib::avformat_close_input(&context);
}

}  // namespace
}  // namespace lumivor
