#include <gtest/gtest.h>

#include <cerrno>
#include <cstdio>
#include <ctime>
#include <filesystem>
#include <fstream>
#include <functional>
#include <set>
#include <sstream>
#include <string>
#include <vector>

#include "ffmpeg_opt_test_engine.h"
#include "support/scratch_folder.h"
#include "media/engine/error_text.h"
#include "media/engine/media_helpers.h"

namespace lumivor {
namespace {

using testing_engine::AddMadeUpInput;
using testing_engine::EngineTest;
using testing_engine::LogLine;
using testing_engine::TestEngine;

constexpr int kRaises = 1;  // the case leaves through FFmpegException
constexpr int kEinval = -22;

// ------------------------------------------------------------------ helpers for the checks

template <typename Member>
std::string Describe(const SpecifierList& list, Member member) {
  std::string text;
  for (const TSpecifierOpt& element : list) {
    if (!text.empty()) text += " ";
    std::ostringstream value;
    value << element.Value.*member;
    text += element.Specifier + "=" + value.str();
  }
  return text;
}
std::string Strs(const SpecifierList& list) { return Describe(list, &SpecifierValue::Str); }
std::string Ints(const SpecifierList& list) { return Describe(list, &SpecifierValue::Int); }
std::string Int64s(const SpecifierList& list) { return Describe(list, &SpecifierValue::Int64); }
std::string Doubles(const SpecifierList& list) { return Describe(list, &SpecifierValue::Double); }

std::string Maps(const TOptionsContext& o) {
  std::string text;
  for (const TStreamMap& map : o.StreamMaps) {
    if (!text.empty()) text += " ";
    if (!map.LinkLabel.empty()) {
      text += "[" + map.LinkLabel + "]";
      continue;
    }
    text += std::to_string(map.FileIndex) + ":" + std::to_string(map.StreamIndex) + ">" +
            std::to_string(map.SyncFileIndex) + ":" + std::to_string(map.SyncStreamIndex) + (map.Disabled ? "-" : "");
  }
  return text;
}

std::string ChannelMaps(const TOptionsContext& o) {
  std::string text;
  for (const TAudioChannelMap& map : o.AudioChannelMaps) {
    if (!text.empty()) text += " ";
    text += std::to_string(map.FileIndex) + "." + std::to_string(map.StreamIndex) + "." +
            std::to_string(map.ChannelIndex) + ":" + std::to_string(map.OutputFileIndex) + "." +
            std::to_string(map.OutputStreamIndex);
  }
  return text;
}

std::string Dict(const AVDictionary* dictionary, const char* key) {
  const AVDictionaryEntry* entry = lib::av_dict_get(dictionary, key, nullptr, 0);
  return entry != nullptr ? entry->value : "<absent>";
}

// LastErrMsg after a handler failed in strict mode: the handler's text, the parser's line and
// the code's text.
std::string HandlerFailure(const std::string& handlerText, const char* argument, const char* key, int code) {
  std::string text = handlerText.empty() ? "" : handlerText + "\r\n";
  text += "Failed to set value \"" + std::string(argument) + "\" for option \"" + key + "\"";
  return text + "\r\n" + ErrorText(code);
}

// The files the option texts name live in one scratch folder for the whole run: the cases are built
// before any test runs and outlive every fixture.
std::string TempPath(const char* name) {
  static const lumivor::testing::ScratchFolder folder;
  return folder / name;
}

struct Probe {
  TestEngine& E;
  TOptionsContext& O;
  const std::vector<LogLine>& Lines;

  bool Logged(TLogLevel level, const std::string& text) const {
    for (const LogLine& line : Lines) {
      if (line.Level == level && line.Text == text) return true;
    }
    return false;
  }
  const AVDictionary* Codec() const { return E.Options.FileGroup.CodecOptions.get(); }
};

struct Case {
  std::string Text;
  int Result;              // of ParseFileOptions, or kRaises
  std::string LastErrMsg;  // expected exactly when the case fails or raises
  std::function<void(const Probe&)> Check;
};

// The creation time text a "timestamp" gives for a moment in UTC.
std::string CreationTime(std::time_t utc) {
  const std::time_t local = utc - static_cast<std::time_t>(TimeZoneBaseBias()) * 60;
  std::tm parts{};
  gmtime_r(&local, &parts);
  char text[32];
  std::strftime(text, sizeof text, "%Y-%m-%d %H:%M:%S", &parts);
  return "creation_time=" + std::string(text) + " " + TimeZoneText();
}

// Every option text the table is tried with; each row of the option table appears in at least
// one of them (checked below).
std::vector<Case> OptionTextCases() {
  const std::string progressFile = TempPath("lumivor_option_table_progress.txt");
  const std::string presetFile = TempPath("lumivor_option_table.ffpreset");
  std::ofstream(presetFile) << "# a comment\ng=250\nvcodec=mpeg4\n";
  const std::string missingPreset = "/nonexistent/lumivor.ffpreset";
  const char* showOptions[] = {"L",        "h",    "?",         "help",    "-help",    "version",
                               "formats",  "codecs", "decoders", "encoders", "bsfs",   "protocols",
                               "filters",  "pix_fmts", "layouts", "sample_fmts"};
  std::vector<Case> cases;
  for (const char* name : showOptions) {
    const std::string key = name;
    cases.push_back({"-" + key, 0, "", [key](const Probe& p) {
                       EXPECT_TRUE(p.Logged(llWarning, "options \"" + key + "\" not supported, ignore"));
                       EXPECT_TRUE(p.O.CodecNames.empty() && p.E.Options.FileGroup.Entries.size() == 0);
                     }});
  }
  const std::vector<Case> rows = {
      // log level, allocation, cpu
      {"-loglevel debug", 0, "", [](const Probe&) { EXPECT_EQ(DefaultLogger().LogLevel(), llDebug); }},
      {"-v 16", 0, "", [](const Probe&) { EXPECT_EQ(DefaultLogger().LogLevel(), llError); }},
      {"-loglevel warn", kEinval, "", nullptr},
      {"-report", kEinval, HandlerFailure("options \"report\" not supported", "1", "report", kEinval), nullptr},
      {"-max_alloc 2147483647", 0, "", nullptr},
      {"-max_alloc 12x", kEinval, HandlerFailure("Invalid max_alloc \"12x\".", "12x", "max_alloc", kEinval),
       nullptr},
      {"-max_alloc -5", kEinval, HandlerFailure("Invalid max_alloc \"-5\".", "-5", "max_alloc", kEinval), nullptr},
      {"-cpuflags nonsense_flag", kEinval, "", nullptr},
      // files and codecs
      {"-f mp4", 0, "", [](const Probe& p) { EXPECT_EQ(p.O.Format, "mp4"); }},
      {"-y", 0, "", [](const Probe& p) { EXPECT_EQ(p.E.FileOverwrite, 1); }},
      {"-n", 0, "", [](const Probe& p) { EXPECT_EQ(p.E.NoFileOverwrite, 1); }},
      {"-c:v copy -c:a aac -c copy", 0, "",
       [](const Probe& p) { EXPECT_EQ(Strs(p.O.CodecNames), "v=copy a=aac =copy"); }},
      {"-codec:a:1 mp3", 0, "", [](const Probe& p) { EXPECT_EQ(Strs(p.O.CodecNames), "a:1=mp3"); }},
      {"-pre", kEinval, HandlerFailure("options \"pre\" not supported", "1", "pre", kEinval), nullptr},
      // maps: input 0 holds video, stereo audio, stereo audio; input 1 mono audio
      {"-map 0:v -map 0:a", 0, "", [](const Probe& p) { EXPECT_EQ(Maps(p.O), "0:0>0:0 0:1>0:1 0:2>0:2"); }},
      {"-map 0:v -map 0:a -map -0:a:1", 0, "",
       [](const Probe& p) { EXPECT_EQ(Maps(p.O), "0:0>0:0 0:1>0:1 0:2>0:2-"); }},
      {"-map 1 -map 0x1:0", 0, "", [](const Probe& p) { EXPECT_EQ(Maps(p.O), "1:0>1:0 1:0>1:0"); }},
      {"-map 0:a,1:a", 0, "", [](const Probe& p) { EXPECT_EQ(Maps(p.O), "0:1>1:0 0:2>1:0"); }},
      {"-map [out] -map -0:v", 0, "", [](const Probe& p) { EXPECT_EQ(Maps(p.O), "[out]"); }},
      {"-map -0:a", kRaises, "Stream map \"-0:a\" matches no streams.", nullptr},
      {"-map 0:s", kRaises, "Stream map \"0:s\" matches no streams.", nullptr},
      {"-map 2", kRaises, "Invalid input file index: 2.", nullptr},
      {"-map -1:0", kRaises, "Stream map \"-1:0\" matches no streams.", nullptr},
      {"-map -5:0", kRaises, "Invalid input file index: 5.", nullptr},
      {"-map 0:v,2", kRaises, "Invalid sync file index: 2.", nullptr},
      {"-map 0:v,1:v", kRaises, "Sync stream specification in map 0:v,1:v does not match any streams.", nullptr},
      {"-map []", kRaises, "Invalid output link label: [].", nullptr},
      {"-map_channel -1 -map_channel -1:0.1", 0, "",
       [](const Probe& p) { EXPECT_EQ(ChannelMaps(p.O), "-1.-1.-1:-1.-1 -1.-1.-1:0.1"); }},
      {"-map_channel 0.1.1 -map_channel 0.2.0:0.2", 0, "",
       [](const Probe& p) { EXPECT_EQ(ChannelMaps(p.O), "0.1.1:-1.-1 0.2.0:0.2"); }},
      {"-map_channel 0.1.5", kRaises, "mapchan: invalid audio channel #0.1.5", nullptr},
      {"-map_channel 0.1.-1", kRaises, "mapchan: invalid audio channel #0.1.-1", nullptr},
      {"-map_channel 0.0.0", kRaises, "mapchan: stream #0.0 is not an audio stream.", nullptr},
      {"-map_channel 0.7.0", kRaises, "mapchan: invalid input file stream index #0.7", nullptr},
      {"-map_channel 3.0.0", kRaises, "mapchan: invalid input file index: 3", nullptr},
      {"-map_channel 0.1", kRaises, "Syntax error, mapchan usage: [file.stream.channel|-1][:syncfile:syncstream]",
       nullptr},
      {"-map_metadata:s:0 0:g", 0, "", [](const Probe& p) { EXPECT_EQ(Strs(p.O.MetadataMap), "s:0=0:g"); }},
      {"-map_chapters 1", 0, "", [](const Probe& p) { EXPECT_EQ(p.O.ChaptersInputFile, 1); }},
      // times and sizes
      {"-t 1.5 -to 00:01:00", 0, "",
       [](const Probe& p) {
         EXPECT_EQ(p.O.RecordingTime, 1500000);
         EXPECT_EQ(p.O.StopTime, 60000000);
       }},
      {"-t_microsecond 42 -to_microsecond 43 -fs 1000", 0, "",
       [](const Probe& p) {
         EXPECT_EQ(p.O.RecordingTime, 42);
         EXPECT_EQ(p.O.StopTime, 43);
         EXPECT_EQ(p.O.LimitFileSize, 1000);
       }},
      {"-ss 2 -itsoffset 0.5", 0, "",
       [](const Probe& p) {
         EXPECT_EQ(p.O.StartTime, 2000000);
         EXPECT_EQ(p.O.InputTsOffset, 500000);
       }},
      {"-ss_microsecond 5 -itsoffset_microsecond -9", 0, "",
       [](const Probe& p) {
         EXPECT_EQ(p.O.StartTime, 5);
         EXPECT_EQ(p.O.InputTsOffset, -9);
       }},
      {"-itsscale:v 2.5", 0, "", [](const Probe& p) { EXPECT_EQ(Doubles(p.O.TsScale), "v=2.5"); }},
      {"-timestamp 2013-05-06T07:08:09Z", 0, "",
       [](const Probe& p) {
         EXPECT_EQ(Strs(p.O.Metadata), "=" + CreationTime(1367824089));
         EXPECT_TRUE(p.Logged(llWarning, "timestamp is deprecated, set the \"creation_time\" metadata tag instead."));
       }},
      {"-metadata title=x -metadata:s:a lang=en", 0, "",
       [](const Probe& p) { EXPECT_EQ(Strs(p.O.Metadata), "=title=x s:a=lang=en"); }},
      {"-dframes 5 -vframes 6 -aframes 7 -frames:s 8", 0, "",
       [](const Probe& p) { EXPECT_EQ(Int64s(p.O.MaxFrames), "d=5 v=6 a=7 s=8"); }},
      {"-benchmark", kEinval, HandlerFailure("options \"benchmark\" not supported", "1", "benchmark", kEinval),
       nullptr},
      {"-benchmark_all", kEinval, "", nullptr},
      {"-stdin", kEinval, "", nullptr},
      {"-timelimit", kEinval, "", nullptr},
      {"-progress " + progressFile, 0, "",
       [](const Probe& p) {
         EXPECT_TRUE(p.E.ProgressOutput);
         EXPECT_NE(p.E.WriteStartTime.load(), kNoLimit) << "stamped before opening";
       }},
      {"-progress /nonexistent/folder/progress.txt", -ENOENT,
       HandlerFailure("Failed to open progress URL \"/nonexistent/folder/progress.txt\": No such file or directory",
                      "/nonexistent/folder/progress.txt", "progress", -ENOENT),
       nullptr},
      {"-dump -hex -re", 0, "",
       [](const Probe& p) {
         EXPECT_EQ(p.E.DoPktDump, 1);
         EXPECT_EQ(p.E.DoHexDump, 1);
         EXPECT_EQ(p.O.RateEmu, 1);
       }},
      {"-target pal-bogus", kEinval, "",
       [](const Probe& p) { EXPECT_NE(p.E.LastErrMsg.find("Unknown target: bogus"), std::string::npos); }},
      // sync
      {"-vsync drop", 0, "", [](const Probe& p) { EXPECT_EQ(p.E.VideoSyncMethod, 255); }},
      {"-vsync CFR", 0, "", [](const Probe& p) { EXPECT_EQ(p.E.VideoSyncMethod, 1); }},
      {"-vsync passthrough", 0, "", [](const Probe& p) { EXPECT_EQ(p.E.VideoSyncMethod, 0); }},
      {"-vsync vfr -vsync 1", 0, "", [](const Probe& p) { EXPECT_EQ(p.E.VideoSyncMethod, 2); }},
      {"-vsync 0", 0, "", [](const Probe& p) { EXPECT_EQ(p.E.VideoSyncMethod, 0); }},
      {"-vsync 7", kEinval, HandlerFailure("The value for \"vsync\" was \"7\" which is invalid", "7", "vsync", kEinval),
       [](const Probe& p) { EXPECT_EQ(p.E.VideoSyncMethod, -1); }},
      {"-vsync fast", kEinval, "", nullptr},
      {"-async 1 -adrift_threshold 0.5 -copyts -copytb 1 -shortest", 0, "",
       [](const Probe& p) {
         EXPECT_EQ(p.E.AudioSyncMethod, 1);
         EXPECT_FLOAT_EQ(p.E.AudioDriftThreshold, 0.5f);
         EXPECT_EQ(p.E.CopyTs, 1);
         EXPECT_EQ(p.E.CopyTb, 1);
         EXPECT_EQ(p.O.Shortest, 1);
       }},
      {"-dts_delta_threshold 5 -dts_error_threshold 9 -xerror", 0, "",
       [](const Probe& p) {
         EXPECT_FLOAT_EQ(p.E.DtsDeltaThreshold, 5);
         EXPECT_FLOAT_EQ(p.E.DtsErrorThreshold, 9);
         EXPECT_EQ(p.E.ExitOnError, 1);
       }},
      {"-copyinkf:v -copypriorss:a 1", 0, "",
       [](const Probe& p) {
         EXPECT_EQ(Ints(p.O.CopyInitialNonKeyframes), "v=1");
         EXPECT_EQ(Ints(p.O.CopyPriorStart), "a=1");
       }},
      {"-tag:v xvid -vtag div3 -atag mp4a -stag tx3g", 0, "",
       [](const Probe& p) { EXPECT_EQ(Strs(p.O.CodecTags), "v=xvid v=div3 a=mp4a s=tx3g"); }},
      // quality
      {"-q 3.5 -aq 4", 0, "", [](const Probe& p) { EXPECT_EQ(Doubles(p.O.QScale), "=3.5 a=4"); }},
      {"-qscale 2", 0, "",
       [](const Probe& p) {
         EXPECT_EQ(Doubles(p.O.QScale), "v=2");
         EXPECT_TRUE(p.Logged(llWarning, "Please use -q:a or -q:v, -qscale is ambiguous"));
       }},
      {"-qscale:a 4", 0, "",
       [](const Probe& p) {
         EXPECT_EQ(Doubles(p.O.QScale), "a=4");
         EXPECT_FALSE(p.Logged(llWarning, "Please use -q:a or -q:v, -qscale is ambiguous"));
       }},
      {"-profile main -profile:a aac_low", 0, "",
       [](const Probe& p) {
         EXPECT_EQ(Dict(p.Codec(), "profile:v"), "main");
         EXPECT_EQ(Dict(p.Codec(), "profile:a"), "aac_low");
         EXPECT_TRUE(p.Logged(llWarning, "Please use -profile:a or -profile:v, -profile is ambiguous"));
       }},
      {"-b 1M -b:a 128k", 0, "",
       [](const Probe& p) {
         EXPECT_EQ(Dict(p.Codec(), "b:v"), "1M");
         EXPECT_EQ(Dict(p.Codec(), "b:a"), "128k");
         EXPECT_TRUE(p.Logged(llWarning, "Please use -b:a or -b:v, -b is ambiguous"));
       }},
      // filters
      {"-filter:v scale=2:2 -vf hflip -af volume=2", 0, "",
       [](const Probe& p) { EXPECT_EQ(Strs(p.O.FilterTexts), "v=scale=2:2 v=hflip a=volume=2"); }},
      {"-reinit_filter 0", 0, "", [](const Probe& p) { EXPECT_EQ(Ints(p.O.ReinitFilters), "=0"); }},
      {"-filter_complex nullsrc,nullsink -filter_complex anullsrc,anullsink", 0, "",
       [](const Probe& p) {
         ASSERT_EQ(p.E.FilterGraphCount(), 2);
         EXPECT_EQ(p.E.FilterGraphs[1]->Index, 1);
         EXPECT_EQ(p.E.FilterGraphs[1]->Description, "anullsrc,anullsink");
       }},
      {"-stats", 0, "", [](const Probe& p) { EXPECT_EQ(p.E.PrintStats, 1); }},
      {"-nostats", 0, "", [](const Probe& p) { EXPECT_EQ(p.E.PrintStats, 0); }},
      {"-attach a.ttf -attach b.ttf -dump_attachment:t out.bin", 0, "",
       [](const Probe& p) {
         EXPECT_EQ(p.O.Attachments, (std::vector<std::string>{"a.ttf", "b.ttf"}));
         EXPECT_EQ(Strs(p.O.DumpAttachment), "t=out.bin");
       }},
      {"-debug_ts", 0, "", [](const Probe& p) { EXPECT_EQ(p.E.DebugTs, 1); }},
      // video
      {"-r 25 -s 640x480 -aspect 16:9 -pix_fmt +yuv420p", 0, "",
       [](const Probe& p) {
         EXPECT_EQ(Strs(p.O.FrameRates), "=25");
         EXPECT_EQ(Strs(p.O.FrameSizes), "=640x480");
         EXPECT_EQ(Strs(p.O.FrameAspectRatios), "=16:9");
         EXPECT_EQ(Strs(p.O.FramePixFmts), "=+yuv420p");
       }},
      {"-bits_per_raw_sample 10 -intra -vdt 3 -dc 10 -psnr -qphist", 0, "",
       [](const Probe& p) {
         EXPECT_EQ(p.E.FrameBitsPerRawSample, 10);
         EXPECT_EQ(p.E.IntraOnly, 1);
         EXPECT_EQ(p.E.VideoDiscard, 3);
         EXPECT_EQ(p.E.IntraDcPrecision, 10);
         EXPECT_EQ(p.E.DoPsnr, 1);
         EXPECT_EQ(p.E.QpHist, 1);
       }},
      {"-vn -an -sn -dn", 0, "",
       [](const Probe& p) {
         EXPECT_EQ(p.O.VideoDisable + p.O.AudioDisable + p.O.SubtitleDisable + p.O.DataDisable, 4);
       }},
      {"-an -noan", 0, "", [](const Probe& p) { EXPECT_EQ(p.O.AudioDisable, 0); }},
      {"-noac 2", AVERROR_OPTION_NOT_FOUND, "", nullptr},
      {"-rc_override 0,10,2 -intra_matrix 1,2 -inter_matrix 3,4", 0, "",
       [](const Probe& p) {
         EXPECT_EQ(Strs(p.O.RcOverrides), "=0,10,2");
         EXPECT_EQ(Strs(p.O.IntraMatrices), "=1,2");
         EXPECT_EQ(Strs(p.O.InterMatrices), "=3,4");
       }},
      {"-vcodec mpeg4 -acodec aac -scodec mov_text -dcodec copy", 0, "",
       [](const Probe& p) { EXPECT_EQ(Strs(p.O.CodecNames), "v=mpeg4 a=aac s=mov_text d=copy"); }},
      {"-sameq", kEinval,
       HandlerFailure("Option \"sameq\" was removed. If you are looking for an option to preserve the quality (which "
                      "is not what -sameq was for), use -qscale 0 or an equivalent quality factor option.",
                      "1", "sameq", kEinval),
       nullptr},
      {"-same_quant", kEinval, "", nullptr},
      {"-timecode 01:00:00:00", 0, "",
       [](const Probe& p) {
         EXPECT_EQ(Strs(p.O.Metadata), "g=timecode=01:00:00:00");
         EXPECT_EQ(Dict(p.Codec(), "gop_timecode"), "01:00:00:00");
       }},
      {"-pass 1 -passlogfile stats", 0, "",
       [](const Probe& p) {
         EXPECT_EQ(Ints(p.O.Pass), "=1");
         EXPECT_EQ(Strs(p.O.PassLogFiles), "=stats");
       }},
      {"-deinterlace", 0, "",
       [](const Probe& p) {
         EXPECT_EQ(p.E.DoDeinterlace, 1);
         EXPECT_TRUE(p.Logged(llWarning, "-deinterlace is deprecated, use -filter:v yadif instead"));
       }},
      {"-vstats", 0, "",
       [](const Probe& p) {
         const std::string& name = p.E.VstatsFileName;
         ASSERT_EQ(name.size(), std::string("vstats_hhnnss.log").size()) << name;
         EXPECT_EQ(name.substr(0, 7) + name.substr(13), "vstats_.log");
         EXPECT_EQ(name.find_first_not_of("0123456789", 7), 13u) << name;
       }},
      {"-vstats_file v.log", 0, "", [](const Probe& p) { EXPECT_EQ(p.E.VstatsFileName, "v.log"); }},
      {"-top 1 -force_fps:v -force_key_frames 0,5", 0, "",
       [](const Probe& p) {
         EXPECT_EQ(Ints(p.O.TopFieldFirst), "=1");
         EXPECT_EQ(Ints(p.O.ForceFps), "v=1");
         EXPECT_EQ(Strs(p.O.ForcedKeyFrames), "=0,5");
       }},
      // stream ids
      {"-streamid 0:5 -streamid 3:2147483647", 0, "",
       [](const Probe& p) { EXPECT_EQ(p.O.StreamIdMap, (std::vector<std::int32_t>{5, 0, 0, 2147483647})); }},
      {"-streamid 1024:5", kEinval,
       HandlerFailure("The value for \"streamid\" was \"1024\" which is not within 0 - 1023", "1024:5", "streamid",
                      kEinval),
       nullptr},
      {"-streamid 1:-1", kEinval,
       HandlerFailure("The value for \"streamid\" was \"-1\" which is not within 0 - 2147483647", "1:-1", "streamid",
                      kEinval),
       nullptr},
      {"-streamid 5", kEinval,
       HandlerFailure("Invalid value \"5\" for option \"streamid\", required syntax is \"index:value\"", "5",
                      "streamid", kEinval),
       nullptr},
      {"-streamid x:1", kEinval, "", nullptr},
      // audio
      {"-ar 44100 -ac 2 -vol 512 -sample_fmt s16 -guess_layout_max 2", 0, "",
       [](const Probe& p) {
         EXPECT_EQ(Ints(p.O.AudioSampleRates), "=44100");
         EXPECT_EQ(Ints(p.O.AudioChannels), "=2");
         EXPECT_EQ(p.E.AudioVolume, 512);
         EXPECT_EQ(Strs(p.O.SampleFmts), "=s16");
         EXPECT_EQ(Ints(p.O.GuessLayoutMax), "=2");
       }},
      {"-channel_layout stereo -channel_layout:a 5.1 -channel_layout:a:1 4", 0, "",
       [](const Probe& p) {
         EXPECT_EQ(Ints(p.O.AudioChannels), "=2 a=6 a:1=1") << "4 is the mask of the front centre alone";
         EXPECT_EQ(Dict(p.Codec(), "channel_layout"), "3");
         EXPECT_EQ(Dict(p.Codec(), "channel_layout:a"), "63") << "this generation's 5.1 has back speakers";
       }},
      {"-channel_layout bogus", kEinval,
       HandlerFailure("Unknown channel layout: bogus", "bogus", "channel_layout", kEinval), nullptr},
      {"-fix_sub_duration", 0, "", [](const Probe& p) { EXPECT_EQ(Ints(p.O.FixSubDuration), "=1"); }},
      {"-isync -muxdelay 0.1 -muxpreload 0.5", 0, "",
       [](const Probe& p) {
         EXPECT_EQ(p.E.InputSync, 1);
         EXPECT_FLOAT_EQ(p.O.MuxMaxDelay, 0.1f);
         EXPECT_FLOAT_EQ(p.O.MuxPreload, 0.5f);
       }},
      {"-bsf:v h264_mp4toannexb -absf aac_adtstoasc -vbsf dump_extra", 0, "",
       [](const Probe& p) {
         EXPECT_EQ(Strs(p.O.BitstreamFilters), "v=h264_mp4toannexb a=aac_adtstoasc v=dump_extra");
       }},
      // presets
      {"-fpre " + presetFile, 0, "",
       [](const Probe& p) {
         EXPECT_EQ(Dict(p.Codec(), "g"), "250");
         EXPECT_EQ(Strs(p.O.CodecNames), "v=mpeg4");
       }},
      {"-apre " + missingPreset, kEinval,
       HandlerFailure("Preset file \"" + missingPreset + "\" not found", missingPreset.c_str(), "apre", kEinval),
       nullptr},
      {"-vpre " + missingPreset, kEinval, "", nullptr},
      {"-spre " + missingPreset, kEinval, "", nullptr},
      // hooks and the application's own switches
      {"-vhook /nonexistent/lumivor_hook.so", kRaises,
       "Failed to add video hook function: /nonexistent/lumivor_hook.so",
       [](const Probe& p) { EXPECT_EQ(p.E.HookArguments, std::vector<std::string>{"/nonexistent/lumivor_hook.so"}); }},
      {"-VideoHookBitsPixel 24", 0, "",
       [](const Probe& p) { EXPECT_EQ(p.E.HookBitsPixel, std::vector<std::string>{"24"}); }},
      {"-TimeStart 2.5", 0, "", [](const Probe& p) { EXPECT_EQ(p.O.StartTime, 2500000); }},
      {"-timestart 1", 0, "", [](const Probe& p) { EXPECT_EQ(p.O.StartTime, 1000000); }},
      {"-TimeLength 1.0000004", 0, "", [](const Probe& p) { EXPECT_EQ(p.O.RecordingTime, 1000000); }},
      {"-timelength 0.0000025 -TimeStart 0.0000035", 0, "",
       [](const Probe& p) {
         EXPECT_EQ(p.O.RecordingTime, 2) << "halves go to the even neighbour";
         EXPECT_EQ(p.O.StartTime, 4);
       }},
      {"-TimeLength abc", kEinval,
       HandlerFailure("'abc' is not a valid floating point value", "abc", "TimeLength", kEinval), nullptr},
      {"-TimeStart 1e300", kEinval, "", nullptr},
      {"-AudioInputHook -AudioOutputHook -VideoInputHook -VideoOutputHook -FrameInputHook -FrameOutputHook -Join", 0,
       "", [](const Probe& p) { EXPECT_EQ(Maps(p.O) + Strs(p.O.CodecNames), ""); }},
  };
  cases.insert(cases.end(), rows.begin(), rows.end());
  return cases;
}

// Option texts whose outcome depends on the machine; they have tests of their own below.
const char* const kMachineDependentTexts[] = {"-cpuflags +mmx", "-tvstd ntsc -vc 1"};

class OptionTable : public EngineTest {
 protected:
  // Runs one option text on a fresh engine with the made-up inputs.
  void RunCase(const Case& c) {
    SCOPED_TRACE(c.Text);
    TestEngine engine;
    AddMadeUpInput(engine, {{AVMEDIA_TYPE_VIDEO, AV_CODEC_ID_H264, 0},
                            {AVMEDIA_TYPE_AUDIO, AV_CODEC_ID_AAC, 2},
                            {AVMEDIA_TYPE_AUDIO, AV_CODEC_ID_AAC, 2}});
    AddMadeUpInput(engine, {{AVMEDIA_TYPE_AUDIO, AV_CODEC_ID_MP3, 1}});
    OptionsContextScope scope(engine);
    Lines.clear();
    DefaultLogger().SetLogLevel(llInfo);
    int result = 0;
    try {
      result = ParseFileOptions(engine, &scope.Context(), c.Text, "output file", "");
    } catch (const FFmpegException& e) {
      result = kRaises;
      EXPECT_EQ(engine.LastErrMsg, e.what());
    }
    EXPECT_EQ(result, c.Result) << engine.LastErrMsg;
    if (!c.LastErrMsg.empty()) {
      EXPECT_EQ(engine.LastErrMsg, c.LastErrMsg);
    }
    if (c.Result == 0) {
      EXPECT_EQ(engine.LastErrMsg, "");
    }
    if (c.Check) c.Check(Probe{engine, scope.Context(), Lines});
    DefaultLogger().SetLogLevel(llInfo);
  }
};

TEST_F(OptionTable, EachOptionTextSetsWhatItNames) {
  for (const Case& c : OptionTextCases()) RunCase(c);
}

TEST_F(OptionTable, EveryRowIsTriedByAnOptionText) {
  std::vector<std::string> texts(std::begin(kMachineDependentTexts), std::end(kMachineDependentTexts));
  for (const Case& c : OptionTextCases()) texts.push_back(c.Text);
  std::set<std::string> tried;
  for (const std::string& text : texts) {
    const OptionWords words = SplitOptionText(text);
    for (int i = 0; i < words.Count(); ++i) {
      std::string name = words[i];
      if (name.size() < 2 || name[0] != '-') continue;
      name = name.substr(1, name.find(':') == std::string::npos ? std::string::npos : name.find(':') - 1);
      tried.insert(name);
      if (name.rfind("no", 0) == 0) tried.insert(name.substr(2));
    }
  }
  int rows = 0;
  for (const TOptionDef* row = Engine->OptionRows(); row->Name != nullptr; ++row) {
    ++rows;
    EXPECT_EQ(tried.count(row->Name), 1u) << "no option text tries the row \"" << row->Name << "\"";
  }
  EXPECT_EQ(rows, 150);
}

TEST_F(OptionTable, HasTheRowsInTheirPlacesAndEachRowIsWired) {
  const std::vector<TOptionDef>& table = Engine->OptionTable;
  ASSERT_EQ(table.size(), 151u) << "150 rows and the terminator";
  EXPECT_EQ(table.back().Name, nullptr);
  struct Anchor {
    int Number;  // counted from 1
    const char* Name;
    std::uint32_t Flags;
  };
  const Anchor anchors[] = {{1, "L", 0x800},        {17, "loglevel", 0x1}, {22, "f", 0x4009},
                            {28, "map", 0x2005},    {53, "target", 0x2001}, {76, "debug_ts", 0x6},
                            {100, "top", 0x8095},   {136, "dcodec", 0x3005}, {138, "vhook", 0x15},
                            {143, "timelength", 0x2005}, {150, "Join", 0x800}};
  for (const Anchor& a : anchors) {
    SCOPED_TRACE(a.Number);
    EXPECT_STREQ(table[a.Number - 1].Name, a.Name);
    EXPECT_EQ(table[a.Number - 1].Flags, a.Flags);
  }

  std::set<std::string> names;
  const auto* engineBegin = reinterpret_cast<const char*>(Engine.get());
  const auto* engineEnd = engineBegin + sizeof(TestEngine);
  for (const TOptionDef* row = table.data(); row->Name != nullptr; ++row) {
    SCOPED_TRACE(row->Name);
    EXPECT_TRUE(names.insert(row->Name).second) << "names are unique, so table order never hides a row";
    EXPECT_NE(row->Help, nullptr);
    const bool value = (row->Flags & (ofString | ofBool | ofInt | ofInt64 | ofTime | ofFloat | ofDouble)) != 0;
    if (!value) {
      EXPECT_NE(row->Target.Handler, nullptr);
    } else if (row->Flags & (ofOffset | ofSpec)) {
      EXPECT_LT(row->Target.Offset, sizeof(TOptionsContext));
      EXPECT_TRUE(row->Flags & ofPerFile || row->Flags & ofOffset || row->Flags & ofSpec);
    } else {
      const auto* address = static_cast<const char*>(row->Target.Address);
      EXPECT_TRUE(address >= engineBegin && address < engineEnd) << "an engine-wide setting of this engine";
    }
  }

  const TOptionDef* before = table.data();
  Engine->BuildOptionTable();
  EXPECT_EQ(Engine->OptionTable.data(), before) << "a second build does nothing";
}

TEST_F(OptionTable, ShowOptionsChangeNothingWhileRefusedOnesFailOnlyInStrictMode) {
  for (const std::uint8_t strict : {1, 0}) {
    SCOPED_TRACE(int(strict));
    TestEngine engine;
    engine.StrictOptions = strict;
    OptionsContextScope scope(engine);
    const int result = ParseFileOptions(engine, &scope.Context(), "-version -report -y", "output file", "");
    EXPECT_EQ(result, strict ? kEinval : 0);
    EXPECT_EQ(engine.FileOverwrite, 0) << "a failing handler ends the options in both modes";
    EXPECT_TRUE(Logged(llWarning, "options \"version\" not supported, ignore"));
  }
}

TEST_F(OptionTable, CpuFlagsAreParsedFromTheCurrentOnes) {
#if defined(__x86_64__) || defined(__i386__)
  const int before = lib::av_get_cpu_flags();
  ASSERT_EQ(Parse(kMachineDependentTexts[0]), 0) << Engine->LastErrMsg;
  EXPECT_EQ(lib::av_get_cpu_flags(), before | AV_CPU_FLAG_MMX);
  lib::av_force_cpu_flags(-1);  // back to detection
#endif
  Engine->InitOptionsContext(Context);
  ASSERT_LT(Parse("-cpuflags nonsense_flag"), 0);
  EXPECT_EQ(Engine->LastErrMsg.rfind("Failed to parse cpu flags \"nonsense_flag\": ", 0), 0u) << Engine->LastErrMsg;
}

TEST_F(OptionTable, DeprecatedDeviceOptionsGoToTheLibraryHolders) {
  // Global rows: the value lands in the current holders, which the file group has taken over
  // already.
  const int result = Parse(kMachineDependentTexts[1]);
  EXPECT_TRUE(Logged(llWarning, "This option is deprecated, use -standard."));
  if (result == 0) {
    EXPECT_TRUE(Logged(llWarning, "This option is deprecated, use -channel."));
    EXPECT_EQ(Dict(Engine->Options.FormatOptions.get(), "standard"), "ntsc");
    EXPECT_EQ(Dict(Engine->Options.FileGroup.FormatOptions.get(), "standard"), "<absent>");
  } else {
    // Without a capture device that knows the option, the library does not either.
    EXPECT_EQ(result, AVERROR_OPTION_NOT_FOUND);
  }
}

}  // namespace
}  // namespace lumivor
