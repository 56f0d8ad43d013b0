#include <gtest/gtest.h>

#include <map>
#include <string>
#include <vector>

#include "ffmpeg_opt_test_engine.h"

namespace lumivor {
namespace {

using testing_engine::EngineTest;

class Target : public EngineTest {
 protected:
  // A generated picture source of the library at the given rate, as the task's first input.
  void OpenVideoInput(const char* rate) {
    TOptionsContext input;
    Engine->InitOptionsContext(input);
    const int result =
        Engine->OpenInputFile(input, "-f lavfi", std::string("testsrc=size=64x48:duration=1:rate=") + rate, "");
    Engine->ReleaseOptionsContext(input);
    Engine->InitOptionsContext(Context);
    ASSERT_EQ(result, Engine->InputFileCount() - 1) << Engine->LastErrMsg;
  }

  // A fresh engine for each case of a table.
  void NextEngine() {
    TearDown();
    Lines.clear();
    SetUp();
  }

  std::string Last(const SpecifierList& list, const std::string& specifier = std::string()) const {
    std::string value;
    for (const TSpecifierOpt& element : list) {
      if (element.Specifier == specifier) value = element.Value.Str;
    }
    return value;
  }
  int LastInt(const SpecifierList& list) const { return list.empty() ? -1 : list.back().Value.Int; }
  std::string CodecOption(const char* key) const { return Option(Context.Group->CodecOptions.get(), key); }
  std::string FormatOption(const char* key) const { return Option(Context.Group->FormatOptions.get(), key); }

 private:
  static std::string Option(const AVDictionary* options, const char* key) {
    const AVDictionaryEntry* entry = lib::av_dict_get(options, key, nullptr, 0);
    return entry != nullptr ? entry->value : "";
  }
};

TEST_F(Target, DvdWithATwentyFiveFrameInputIsPal) {
  OpenVideoInput("25");
  ASSERT_EQ(Parse("-g 30 -target dvd"), 0) << Engine->LastErrMsg;
  EXPECT_TRUE(Logged(llInfo, "Assuming PAL for target."));
  EXPECT_EQ(Context.Format, "dvd");
  EXPECT_EQ(Last(Context.CodecNames, "v"), "mpeg2video");
  EXPECT_EQ(Last(Context.CodecNames, "a"), "ac3");
  EXPECT_EQ(Last(Context.FrameSizes), "720x576");
  EXPECT_EQ(Last(Context.FrameRates), "25");
  EXPECT_EQ(Last(Context.FramePixFmts), "yuv420p");
  EXPECT_EQ(LastInt(Context.AudioSampleRates), 48000);
  // The target's values replace what was given before it.
  EXPECT_EQ(CodecOption("g"), "15");
  EXPECT_EQ(CodecOption("b:v"), "6000000");
  EXPECT_EQ(CodecOption("maxrate"), "9000000");
  EXPECT_EQ(CodecOption("minrate"), "0");
  EXPECT_EQ(CodecOption("bufsize"), "1835008");
  EXPECT_EQ(CodecOption("b:a"), "448000");
  EXPECT_EQ(FormatOption("packetsize"), "2048");
  EXPECT_EQ(FormatOption("muxrate"), "10080000");
  EXPECT_FLOAT_EQ(Context.MuxPreload, 0);

  // The output stream picks it all up.
  AVFormatContext* raw = nullptr;
  ASSERT_GE(lib::avformat_alloc_output_context2(&raw, nullptr, Context.Format.c_str(), "out.vob"), 0);
  OutputFormatContextPtr oc(raw);
  TOutputStream* ost = Engine->NewVideoStream(Context, oc.get(), 0);
  EXPECT_STREQ(ost->Encoder->name, "mpeg2video");
  EXPECT_EQ(ost->EncoderContext->width, 720);
  EXPECT_EQ(ost->EncoderContext->height, 576);
  EXPECT_EQ(ost->EncoderContext->pix_fmt, AV_PIX_FMT_YUV420P);
  const AVDictionaryEntry* gop = lib::av_dict_get(ost->EncoderOptions.get(), "g", nullptr, 0);
  ASSERT_NE(gop, nullptr);
  EXPECT_STREQ(gop->value, "15");
}

TEST_F(Target, NormComesFromTheFirstVideoInputWithAKnownRate) {
  struct Case {
    std::vector<const char*> Rates;  // inputs in order
    const char* Norm;                // null: undecided
  };
  const Case cases[] = {
      {{"25"}, "PAL"},
      {{"30000/1001"}, "NTSC"},
      {{"24000/1001"}, "NTSC"},
      {{"10", "30000/1001", "25"}, "NTSC"},
      {{"10"}, nullptr},
      {{}, nullptr},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.Rates.empty() ? "no input" : c.Rates.front());
    NextEngine();
    for (const char* rate : c.Rates) OpenVideoInput(rate);
    if (c.Norm != nullptr) {
      ASSERT_EQ(Parse("-target vcd"), 0) << Engine->LastErrMsg;
      EXPECT_TRUE(Logged(llInfo, std::string("Assuming ") + c.Norm + " for target."));
      EXPECT_EQ(Last(Context.FrameSizes), std::string(c.Norm) == "PAL" ? "352x288" : "352x240");
      continue;
    }
    try {
      Parse("-target dvd");
      ADD_FAILURE() << "no fatal error";
    } catch (const FFmpegException& e) {
      EXPECT_STREQ(e.what(),
                   "Could not determine norm (PAL/NTSC/NTSC-Film) for target.\r\n"
                   "Please prefix target with \"pal-\", \"ntsc-\" or \"film-\",\r\n"
                   "or set a framerate with \"-r xxx\".");
    }
  }
}

TEST_F(Target, EachTargetAndNormGivesItsSettings) {
  struct Case {
    const char* Argument;
    const char* Format;
    const char* Size;
    const char* Rate;
    const char* PixelFormat;
    std::map<std::string, std::string> Codec;   // a sample of the codec options
    std::map<std::string, std::string> Muxer;   // every format option
    int SampleRate;
    int Channels;  // -1: not set
    float MuxPreload;
  };
  const Case cases[] = {
      {"pal-vcd", "vcd", "352x288", "25", "", {{"g", "15"}, {"b:v", "1150000"}, {"minrate", "1150000"}, {"bufsize", "327680"}, {"b:a", "224000"}},
       {{"packetsize", "2324"}, {"muxrate", "1411200"}}, 44100, 2, 0.44f},
      {"ntsc-vcd", "vcd", "352x240", "30000/1001", "", {{"g", "18"}}, {{"packetsize", "2324"}, {"muxrate", "1411200"}},
       44100, 2, 0.44f},
      {"film-vcd", "vcd", "352x240", "24000/1001", "", {{"g", "18"}}, {{"packetsize", "2324"}, {"muxrate", "1411200"}},
       44100, 2, 0.44f},
      {"pal-svcd", "svcd", "480x576", "25", "yuv420p",
       {{"g", "15"}, {"b:v", "2040000"}, {"maxrate", "2516000"}, {"bufsize", "1835008"}, {"scan_offset", "1"}},
       {{"packetsize", "2324"}}, 44100, -1, 0},
      {"ntsc-svcd", "svcd", "480x480", "30000/1001", "yuv420p", {{"g", "18"}}, {{"packetsize", "2324"}}, 44100, -1, 0},
      {"ntsc-dvd", "dvd", "720x480", "30000/1001", "yuv420p", {{"g", "18"}, {"b:a", "448000"}},
       {{"packetsize", "2048"}, {"muxrate", "10080000"}}, 48000, -1, 0},
      {"pal-dv", "dv", "720x576", "25", "yuv420p", {}, {}, 48000, 2, 0},
      {"ntsc-dv", "dv", "720x480", "30000/1001", "yuv411p", {}, {}, 48000, 2, 0},
      {"film-dv", "dv", "720x480", "24000/1001", "yuv411p", {}, {}, 48000, 2, 0},
      {"pal-dv50", "dv", "720x576", "25", "yuv422p", {}, {}, 48000, 2, 0},
      {"ntsc-dv50", "dv", "720x480", "30000/1001", "yuv422p", {}, {}, 48000, 2, 0},
      {"pal-dvcam", "dv", "720x576", "25", "yuv420p", {}, {}, 48000, 2, 0},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.Argument);
    NextEngine();
    ASSERT_EQ(Parse(std::string("-target ") + c.Argument), 0) << Engine->LastErrMsg;
    EXPECT_FALSE(Logged(llInfo, "for target.")) << "a prefix decides the norm";
    EXPECT_EQ(Context.Format, c.Format);
    EXPECT_EQ(Last(Context.FrameSizes), c.Size);
    EXPECT_EQ(Last(Context.FrameRates), c.Rate);
    EXPECT_EQ(Last(Context.FramePixFmts), c.PixelFormat);
    EXPECT_EQ(LastInt(Context.AudioSampleRates), c.SampleRate);
    EXPECT_EQ(LastInt(Context.AudioChannels), c.Channels);
    EXPECT_FLOAT_EQ(Context.MuxPreload, c.MuxPreload);
    for (const auto& [key, value] : c.Codec) EXPECT_EQ(CodecOption(key.c_str()), value) << key;
    EXPECT_EQ(lib::av_dict_count(Context.Group->FormatOptions.get()), static_cast<int>(c.Muxer.size()));
    for (const auto& [key, value] : c.Muxer) EXPECT_EQ(FormatOption(key.c_str()), value) << key;
    if (std::string(c.Format) == "dv") {
      EXPECT_TRUE(Context.CodecNames.empty()) << "dv leaves the codecs to the muxer";
    }
  }
}

TEST_F(Target, UnknownTargetIsAnOptionError) {
  EXPECT_EQ(Parse("-target pal-laserdisc"), -22);
  EXPECT_EQ(Engine->LastErrMsg.rfind("Unknown target: laserdisc\r\n", 0), 0u) << Engine->LastErrMsg;
  EXPECT_TRUE(Logged(llError, "Unknown target: laserdisc"));
  EXPECT_TRUE(Context.Format.empty());
}

}  // namespace
}  // namespace lumivor
