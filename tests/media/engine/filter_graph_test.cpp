#include <gtest/gtest.h>

#include <cerrno>
#include <string>

#include "media/runtime/format_text.h"
#include "media/runtime/library_objects.h"
#include "output_setup_fixture.h"

namespace lumivor {
namespace {

using testing_engine::MadeUpStream;
using testing_engine::OutputSetup;

testing::MediaSpec SmallVideo() {
  testing::MediaSpec spec;
  spec.Format = "matroska";
  spec.Seconds = 0.2;
  spec.HasVideo = true;
  spec.Video.Width = 160;
  spec.Video.Height = 120;
  return spec;
}

testing::MediaSpec StereoWav() {
  testing::MediaSpec spec;
  spec.Format = "wav";
  spec.Seconds = 0.2;
  return spec;
}

std::string OptionText(AVFilterContext* filter, const char* name) {
  std::uint8_t* value = nullptr;
  if (lib::av_opt_get(filter, name, AV_OPT_SEARCH_CHILDREN, &value) < 0) return "(unset)";
  std::string text = reinterpret_cast<const char*>(value);
  lib::av_free(value);
  return text;
}

class FilterGraphs : public OutputSetup {
 protected:
  // A simple graph between the input's first stream and output stream `output`.
  TFilterGraph* SimpleGraph(int input = 0, int output = 0) {
    TFilterGraph* fg = Engine->InitSimpleFilterGraph(*Engine->InputStreams[static_cast<std::size_t>(input)],
                                                     *Engine->OutputStreams[static_cast<std::size_t>(output)]);
    EXPECT_NE(fg, nullptr);
    return fg;
  }
  AVFilterContext* Find(const TFilterGraph& fg, const std::string& name) {
    return lib::avfilter_graph_get_filter(fg.Graph.get(), name.c_str());
  }
  // The filter that the first output of `filter` feeds, past the conversions that the library
  // inserts by itself when it negotiates formats.
  static AVFilterContext* Next(const AVFilterContext* filter) {
    AVFilterContext* next = filter->nb_outputs > 0 && filter->outputs[0] != nullptr ? filter->outputs[0]->dst : nullptr;
    while (next != nullptr && std::string(next->name).rfind("auto_", 0) == 0) next = Next(next);
    return next;
  }
};

TEST_F(FilterGraphs, SimpleGraphNeedsExactlyOneInputAndOneOutput) {
  ASSERT_EQ(OpenGeneratedInput("in.mkv", SmallVideo()), 0);
  ASSERT_EQ(OpenOutput("-vf split -c:v mpeg4 -an", "split.mkv"), 0) << Engine->LastErrMsg;
  TFilterGraph* fg = SimpleGraph();
  EXPECT_EQ(Engine->ConfigureFilterGraph(*fg), AVERROR(EINVAL));
  EXPECT_TRUE(Logged(llError, "Simple filtergraph \"split\" does not have exactly one input and output."));
}

TEST_F(FilterGraphs, SimpleVideoGraphScalesAndConvertsForTheEncoderAndRuns) {
  ASSERT_EQ(OpenGeneratedInput("in.mkv", SmallVideo()), 0);
  ASSERT_EQ(OpenOutput("-c:v mpeg4 -s 80x60 -an", "small.mkv"), 0) << Engine->LastErrMsg;
  TOutputStream& ost = *Engine->OutputStreams[0];
  TFilterGraph* fg = SimpleGraph();
  ASSERT_EQ(fg->Index, 0);
  EXPECT_TRUE(fg->IsSimple());
  EXPECT_EQ(ost.Filter, fg->Outputs[0].get());
  EXPECT_EQ(TCustomFFmpegOpt::InputFeedsGraph(*fg, *Engine->InputStreams[0]), 1);
  ASSERT_EQ(Engine->ConfigureFilterGraph(*fg), 0);
  EXPECT_EQ(fg->Reconfiguration, 1);
  EXPECT_EQ(fg->Inputs[0]->Name, "null");
  EXPECT_EQ(fg->Outputs[0]->Name, "null");

  AVFilterContext* source = Find(*fg, "graph 0 input from stream 0:0");
  ASSERT_EQ(source, fg->Inputs[0]->Filter);
  AVFilterContext* scaler = Find(*fg, "scaler for output stream 0:0");
  ASSERT_NE(scaler, nullptr);
  EXPECT_EQ(OptionText(scaler, "w"), "80");
  EXPECT_EQ(OptionText(scaler, "h"), "60");
  EXPECT_EQ(ost.SwsFlags, 4);  // bicubic, the scaler's default
  EXPECT_EQ(OptionText(scaler, "flags"), "0x4");
  AVFilterContext* format = Find(*fg, "pixel format for output stream 0:0");
  ASSERT_NE(format, nullptr);
  EXPECT_EQ(OptionText(format, "pix_fmts"), "yuv420p");
  AVFilterContext* sink = fg->Outputs[0]->Filter;
  ASSERT_EQ(sink, Find(*fg, "output stream 0:0"));
  EXPECT_EQ(Next(scaler), format);
  EXPECT_EQ(Next(format), sink);

  // A picture through the whole chain comes out at the encoder's size.
  FramePtr in(lib::av_frame_alloc());
  in->format = AV_PIX_FMT_YUV420P;
  in->width = 160;
  in->height = 120;
  in->pts = 0;
  ASSERT_GE(lib::av_frame_get_buffer(in.get(), 0), 0);
  ASSERT_GE(lib::av_buffersrc_add_frame(source, in.get()), 0);
  FramePtr out(lib::av_frame_alloc());
  ASSERT_GE(lib::av_buffersink_get_frame(sink, out.get()), 0);
  EXPECT_EQ(out->width, 80);
  EXPECT_EQ(out->height, 60);
  EXPECT_EQ(out->format, AV_PIX_FMT_YUV420P);
}

TEST_F(FilterGraphs, SimpleAudioGraphDeliversWhatTheEncoderTakes) {
  ASSERT_EQ(OpenGeneratedInput("in.wav", StereoWav()), 0);
  ASSERT_EQ(OpenOutput("-c:a mp2 -ar 22050 -ac 1", "out.mp2"), 0) << Engine->LastErrMsg;
  TFilterGraph* fg = SimpleGraph();
  ASSERT_EQ(Engine->ConfigureFilterGraph(*fg), 0);
  AVFilterContext* aformat = Find(*fg, "audio format for output stream 0:0");
  ASSERT_NE(aformat, nullptr);
  EXPECT_EQ(Next(aformat), fg->Outputs[0]->Filter);
  AVFilterContext* sink = fg->Outputs[0]->Filter;
  EXPECT_EQ(lib::av_buffersink_get_sample_rate(sink), 22050);
  EXPECT_EQ(lib::av_buffersink_get_channels(sink), 1);
  EXPECT_EQ(lib::av_buffersink_get_format(sink), AV_SAMPLE_FMT_S16);
  // The layout for the count given with "-ac" was filled in on the encoder's context.
  EXPECT_EQ(Engine->OutputStreams[0]->EncoderContext->ch_layout.order, AV_CHANNEL_ORDER_NATIVE);
}

TEST_F(FilterGraphs, SyncAndVolumeSettingsInsertFiltersInFrontOfTheGraph) {
  struct Case {
    int SyncMethod;
    int Volume;
    float Drift;
    const char* First;   // forwarding lines at the first configuration ("" = none)
    const char* Second;  // and at the second
    const char* Volumeline;
  };
  const Case cases[] = {
      {1, 256, 0.1f, "-af aresample=async=1:first_pts=0.", "-af aresample=async=1.", ""},
      {1, 512, 0.5f, "-af aresample=async=1:min_hard_comp=0.500000:first_pts=0.",
       "-af aresample=async=1:min_hard_comp=0.500000.", "-af volume=2.000000."},
      {0, 128, 0.1f, "", "", "-af volume=0.500000."},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(FormatText("async %d, vol %d", c.SyncMethod, c.Volume));
    NextEngine();
    ASSERT_EQ(OpenGeneratedInput("in.wav", StereoWav()), 0);
    ASSERT_EQ(OpenOutput("-c:a pcm_s16le", "sync.wav"), 0) << Engine->LastErrMsg;
    Engine->AudioSyncMethod = c.SyncMethod;
    Engine->AudioVolume = c.Volume;
    Engine->AudioDriftThreshold = c.Drift;
    TFilterGraph* fg = SimpleGraph();
    ASSERT_EQ(Engine->ConfigureFilterGraph(*fg), 0);
    if (*c.First != '\0') {
      EXPECT_TRUE(Logged(llInfo, std::string("-async is forwarded to lavfi similarly to ") + c.First));
    }
    if (*c.Volumeline != '\0') {
      EXPECT_TRUE(Logged(llInfo, std::string("-vol is forwarded to lavfi similarly to ") + c.Volumeline));
      EXPECT_TRUE(Logged(llWarning, "-vol has been deprecated. Use the volume audio filter instead."));
    }
    // source -> volume -> aresample -> the graph
    AVFilterContext* after = Next(fg->Inputs[0]->Filter);
    AVFilterContext* volume = Find(*fg, "graph 0 volume for input stream 0:0");
    AVFilterContext* resample = Find(*fg, "graph 0 aresample for input stream 0:0");
    EXPECT_EQ(volume != nullptr, c.Volume != 256);
    EXPECT_EQ(resample != nullptr, c.SyncMethod > 0);
    if (volume != nullptr) {
      EXPECT_EQ(after, volume);
      after = Next(volume);
    }
    if (resample != nullptr) {
      EXPECT_EQ(after, resample);
    }

    Lines.clear();
    ASSERT_EQ(Engine->ConfigureFilterGraph(*fg), 0);
    if (*c.Second != '\0') {
      EXPECT_TRUE(Logged(llInfo, std::string("-async is forwarded to lavfi similarly to ") + c.Second));
    }
    EXPECT_FALSE(Logged(llInfo, "first_pts"));
  }
}

TEST_F(FilterGraphs, ChannelMapsBecomeAPanFilterWithoutTheMutedChannels) {
  ASSERT_EQ(OpenGeneratedInput("in.wav", StereoWav()), 0);
  ASSERT_EQ(OpenOutput("-map_channel 0.0.1 -map_channel -1 -c:a pcm_s16le", "pan.wav"), 0) << Engine->LastErrMsg;
  ASSERT_EQ(Engine->OutputStreams[0]->AudioChannelsMapped, 2);
  TFilterGraph* fg = SimpleGraph();
  ASSERT_EQ(Engine->ConfigureFilterGraph(*fg), 0);
  EXPECT_TRUE(Logged(llInfo, "-map_channel is forwarded to lavfi similarly to -af pan=0x3|c0=c1."));
  AVFilterContext* pan = Find(*fg, "pan");
  ASSERT_NE(pan, nullptr);
  EXPECT_EQ(lib::av_buffersink_get_channels(fg->Outputs[0]->Filter), 2);
}

TEST_F(FilterGraphs, PixelFormatGivenWithPlusIsKeptWithoutConversion) {
  struct Case {
    const char* Options;
    bool Configures;
  };
  // mpeg4 takes only yuv420p: a kept yuv444p cannot be converted to anything it takes.
  const Case cases[] = {
      {"-c:v mpeg4 -pix_fmt yuv444p -an", true},
      {"-c:v mpeg4 -pix_fmt +yuv444p -an", false},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.Options);
    NextEngine();
    ASSERT_EQ(OpenGeneratedInput("in.mkv", SmallVideo()), 0);
    ASSERT_EQ(OpenOutput(c.Options, "keep.mkv"), 0) << Engine->LastErrMsg;
    TFilterGraph* fg = SimpleGraph();
    EXPECT_EQ(Engine->ConfigureFilterGraph(*fg) == 0, c.Configures);
    if (c.Configures) {
      EXPECT_TRUE(Logged(llWarning,
                         "Incompatible pixel format \"yuv444p\" for codec \"mpeg4\", auto-selecting format \"yuv420p\""));
      EXPECT_EQ(OptionText(Find(*fg, "pixel format for output stream 0:0"), "pix_fmts"), "yuv420p");
    }
  }
}

TEST_F(FilterGraphs, DeinterlacingAndAForcedInputRateComeRightBehindTheSource) {
  ASSERT_EQ(OpenGeneratedInput("in.mkv", SmallVideo(), "-r 10"), 0);
  ASSERT_EQ(OpenOutput("-c:v mpeg4 -an", "deint.mkv"), 0) << Engine->LastErrMsg;
  Engine->DoDeinterlace = 1;
  TFilterGraph* fg = SimpleGraph();
  ASSERT_EQ(Engine->ConfigureFilterGraph(*fg), 0);
  AVFilterContext* source = fg->Inputs[0]->Filter;
  AVFilterContext* setpts = Find(*fg, "force CFR for input from stream 0:0");
  AVFilterContext* yadif = Find(*fg, "graph 0 yadif for input stream 0:0");
  ASSERT_NE(setpts, nullptr);
  ASSERT_NE(yadif, nullptr);
  EXPECT_EQ(Next(source), setpts);
  EXPECT_EQ(Next(setpts), yadif);
  EXPECT_EQ(OptionText(source, "time_base"), "1/10");
  EXPECT_EQ(OptionText(setpts, "expr"), "N");
}

TEST_F(FilterGraphs, ComplexGraphOutputIsMappedByLabelAndRefusesStreamCopy) {
  ASSERT_EQ(OpenGeneratedInput("in.mkv", SmallVideo()), 0);
  const char* graph = "-filter_complex [0:v]scale=320:240[big] -map [big]";
  ASSERT_EQ(OpenOutput(std::string(graph) + " -c:v mpeg4", "complex.mkv"), 0) << Engine->LastErrMsg;
  ASSERT_EQ(Engine->FilterGraphCount(), 1);
  TFilterGraph& fg = *Engine->FilterGraphs[0];
  EXPECT_FALSE(fg.IsSimple());
  ASSERT_EQ(fg.InputCount(), 1);
  ASSERT_EQ(fg.OutputCount(), 1);
  TInputStream& ist = *Engine->InputStreams[0];
  EXPECT_EQ(fg.Inputs[0]->Input, &ist);
  EXPECT_EQ(ist.Discard, 0);
  EXPECT_EQ(ist.DecodingNeeded, 1);
  EXPECT_EQ(fg.Inputs[0]->Name, "scale");
  EXPECT_EQ(SourcesOf(0), std::vector<int>({-1}));
  TOutputStream& ost = *Engine->OutputStreams[0];
  EXPECT_EQ(ost.Filter, fg.Outputs[0].get());
  EXPECT_EQ(fg.Outputs[0]->Output, &ost);
  EXPECT_FALSE(fg.Outputs[0]->PendingOutput);
  // The setup configures complex graphs in the library once every output is open.
  ASSERT_GE(lib::avfilter_graph_config(fg.Graph.get(), nullptr), 0);
  EXPECT_EQ(lib::av_buffersink_get_w(fg.Outputs[0]->Filter), 320);
  EXPECT_EQ(lib::av_buffersink_get_h(fg.Outputs[0]->Filter), 240);

  // Changed input parameters rebuild the graph on the same bindings: nothing is bound twice.
  ist.ResampleWidth = 80;
  ist.ResampleHeight = 60;
  ASSERT_EQ(Engine->ConfigureFilterGraph(fg), 0);
  EXPECT_EQ(fg.InputCount(), 1);
  EXPECT_EQ(fg.OutputCount(), 1);
  EXPECT_EQ(ist.DecodingNeeded, 1);
  EXPECT_EQ(ist.FilterCount(), 1);
  EXPECT_EQ(fg.Outputs[0]->Output, &ost);
  EXPECT_EQ(fg.Outputs[0]->Filter, Find(fg, "output stream 0:0"));
  EXPECT_EQ(OptionText(fg.Inputs[0]->Filter, "video_size"), "80x60");
  EXPECT_EQ(lib::av_buffersink_get_w(fg.Outputs[0]->Filter), 320);

  NextEngine();
  ASSERT_EQ(OpenGeneratedInput("in.mkv", SmallVideo()), 0);
  EXPECT_EQ(FatalText([&] { OpenOutput(std::string(graph) + " -c:v copy", "copy.mkv"); }),
            "Streamcopy requested for output stream 0:0, which is fed from a complex filtergraph. Filtering and "
            "streamcopy cannot be used together.");
  EXPECT_EQ(Engine->OutputFileCount(), 0);
  EXPECT_EQ(Engine->OutputStreamCount(), 0);
}

TEST_F(FilterGraphs, UnlabelledComplexOutputTakesTheTypesPlaceInAutomaticSelection) {
  testing::MediaSpec spec = SmallVideo();
  spec.HasAudio = true;
  ASSERT_EQ(OpenGeneratedInput("in.mkv", spec), 0);
  ASSERT_EQ(OpenOutput("-filter_complex [0:v]hflip -c:v mpeg4 -c:a pcm_s16le", "auto.mkv"), 0) << Engine->LastErrMsg;
  // The graph's output is the only video; audio is chosen as usual.
  const int audio = Engine->InputStreams[0]->Stream->codecpar->codec_type == AVMEDIA_TYPE_AUDIO ? 0 : 1;
  EXPECT_EQ(SourcesOf(0), std::vector<int>({-1, audio}));
}

TEST_F(FilterGraphs, UnlabelledComplexInputTakesTheFirstUnusedStreamOfItsType) {
  ASSERT_EQ(OpenGeneratedInput("a.wav", StereoWav()), 0);
  ASSERT_EQ(OpenGeneratedInput("b.wav", StereoWav()), 1);
  ASSERT_EQ(OpenOutput("-map 0:0 -c:a pcm_s16le", "first.wav"), 0) << Engine->LastErrMsg;
  ASSERT_EQ(OpenOutput("-filter_complex anull -c:a pcm_s16le", "second.wav"), 1) << Engine->LastErrMsg;
  ASSERT_EQ(Engine->FilterGraphCount(), 1);
  EXPECT_EQ(Engine->FilterGraphs[0]->Inputs[0]->Input, Engine->InputStreams[1].get());
  EXPECT_EQ(Engine->OutputStreams[1]->FileIndex, 1);
  EXPECT_EQ(Engine->OutputStreams[1]->SourceIndex, -1);
}

TEST_F(FilterGraphs, ComplexInputBindingErrorsAreFatal) {
  struct Case {
    const char* Graph;
    const char* Error;
  };
  const Case cases[] = {
      {"[5:a]anull", "Invalid file index 5 in filtergraph description [5:a]anull."},
      {"[0:v]null", "Stream specifier \"v\" in filtergraph description [0:v]null matches no streams."},
      {"anull,anull[x];anull[y]",
       "Cannot find a matching stream for unlabeled input pad 0 on filter Parsed_anull_2"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.Graph);
    NextEngine();
    ASSERT_EQ(OpenGeneratedInput("a.wav", StereoWav()), 0);
    EXPECT_EQ(FatalText([&] { OpenOutput(std::string("-filter_complex ") + c.Graph, "bind.wav"); }), c.Error);
    EXPECT_EQ(Engine->LastErrMsg, c.Error);
  }
}

TEST_F(FilterGraphs, PixelAndSampleFormatChoiceKeepsWhatTheEncoderTakes) {
  struct PixelCase {
    const char* Encoder;
    int Strictness;
    AVPixelFormat Wanted;
    AVPixelFormat Chosen;
    bool Warns;
  };
  const PixelCase pixelCases[] = {
      {"mjpeg", -1, AV_PIX_FMT_YUV420P, AV_PIX_FMT_YUV420P, false},
      {"mjpeg", -1, AV_PIX_FMT_YUVJ422P, AV_PIX_FMT_YUVJ422P, false},
      {"mpeg4", 0, AV_PIX_FMT_YUV420P, AV_PIX_FMT_YUV420P, false},
      {"mpeg4", 0, AV_PIX_FMT_RGB24, AV_PIX_FMT_YUV420P, true},
  };
  for (const PixelCase& c : pixelCases) {
    SCOPED_TRACE(std::string(c.Encoder) + " " + lib::av_get_pix_fmt_name(c.Wanted));
    Lines.clear();
    const AVCodec* encoder = lib::avcodec_find_encoder_by_name(c.Encoder);
    ASSERT_NE(encoder, nullptr);
    CodecContextPtr codec(lib::avcodec_alloc_context3(encoder));
    codec->strict_std_compliance = c.Strictness;
    EXPECT_EQ(TCustomFFmpegOpt::ChoosePixelFormat(codec.get(), encoder, c.Wanted), c.Chosen);
    EXPECT_EQ(Logged(llWarning, "Incompatible pixel format"), c.Warns);
  }

  const AVCodec* mp2 = lib::avcodec_find_encoder_by_name("mp2");
  ASSERT_NE(mp2, nullptr);
  Lines.clear();
  EXPECT_EQ(TCustomFFmpegOpt::ChooseSampleFormat(mp2, AV_SAMPLE_FMT_S16), AV_SAMPLE_FMT_S16);
  EXPECT_TRUE(Lines.empty());
  EXPECT_EQ(TCustomFFmpegOpt::ChooseSampleFormat(mp2, AV_SAMPLE_FMT_FLT), AV_SAMPLE_FMT_S16);
  EXPECT_TRUE(Logged(llWarning, "Incompatible sample format \"flt\" for codec \"mp2\", auto-selecting format \"s16\""));
}

TEST_F(FilterGraphs, SubtitleCanvasTakesTheLargestPictureOfItsInputOrTheDefault) {
  struct Case {
    bool WithVideo;
    int Width, Height;
  };
  const Case cases[] = {{true, 640, 360}, {false, 720, 576}};
  for (const Case& c : cases) {
    SCOPED_TRACE(c.WithVideo);
    NextEngine();
    if (c.WithVideo) {
      AddMadeUpInput({{AVMEDIA_TYPE_SUBTITLE, 0, 0, 0, 0}, {AVMEDIA_TYPE_VIDEO, 640, 360, 0, 0}});
    } else {
      AddMadeUpInput({{AVMEDIA_TYPE_SUBTITLE, 0, 0, 0, 0}});
    }
    TInputStream& ist = *Engine->InputStreams[0];
    ASSERT_EQ(Engine->PrepareSub2Video(ist), 0);
    EXPECT_EQ(ist.ResampleWidth, c.Width);
    EXPECT_EQ(ist.ResampleHeight, c.Height);
    EXPECT_EQ(ist.ResamplePixFmt, AV_PIX_FMT_BGRA);
    ASSERT_TRUE(ist.Sub2Video.Frame);
    EXPECT_EQ(ist.Sub2Video.Frame->width, c.Width);
    EXPECT_EQ(ist.Sub2Video.Frame->data[0][0], 0);
    EXPECT_TRUE(Logged(llInfo, FormatText("sub2video: using %dx%d canvas", c.Width, c.Height)));
  }
}

}  // namespace
}  // namespace lumivor
