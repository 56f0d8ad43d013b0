#include "media/engine/ffmpeg_opt.h"

#include <cerrno>
#include <cstdarg>

#include "media/engine/error_text.h"
#include "media/runtime/ff_log.h"
#include "media/runtime/format_text.h"

namespace lumivor {

// ------------------------------------------------------------------ records

void TInputFile::CloseInput() {
  if (!Context) return;
  if (InProcessFormat != nullptr && InProcessFormat->ReadClose != nullptr) InProcessFormat->ReadClose(Context.get());
  InProcessFormat = nullptr;
  Context.reset();
}

void TOutputFile::CloseOutput() {
  if (!Context) return;
  (void)CloseByteStream();
  Context.reset();
}

int TOutputFile::CloseByteStream() {
  if (!Context) return 0;
  AVFormatContext* context = Context.get();
  const bool ownsByteStream = context->oformat != nullptr && !(context->oformat->flags & AVFMT_NOFILE) &&
                              !(context->flags & AVFMT_FLAG_CUSTOM_IO);
  if (!ownsByteStream || context->pb == nullptr) return 0;
  // The close flushes as well but does not tell whether that write failed; the byte stream keeps
  // the first write error it met.
  lib::avio_flush(context->pb);
  const int flushed = context->pb->error;
  const int closed = lib::avio_closep(&context->pb);
  return flushed < 0 ? flushed : closed;
}

PrevSubtitle::PrevSubtitle() : Subtitle() {}

PrevSubtitle::~PrevSubtitle() {
  // A zero subtitle holds nothing, and the libraries need not be loaded to drop it.
  if (Subtitle.num_rects != 0 || Subtitle.rects != nullptr) lib::avsubtitle_free(&Subtitle);
}

// ------------------------------------------------------------------ the engine

TCustomFFmpegOpt::TCustomFFmpegOpt() {
  ReadInterrupt.callback = &ReadInterruptCallback;
  ReadInterrupt.opaque = this;
  WriteInterrupt.callback = &WriteInterruptCallback;
  WriteInterrupt.opaque = this;
}

TCustomFFmpegOpt::~TCustomFFmpegOpt() = default;

void TCustomFFmpegOpt::InitOptionsContext(TOptionsContext& o) {
  o = TOptionsContext();
  Options.ResetGroups();
  o.Group = &Options.FileGroup;
}

void TCustomFFmpegOpt::ReleaseOptionsContext(TOptionsContext& o) {
  // Every list, text and array of the context is an owner; a fresh value frees them all.
  o = TOptionsContext();
  Options.FreeGroups();
}

const std::string* TCustomFFmpegOpt::MatchPerType(const TOptionsContext& /*o*/, const SpecifierList& list,
                                                  char letter) const {
  const std::string* result = nullptr;
  for (const TSpecifierOpt& element : list) {
    if (element.Specifier.size() == 1 && element.Specifier[0] == letter) result = &element.Value.Str;
  }
  return result;
}

void FailStreamSpecifier(TCustomFFmpegOpt& engine, int code) { engine.Fail(ErrorText("check_stream_specifier", code)); }

void TCustomFFmpegOpt::Fail(const std::string& text) {
  LastErrMsg = text;
  DefaultLogger().Log(this, llFatal, text);
  throw FFmpegException(text);
}

void TCustomFFmpegOpt::FailFmt(const char* format, ...) {
  va_list args;
  va_start(args, format);
  std::string text = FormatTextV(format, args);
  va_end(args);
  Fail(text);
}

void TCustomFFmpegOpt::CheckUnusedOptions(const AVDictionary* options) {
  const AVDictionaryEntry* entry = lib::av_dict_get(options, "", nullptr, AV_DICT_IGNORE_SUFFIX);
  if (entry == nullptr) return;
  if (StrictOptions) FailFmt("Option %s not found.", entry->key);
  LastErrMsg = FormatText("Option %s not found.", entry->key);
}

void TCustomFFmpegOpt::AbortCodecExperimental(const AVCodec* /*codec*/, bool /*encoder*/) {
  Fail("abort codec experimental");
}

void TCustomFFmpegOpt::RequestStop() {
  StopRequested.store(true);
  PauseGate.Stop();
}

}  // namespace lumivor
