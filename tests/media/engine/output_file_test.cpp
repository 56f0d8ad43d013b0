#include <gtest/gtest.h>

#include <unistd.h>

#include <cerrno>
#include <fstream>
#include <string>
#include <vector>

#include "media/engine/error_text.h"
#include "output_setup_fixture.h"

namespace lumivor {
namespace {

using testing_engine::MadeUpStream;
using testing_engine::OutputSetup;

constexpr MadeUpStream Video(int width, int height, int disposition = 0) {
  return {AVMEDIA_TYPE_VIDEO, width, height, 0, disposition};
}
constexpr MadeUpStream Audio(int channels) { return {AVMEDIA_TYPE_AUDIO, 0, 0, channels, 0}; }
constexpr MadeUpStream Subtitle() { return {AVMEDIA_TYPE_SUBTITLE, 0, 0, 0, 0}; }
constexpr MadeUpStream Data() { return {AVMEDIA_TYPE_DATA, 0, 0, 0, 0}; }
constexpr int kCover = AV_DISPOSITION_ATTACHED_PIC;

class OutputFiles : public OutputSetup {};

TEST_F(OutputFiles, AutomaticSelectionTakesTheLargestPictureTheMostChannelsAndTheFirstSubtitle) {
  struct Case {
    const char* Name;
    std::vector<std::vector<MadeUpStream>> Inputs;
    const char* File;
    std::vector<int> Sources;  // of the output's streams, in order (indexes into InputStreams)
  };
  const Case cases[] = {
      {"larger picture of a later input", {{Video(640, 480)}, {Video(1280, 720)}}, "a.mkv", {1}},
      {"equal sizes keep the first", {{Video(640, 480)}, {Video(640, 480)}}, "a.mkv", {0}},
      // mp3 keeps video only as a cover picture.
      {"cover-only muxer takes the cover", {{Video(1920, 1080), Video(500, 500, kCover)}}, "a.mp3", {1}},
      {"cover-only muxer ignores plain video", {{Video(1920, 1080)}}, "a.mp3", {}},
      {"a cover counts as area 1 elsewhere", {{Video(500, 500, kCover), Video(1920, 1080)}}, "a.mkv", {1}},
      {"a lone cover is still taken", {{Video(500, 500, kCover)}}, "a.mkv", {0}},
      {"muxer without video codec", {{Video(640, 480), Audio(2)}}, "a.wav", {1}},
      {"unknown size and no channels", {{Video(0, 0), Audio(0)}}, "a.mkv", {}},
      {"most channels win", {{Audio(2), Audio(6)}}, "a.mkv", {1}},
      {"equal channels keep the first", {{Audio(2)}, {Audio(2)}}, "a.mkv", {0}},
      {"video, audio, first subtitle; data never", {{Data(), Subtitle(), Audio(1), Subtitle(), Video(320, 240)}},
       "a.mkv", {4, 2, 1}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.Name);
    NextEngine();
    for (const auto& input : c.Inputs) {
      if (input.size() == 1) AddMadeUpInput({input[0]});
      if (input.size() == 2) AddMadeUpInput({input[0], input[1]});
      if (input.size() == 5) AddMadeUpInput({input[0], input[1], input[2], input[3], input[4]});
    }
    ASSERT_EQ(OpenOutput("", c.File), 0) << Engine->LastErrMsg;
    EXPECT_EQ(SourcesOf(0), c.Sources);
    ASSERT_EQ(Engine->OutputFileCount(), 1);
    EXPECT_EQ(Engine->OutputFiles[0]->FirstStreamIndex, 0);
    // A chosen stream is read from then on; the others stay discarded.
    for (int i = 0; i < Engine->InputStreamCount(); ++i) {
      const bool used = std::find(c.Sources.begin(), c.Sources.end(), i) != c.Sources.end();
      EXPECT_EQ(Engine->InputStreams[static_cast<std::size_t>(i)]->Discard, used ? 0 : 1) << "input stream " << i;
    }
  }
}

TEST_F(OutputFiles, MapsChooseStreamsInTheirOrderAndSkipDisabledTypes) {
  struct Case {
    const char* Options;
    std::vector<int> Sources;
  };
  const Case cases[] = {
      {"-map 0:1 -map 0:0", {1, 0}},
      {"-map 0 -vn", {1, 2}},
      {"-map 0:2 -map 0:0 -an", {0}},
      {"-map 0 -map -0:1", {0, 2}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.Options);
    NextEngine();
    AddMadeUpInput({Video(320, 240), Audio(2), Audio(1)});
    ASSERT_EQ(OpenOutput(c.Options, "maps.mkv"), 0) << Engine->LastErrMsg;
    EXPECT_EQ(SourcesOf(0), c.Sources);
  }
}

TEST_F(OutputFiles, MappedStreamSynchronisesWithTheStreamItsMapNames) {
  AddMadeUpInput({Video(320, 240), Audio(2)});
  ASSERT_EQ(OpenOutput("-map 0:1,0:0 -map 0:0", "sync.mkv"), 0) << Engine->LastErrMsg;
  ASSERT_EQ(Engine->OutputStreamCount(), 2);
  EXPECT_EQ(Engine->OutputStreams[0]->SourceIndex, 1);
  EXPECT_EQ(Engine->OutputStreams[0]->SyncInput, Engine->InputStreams[0].get());
  EXPECT_EQ(Engine->OutputStreams[1]->SyncInput, Engine->InputStreams[0].get());
}

TEST_F(OutputFiles, MapOfAnUnknownLabelFailsAndLeavesNothing) {
  AddMadeUpInput({Video(320, 240)});
  EXPECT_EQ(OpenOutput("-map 0:0 -map [nowhere]", "label.mkv"), -1);
  EXPECT_EQ(Engine->LastErrMsg,
            "Output with label \"nowhere\" does not exist in any defined filter graph, or was already used elsewhere.");
  EXPECT_EQ(Engine->OutputFileCount(), 0);
  EXPECT_EQ(Engine->OutputStreamCount(), 0);
  EXPECT_FALSE(FileExists("label.mkv"));
}

TEST_F(OutputFiles, StopTimeBecomesARecordingTimeUnlessTimeIsGivenOrItIsBeforeTheStart) {
  struct Case {
    const char* Options;
    std::int64_t RecordingTime;
    const char* Warning;  // "" for none
  };
  const Case cases[] = {
      {"-t 3 -to 5", 3000000, "-t and -to cannot be used together; using -t."},
      {"-ss 8 -to 5", kNoLimit, "-to value smaller than -ss; ignoring -to."},
      {"-ss 2 -to 5", 3000000, ""},
      {"-to 4", 4000000, ""},
      {"", kNoLimit, ""},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.Options);
    NextEngine();
    AddMadeUpInput({Audio(2)});
    ASSERT_EQ(OpenOutput(c.Options, "times.wav"), 0) << Engine->LastErrMsg;
    const TOutputFile& of = *Engine->OutputFiles[0];
    EXPECT_EQ(of.RecordingTime, c.RecordingTime);
    EXPECT_EQ(of.Context->duration, c.RecordingTime == kNoLimit ? 0 : c.RecordingTime);
    EXPECT_EQ(Engine->TotalDuration, c.RecordingTime == kNoLimit ? -1 : c.RecordingTime);
    if (*c.Warning != '\0') {
      EXPECT_TRUE(Logged(llWarning, c.Warning));
    }
    EXPECT_FALSE(Logged(llWarning, "-t and -to") && *c.Warning == '\0');
  }
}

TEST_F(OutputFiles, MetadataOptionsSetAndRemoveKeysWhereTheSpecifierSays) {
  AddMadeUpInput({Video(320, 240), Audio(2)});
  AVFormatContext* ic = Engine->InputFiles[0]->Context.get();
  lib::av_dict_set(&ic->metadata, "title", "Source", 0);
  lib::av_dict_set(&ic->metadata, "comment", "from the camera", 0);
  lib::av_dict_set(&ic->metadata, "creation_time", "2020-01-01", 0);
  lib::av_dict_set(&ic->streams[1]->metadata, "handler_name", "Sound", 0);

  ASSERT_EQ(OpenOutput("-metadata title=Holiday -metadata:s:a:0 language=eng -metadata comment=", "meta.mkv"), 0)
      << Engine->LastErrMsg;
  AVFormatContext* oc = Engine->OutputFiles[0]->Context.get();
  auto value = [](AVDictionary* d, const char* key) -> std::string {
    const AVDictionaryEntry* e = lib::av_dict_get(d, key, nullptr, AV_DICT_MATCH_CASE);
    return e != nullptr ? e->value : "(none)";
  };
  EXPECT_EQ(value(oc->metadata, "title"), "Holiday");
  EXPECT_EQ(value(oc->metadata, "comment"), "(none)");
  // Copied from input 0, except the creation time.
  EXPECT_EQ(value(oc->metadata, "creation_time"), "(none)");
  ASSERT_EQ(oc->nb_streams, 2u);
  EXPECT_EQ(value(oc->streams[0]->metadata, "language"), "(none)");
  EXPECT_EQ(value(oc->streams[1]->metadata, "language"), "eng");
  EXPECT_EQ(value(oc->streams[1]->metadata, "handler_name"), "Sound");
}

TEST_F(OutputFiles, MetadataMapsCopyFromTheNamedPlaceOrSwitchTheAutomaticCopyOff) {
  struct Case {
    const char* Options;
    const char* GlobalTitle;  // of the output afterwards
    const char* AudioTitle;   // of its audio stream
  };
  const Case cases[] = {
      {"", "Global", "Track"},
      // Each map switches the automatic copy off for the kinds it names on either side.
      {"-map_metadata -1", "(none)", "(none)"},
      {"-map_metadata:s:a 0:g", "(none)", "Global"},
      {"-map_metadata:s:v 0:s:a", "Global", "(none)"},
      {"-map_metadata 0:s:a", "Track", "(none)"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.Options);
    NextEngine();
    AddMadeUpInput({Video(320, 240), Audio(2)});
    AVFormatContext* ic = Engine->InputFiles[0]->Context.get();
    lib::av_dict_set(&ic->metadata, "title", "Global", 0);
    lib::av_dict_set(&ic->streams[1]->metadata, "title", "Track", 0);
    ASSERT_EQ(OpenOutput(c.Options, "map_meta.mkv"), 0) << Engine->LastErrMsg;
    AVFormatContext* oc = Engine->OutputFiles[0]->Context.get();
    const AVDictionaryEntry* global = lib::av_dict_get(oc->metadata, "title", nullptr, 0);
    const AVDictionaryEntry* audio = lib::av_dict_get(oc->streams[1]->metadata, "title", nullptr, 0);
    EXPECT_STREQ(global != nullptr ? global->value : "(none)", c.GlobalTitle);
    EXPECT_STREQ(audio != nullptr ? audio->value : "(none)", c.AudioTitle);
  }
}

TEST_F(OutputFiles, MetadataErrorsNameTheWrongPart) {
  struct Case {
    const char* Options;
    const char* Error;
  };
  const Case cases[] = {
      {"-metadata title", "No \"=\" character in metadata string title."},
      {"-metadata:c:3 title=x", "Invalid chapter index 3 in metadata specifier."},
      {"-metadata:sx title=x", "Invalid metadata specifier x."},
      {"-metadata:q title=x", "Invalid metadata type q."},
      {"-map_metadata 5", "Invalid input file index 5 while processing metadata maps"},
      {"-map_metadata 0:c:2", "Invalid chapter index 2 while processing metadata maps."},
      {"-map_metadata 0:s:s", "Stream specifier s does not match  any streams."},
      {"-map_chapters 3", "Invalid input file index 3 in chapter mapping."},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.Options);
    NextEngine();
    AddMadeUpInput({Audio(2)});
    EXPECT_EQ(OpenOutput(c.Options, "bad_meta.mkv"), -1);
    EXPECT_EQ(Engine->LastErrMsg, c.Error);
    // The byte stream was open already: the empty file goes with the output.
    EXPECT_FALSE(FileExists("bad_meta.mkv"));
    EXPECT_EQ(Engine->OutputFileCount(), 0);
    EXPECT_EQ(Engine->OutputStreamCount(), 0);
  }
}

TEST_F(OutputFiles, ChaptersAreShiftedByTheStartAndCutAtTheRecordingTime) {
  struct Case {
    const char* Options;
    std::vector<std::pair<std::int64_t, std::int64_t>> Chapters;  // start, end in milliseconds
  };
  const Case cases[] = {
      {"", {{0, 2000}, {2000, 4000}, {4000, 6000}}},
      {"-t 3", {{0, 2000}, {2000, 3000}}},
      {"-ss 2.5", {{0, 1500}, {1500, 3500}}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.Options);
    NextEngine();
    AddMadeUpInput({Audio(2)});
    AVFormatContext* ic = Engine->InputFiles[0]->Context.get();
    ic->chapters = static_cast<AVChapter**>(lib::av_calloc(3, sizeof(AVChapter*)));
    for (int i = 0; i < 3; ++i) {
      auto* chapter = static_cast<AVChapter*>(lib::av_mallocz(sizeof(AVChapter)));
      chapter->id = i;
      chapter->time_base = AVRational{1, 1000};
      chapter->start = i * 2000;
      chapter->end = (i + 1) * 2000;
      lib::av_dict_set(&chapter->metadata, "title", "Part", 0);
      ic->chapters[ic->nb_chapters++] = chapter;
    }
    ASSERT_EQ(OpenOutput(c.Options, "chapters.mkv"), 0) << Engine->LastErrMsg;
    AVFormatContext* oc = Engine->OutputFiles[0]->Context.get();
    ASSERT_EQ(oc->nb_chapters, c.Chapters.size());
    for (std::size_t i = 0; i < c.Chapters.size(); ++i) {
      EXPECT_EQ(oc->chapters[i]->start, c.Chapters[i].first) << i;
      EXPECT_EQ(oc->chapters[i]->end, c.Chapters[i].second) << i;
      EXPECT_NE(lib::av_dict_get(oc->chapters[i]->metadata, "title", nullptr, 0), nullptr);
    }
  }
}

// Of this library generation's muxers, the chunked WebM one still writes numbered files only.
TEST_F(OutputFiles, NumberedFileMuxerRefusesANameWithoutANumber) {
  AddMadeUpInput({Video(320, 240)});
  EXPECT_EQ(OpenOutput("-f webm_chunk", "chunk.webm"), -1);
  EXPECT_EQ(Engine->LastErrMsg, ErrorText(PathOf("chunk.webm"), AVERROR(EINVAL)));
  EXPECT_EQ(Engine->OutputFileCount(), 0);
  EXPECT_EQ(Engine->OutputStreamCount(), 0);
  EXPECT_EQ(OpenOutput("-f webm_chunk", "chunk%03d.webm"), 0) << Engine->LastErrMsg;
}

TEST_F(OutputFiles, AnOutputThatCannotBeOpenedNamesTheFile) {
  AddMadeUpInput({Audio(2)});
  EXPECT_EQ(OpenOutput("", "no-such-folder/out.wav"), -1);
  EXPECT_EQ(Engine->LastErrMsg, ErrorText(PathOf("no-such-folder/out.wav"), AVERROR(ENOENT)));
  EXPECT_EQ(Engine->OutputFileCount(), 0);
  EXPECT_EQ(Engine->OutputStreamCount(), 0);
}

TEST_F(OutputFiles, SuccessfulOutputHasItsFileRecordAndAnOpenByteStream) {
  AddMadeUpInput({Audio(2)});
  ASSERT_EQ(OpenOutput("-fs 1000 -shortest -ss 1 -muxpreload 0.5 -muxdelay 0.2", "ok.wav"), 0) << Engine->LastErrMsg;
  ASSERT_EQ(OpenOutput("", "second.wav"), 1) << Engine->LastErrMsg;
  const TOutputFile& of = *Engine->OutputFiles[0];
  EXPECT_EQ(of.LimitFileSize, 1000);
  EXPECT_EQ(of.Shortest, 1);
  EXPECT_EQ(of.StartTime, 1000000);
  EXPECT_NE(of.Context->pb, nullptr);
  EXPECT_EQ(of.Context->max_delay, 200000);
  const AVDictionaryEntry* preload = lib::av_dict_get(of.MuxerOptions.get(), "preload", nullptr, 0);
  ASSERT_NE(preload, nullptr);
  EXPECT_STREQ(preload->value, "500000");
  EXPECT_EQ(Engine->OutputFiles[1]->FirstStreamIndex, 1);
  EXPECT_EQ(Engine->OutputStreams[1]->FileIndex, 1);
  EXPECT_TRUE(FileExists("ok.wav"));
}

// Runs the test body in another working folder, so that a name without any "/" can be used.
class WorkingFolder {
 public:
  explicit WorkingFolder(const std::string& path) {
    char buffer[4096];
    saved_ = ::getcwd(buffer, sizeof buffer) != nullptr ? buffer : "";
    EXPECT_EQ(::chdir(path.c_str()), 0);
  }
  ~WorkingFolder() {
    if (!saved_.empty()) {
      EXPECT_EQ(::chdir(saved_.c_str()), 0);
    }
  }
  WorkingFolder(const WorkingFolder&) = delete;
  WorkingFolder& operator=(const WorkingFolder&) = delete;

 private:
  std::string saved_;
};

TEST_F(OutputFiles, AttachmentsCarryTheFileAndItsNameWithoutFolders) {
  struct Case {
    const char* Name;  // as given, relative to the working folder
    const char* Tag;
  };
  const Case cases[] = {
      {"fonts/a.ttf", "a.ttf"},
      // Folders written with "\\" (this file system takes the whole text as one name; a drive
      // letter would read as a protocol).
      {"fonts\\b.ttf", "b.ttf"},
      {"plain.ttf", "plain.ttf"},
  };
  const std::string folder = PathOf("");
  WorkingFolder cwd(folder);
  ASSERT_EQ(::mkdir("fonts", 0700), 0);
  for (const Case& c : cases) {
    SCOPED_TRACE(c.Name);
    NextEngine();
    AddMadeUpInput({Audio(2)});
    std::ofstream(c.Name, std::ios::binary) << "font bytes";
    ASSERT_EQ(OpenOutput(std::string("-attach ") + c.Name, "attach.mkv"), 0) << Engine->LastErrMsg;
    ASSERT_EQ(Engine->OutputStreamCount(), 2);
    const TOutputStream& ost = *Engine->OutputStreams[1];
    EXPECT_EQ(ost.AttachmentFileName, c.Name);
    EXPECT_EQ(ost.StreamCopy, 0);
    EXPECT_EQ(ost.Finished, 1);
    ASSERT_EQ(ost.Stream->codecpar->extradata_size, 10);
    EXPECT_EQ(std::string(reinterpret_cast<const char*>(ost.Stream->codecpar->extradata), 10), "font bytes");
    const AVDictionaryEntry* tag = lib::av_dict_get(ost.Stream->metadata, "filename", nullptr, 0);
    ASSERT_NE(tag, nullptr);
    EXPECT_STREQ(tag->value, c.Tag);
  }

  NextEngine();
  AddMadeUpInput({Audio(2)});
  std::ofstream("empty.ttf", std::ios::binary).flush();
  EXPECT_EQ(OpenOutput("-attach empty.ttf", "attach.mkv"), -1);
  EXPECT_EQ(Engine->LastErrMsg, "Could not get size of the attachment empty.ttf.");
  EXPECT_EQ(OpenOutput("-attach missing.ttf", "attach.mkv"), -1);
  EXPECT_EQ(Engine->LastErrMsg, "Could not open attachment file missing.ttf.");
}

TEST_F(OutputFiles, FlagsReachCopiedStreamsThatTheSpecifierMatches) {
  AddMadeUpInput({Video(320, 240), Audio(2)});
  ASSERT_EQ(OpenOutput("-c copy -flags:a +bitexact", "flags.mkv"), 0) << Engine->LastErrMsg;
  ASSERT_EQ(Engine->OutputStreamCount(), 2);
  EXPECT_EQ(Engine->OutputStreams[0]->EncoderContext->flags & AV_CODEC_FLAG_BITEXACT, 0);
  EXPECT_NE(Engine->OutputStreams[1]->EncoderContext->flags & AV_CODEC_FLAG_BITEXACT, 0);
}

TEST_F(OutputFiles, JoinIsRefusedForASecondOutput) {
  AddMadeUpInput({Audio(2)});
  AddMadeUpInput({Audio(2)});
  ASSERT_EQ(OpenOutput("", "first.wav"), 0) << Engine->LastErrMsg;
  EXPECT_EQ(OpenOutput("", "second.wav", true), -1);
  EXPECT_EQ(Engine->LastErrMsg, "Cannot join more than one output file.");
}

}  // namespace
}  // namespace lumivor

namespace lumivor {
namespace {

// A value given empty is a value: refused like any other that names nothing, never taken as
// "not given" with the default used in silence.
TEST_F(OutputFiles, ValuesGivenEmptyAreRefused) {
  struct Case {
    const char* Options;
    const char* Error;
  };
  const Case cases[] = {
      {"-c:v \"\"", "Unknown encoder \"\""},
      {"-pix_fmt \"\"", "Unknown pixel format requested: ."},
      {"-s \"\"", "Invalid frame size: ."},
      {"-r \"\"", "Invalid framerate value: "},
      {"-aspect \"\"", "Invalid aspect ratio: "},
      {"-bsf:v \"\"", "Unknown bitstream filter \"\""},
      {"-sample_fmt \"\"", "Invalid sample format \"\""},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.Options);
    NextEngine();
    AddMadeUpInput({Video(320, 240), Audio(2)});
    EXPECT_EQ(FatalText([&] { OpenOutput(c.Options, "empty.mkv"); }), c.Error);
    EXPECT_EQ(Engine->OutputStreamCount(), 0);
  }

  // An empty tag is the number 0, set like any other tag.
  NextEngine();
  AddMadeUpInput({Video(320, 240)});
  ASSERT_EQ(OpenOutput("-c:v mpeg4 -tag:v \"\"", "tag.avi"), 0) << Engine->LastErrMsg;
  EXPECT_EQ(Engine->OutputStreams[0]->Stream->codecpar->codec_tag, 0u);
  NextEngine();
  AddMadeUpInput({Video(320, 240)});
  ASSERT_EQ(OpenOutput("-c:v mpeg4 -tag:v XVID", "tag.avi"), 0) << Engine->LastErrMsg;
  EXPECT_EQ(Engine->OutputStreams[0]->Stream->codecpar->codec_tag, MKTAG('X', 'V', 'I', 'D'));
}

}  // namespace
}  // namespace lumivor
