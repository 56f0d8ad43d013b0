// Splits arbitrary bytes as an option text, sorts the words against a small table shaped like the
// engine's (library option routing live) and applies both groups, in strict and lenient mode
// alternately. Conversion errors are raised by design and caught here; any crash, other exception,
// sanitizer report or leak is a finding.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string>

#include "media/engine/ff_options.h"
#include "media/engine/ffmpeg_exception.h"
#include "media/runtime/ff_load.h"
#include "media/runtime/ff_log.h"

namespace {

using namespace lumivor;

struct FuzzContext {
  std::string Format;
  SpecifierList CodecNames;
  std::int32_t AudioDisable = 0;
  std::int64_t RecordingTime = 0;
  std::int64_t LimitFileSize = 0;
  SpecifierList QScale;
  SpecifierList SampleRates;
  float MuxDelay = 0;
};

struct FuzzHost : OptionHost {
  bool StrictMode() const override { return Strict; }
  void SetLastErrMsg(const std::string& text) override { LastErrMsg = text; }
  TFFOptions& OptionParser() override { return Parser; }
  const TOptionDef* OptionRows() const override;
  bool Strict = true;
  std::string LastErrMsg;
  TFFOptions Parser;
};

std::int32_t gFileOverwrite = 0;

int NoOperation(OptionHost&, void*, const char*, const char*) { return 0; }
int VideoCodec(OptionHost& host, void* context, const char*, const char* argument) {
  return ParseOption(host, context, "codec:v", argument, host.OptionRows());
}

const TOptionDef kRows[] = {
    {"loglevel", ofHasArg, OptionTarget::Call(&NoOperation), "set logging level", "loglevel"},
    {"v", ofHasArg, OptionTarget::Call(&NoOperation), "set logging level", "loglevel"},
    {"f", 0x4009, OptionTarget::AtOffset(offsetof(FuzzContext, Format)), "force format", "fmt"},
    {"y", ofBool, OptionTarget::AtAddress(&gFileOverwrite), "overwrite output files", nullptr},
    {"c", 0x8009, OptionTarget::AtOffset(offsetof(FuzzContext, CodecNames)), "codec name", "codec"},
    {"codec", 0x8009, OptionTarget::AtOffset(offsetof(FuzzContext, CodecNames)), "codec name", "codec"},
    {"an", 0x4022, OptionTarget::AtOffset(offsetof(FuzzContext, AudioDisable)), "disable audio", nullptr},
    {"map", 0x2005, OptionTarget::Call(&NoOperation), "set input stream mapping", "map"},
    {"t", 0x14001, OptionTarget::AtOffset(offsetof(FuzzContext, RecordingTime)), "duration", "duration"},
    {"fs", 0x4401, OptionTarget::AtOffset(offsetof(FuzzContext, LimitFileSize)), "size limit", "limit"},
    {"q", 0x28005, OptionTarget::AtOffset(offsetof(FuzzContext, QScale)), "quality", "q"},
    {"ar", 0x80a1, OptionTarget::AtOffset(offsetof(FuzzContext, SampleRates)), "sample rate", "rate"},
    {"muxdelay", 0x4105, OptionTarget::AtOffset(offsetof(FuzzContext, MuxDelay)), "delay", "seconds"},
    {"vcodec", 0x2011, OptionTarget::Call(&VideoCodec), "video codec", "codec"},
    {},
};

const TOptionDef* FuzzHost::OptionRows() const { return kRows; }

bool Setup() {
  TFFLoader& loader = TFFLoader::Instance();
  loader.SetLibraryPath("");
  if (!loader.Load(AllLibraries)) std::abort();
  // Nothing is delivered anywhere, so the log costs nothing but the formatting.
  DefaultLogger().SetLogLevel(llQuiet);
  return true;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  static const bool ready = Setup();
  (void)ready;
  if (size == 0) return 0;
  const bool strict = (data[0] & 1) != 0;
  const std::string text(reinterpret_cast<const char*>(data + 1), size - 1);

  const OptionWords words = SplitOptionText(text.c_str());
  for (int i = 0; i < words.Count(); ++i) {
    if (words[i] == nullptr) std::abort();  // the vector must be filled up to its count
  }
  if (words.Words()[words.Count()] != nullptr) std::abort();

  static FuzzHost host;
  host.Strict = strict;
  FuzzContext context;
  TFFOptions& parser = host.Parser;
  parser.ResetGroups();
  if (ParseOptionList(parser, words.Count(), words.Words(), strict, kRows) >= 0) {
    try {
      ApplyOptionGroup(host, nullptr, parser.GlobalGroup, "global");
      ApplyOptionGroup(host, &context, parser.FileGroup, "output file");
    } catch (const FFmpegException&) {
    }
  }
  parser.FreeGroups();
  return 0;
}
