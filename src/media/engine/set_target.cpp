// The "target" option: one word that stands for the container, codecs, sizes, rates and buffer
// settings a disc or camcorder format requires, adjusted to the television norm.

#include <cmath>
#include <cstring>
#include <string>

#include "media/engine/ff_options.h"
#include "media/engine/ffmpeg_opt.h"
#include "media/runtime/ff_log.h"
#include "media/runtime/format_text.h"

namespace lumivor {
namespace {

enum class VideoNorm { Unknown, Pal, Ntsc, Film };

// How a step reaches its destination: as if the option had been written ("set"), or straight
// into the file's codec or format options, replacing an earlier value of the same key.
enum class StepKind { Set, Codec, Format };

// A null value stands for the norm's frame rate. FILM takes the NTSC values everywhere but the
// frame rate, since film material is carried on NTSC discs.
struct TargetStep {
  StepKind Kind;
  const char* Key;
  const char* Pal;
  const char* Ntsc;
};

constexpr const char* kNormRate = nullptr;

const TargetStep kVcdSteps[] = {
    {StepKind::Set, "c:v", "mpeg1video", "mpeg1video"},
    {StepKind::Set, "c:a", "mp2", "mp2"},
    {StepKind::Set, "f", "vcd", "vcd"},
    {StepKind::Set, "s", "352x288", "352x240"},
    {StepKind::Set, "r", kNormRate, kNormRate},
    {StepKind::Codec, "g", "15", "18"},
    {StepKind::Codec, "b:v", "1150000", "1150000"},
    {StepKind::Codec, "maxrate", "1150000", "1150000"},
    {StepKind::Codec, "minrate", "1150000", "1150000"},
    {StepKind::Codec, "bufsize", "327680", "327680"},  // 40 KiB in bits
    {StepKind::Codec, "b:a", "224000", "224000"},
    {StepKind::Set, "ar", "44100", "44100"},
    {StepKind::Set, "ac", "2", "2"},
    {StepKind::Format, "packetsize", "2324", "2324"},
    {StepKind::Format, "muxrate", "1411200", "1411200"},  // 2352 bytes x 75 sectors/s x 8
};

const TargetStep kSvcdSteps[] = {
    {StepKind::Set, "c:v", "mpeg2video", "mpeg2video"},
    {StepKind::Set, "c:a", "mp2", "mp2"},
    {StepKind::Set, "f", "svcd", "svcd"},
    {StepKind::Set, "s", "480x576", "480x480"},
    {StepKind::Set, "r", kNormRate, kNormRate},
    {StepKind::Set, "pix_fmt", "yuv420p", "yuv420p"},
    {StepKind::Codec, "g", "15", "18"},
    {StepKind::Codec, "b:v", "2040000", "2040000"},
    {StepKind::Codec, "maxrate", "2516000", "2516000"},
    {StepKind::Codec, "minrate", "0", "0"},
    {StepKind::Codec, "bufsize", "1835008", "1835008"},  // 224 KiB in bits
    {StepKind::Codec, "scan_offset", "1", "1"},
    {StepKind::Codec, "b:a", "224000", "224000"},
    {StepKind::Set, "ar", "44100", "44100"},
    {StepKind::Format, "packetsize", "2324", "2324"},
};

const TargetStep kDvdSteps[] = {
    {StepKind::Set, "c:v", "mpeg2video", "mpeg2video"},
    {StepKind::Set, "c:a", "ac3", "ac3"},
    {StepKind::Set, "f", "dvd", "dvd"},
    {StepKind::Set, "s", "720x576", "720x480"},
    {StepKind::Set, "r", kNormRate, kNormRate},
    {StepKind::Set, "pix_fmt", "yuv420p", "yuv420p"},
    {StepKind::Codec, "g", "15", "18"},
    {StepKind::Codec, "b:v", "6000000", "6000000"},
    {StepKind::Codec, "maxrate", "9000000", "9000000"},
    {StepKind::Codec, "minrate", "0", "0"},
    {StepKind::Codec, "bufsize", "1835008", "1835008"},
    {StepKind::Format, "packetsize", "2048", "2048"},  // one DVD sector
    {StepKind::Format, "muxrate", "10080000", "10080000"},
    {StepKind::Codec, "b:a", "448000", "448000"},
    {StepKind::Set, "ar", "48000", "48000"},
};

const TargetStep kDvSteps[] = {
    {StepKind::Set, "f", "dv", "dv"},
    {StepKind::Set, "s", "720x576", "720x480"},
    {StepKind::Set, "pix_fmt", "yuv420p", "yuv411p"},
    {StepKind::Set, "r", kNormRate, kNormRate},
    {StepKind::Set, "ar", "48000", "48000"},
    {StepKind::Set, "ac", "2", "2"},
};

// DV50 samples chroma 4:2:2 whatever the norm.
const TargetStep kDv50Steps[] = {
    {StepKind::Set, "f", "dv", "dv"},
    {StepKind::Set, "s", "720x576", "720x480"},
    {StepKind::Set, "pix_fmt", "yuv422p", "yuv422p"},
    {StepKind::Set, "r", kNormRate, kNormRate},
    {StepKind::Set, "ar", "48000", "48000"},
    {StepKind::Set, "ac", "2", "2"},
};

enum class NameMatch { Exact, Prefix };

struct TargetPreset {
  const char* Name;
  NameMatch Match;
  const TargetStep* Steps;
  int StepCount;
  float MuxPreload;  // seconds; negative leaves the context's value alone
};

template <int N>
constexpr TargetPreset MakeTarget(const char* name, NameMatch match, const TargetStep (&steps)[N], float muxPreload) {
  return {name, match, steps, N, muxPreload};
}

// Searched in order: "dvd" and "dv50" must be met before the "dv" prefix.
const TargetPreset kTargets[] = {
    // The VCD mux preload is 36000 + 3 x 1200 ticks of the 90 kHz system clock.
    MakeTarget("vcd", NameMatch::Exact, kVcdSteps, 0.44f),
    MakeTarget("svcd", NameMatch::Exact, kSvcdSteps, -1),
    MakeTarget("dvd", NameMatch::Exact, kDvdSteps, -1),
    MakeTarget("dv50", NameMatch::Exact, kDv50Steps, -1),
    MakeTarget("dv", NameMatch::Prefix, kDvSteps, -1),
};

struct NormPrefix {
  const char* Prefix;
  VideoNorm Norm;
};

const NormPrefix kNormPrefixes[] = {
    {"pal-", VideoNorm::Pal},
    {"ntsc-", VideoNorm::Ntsc},
    {"film-", VideoNorm::Film},
};

const char* NormRate(VideoNorm norm) {
  switch (norm) {
    case VideoNorm::Pal:
      return "25";
    case VideoNorm::Film:
      return "24000/1001";
    default:
      return "30000/1001";
  }
}

// The first video stream of the inputs opened so far whose codec time base stands for a PAL or
// NTSC rate decides; other rates say nothing.
VideoNorm GuessNormFromInputs(const TCustomFFmpegOpt& engine) {
  for (const auto& file : engine.InputFiles) {
    const AVFormatContext* ic = file->Context.get();
    if (ic == nullptr) continue;
    for (unsigned i = 0; i < ic->nb_streams; ++i) {
      const AVStream* st = ic->streams[i];
      if (st->codecpar->codec_type != AVMEDIA_TYPE_VIDEO) continue;
      AVRational timeBase = lib::av_stream_get_codec_timebase(st);
      // An input this process feeds itself is never probed, so the library knows no codec time
      // base for it; the frame rate its header gave stands in.
      if (timeBase.num <= 0 || timeBase.den <= 0) timeBase = AVRational{st->r_frame_rate.den, st->r_frame_rate.num};
      if (timeBase.num <= 0 || timeBase.den <= 0) continue;
      const long long rate = std::llround(static_cast<double>(timeBase.den) * 1000 / timeBase.num);
      if (rate == 25000) return VideoNorm::Pal;
      if (rate == 29970 || rate == 23976) return VideoNorm::Ntsc;
    }
  }
  return VideoNorm::Unknown;
}

const TargetPreset* FindTarget(const std::string& name) {
  for (const TargetPreset& target : kTargets) {
    const std::size_t length = std::strlen(target.Name);
    const bool match = target.Match == NameMatch::Exact ? name == target.Name : name.compare(0, length, target.Name) == 0;
    if (match) return &target;
  }
  return nullptr;
}

}  // namespace

int TCustomFFmpegOpt::SetTarget(TOptionsContext* context, const char* /*key*/, const char* argument) {
  std::string name = argument != nullptr ? argument : "";
  VideoNorm norm = VideoNorm::Unknown;
  for (const NormPrefix& prefix : kNormPrefixes) {
    const std::size_t length = std::strlen(prefix.Prefix);
    if (name.compare(0, length, prefix.Prefix) == 0) {
      norm = prefix.Norm;
      name.erase(0, length);
      break;
    }
  }
  if (norm == VideoNorm::Unknown) {
    norm = GuessNormFromInputs(*this);
    if (norm == VideoNorm::Unknown) {
      Fail(
          "Could not determine norm (PAL/NTSC/NTSC-Film) for target.\r\n"
          "Please prefix target with \"pal-\", \"ntsc-\" or \"film-\",\r\n"
          "or set a framerate with \"-r xxx\".");
    }
    DefaultLogger().LogFmt(this, llInfo, "Assuming %s for target.", norm == VideoNorm::Pal ? "PAL" : "NTSC");
  }

  const TargetPreset* target = FindTarget(name);
  if (target == nullptr) {
    OptionErrorText() = FormatText("Unknown target: %s", name.c_str());
    DefaultLogger().Log(this, llError, OptionErrorText());
    return -22;
  }
  for (int i = 0; i < target->StepCount; ++i) {
    const TargetStep& step = target->Steps[i];
    const char* value = step.Pal == kNormRate ? NormRate(norm) : norm == VideoNorm::Pal ? step.Pal : step.Ntsc;
    switch (step.Kind) {
      case StepKind::Set: {
        const int result = ParseOption(*this, context, step.Key, value, OptionRows());
        if (result < 0) return result;
        break;
      }
      case StepKind::Codec:
        lib::av_dict_set(DictionaryRef(context->Group->CodecOptions), step.Key, value, 0);
        break;
      case StepKind::Format:
        lib::av_dict_set(DictionaryRef(context->Group->FormatOptions), step.Key, value, 0);
        break;
    }
  }
  if (target->MuxPreload >= 0) context->MuxPreload = target->MuxPreload;
  return 0;
}

}  // namespace lumivor
