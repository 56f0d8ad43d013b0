#include "cli/convert_command.h"

#include <strings.h>
#include <unistd.h>

#include <atomic>
#include <chrono>
#include <cstdio>
#include <cstring>
#include <exception>
#include <iostream>
#include <optional>
#include <string>

#include "cli/console.h"
#include "media/engine/error_text.h"
#include "media/engine/ffmpeg.h"
#include "media/runtime/ff_load.h"
#include "media/runtime/ff_log.h"
#include "media/runtime/format_text.h"
#include "media/runtime/main_thread.h"

namespace lumivor::cli {

namespace {

constexpr const char* Usage =
    "usage: lumivor convert [--in-options TEXT] -i INPUT ... [--out-options TEXT] -o OUTPUT [--join]\n"
    "                       [--presets TEXT] [--log-level LEVEL]\n"
    "\n"
    "  --in-options TEXT   input options in FFmpeg style (\"-ss 2 -f wav\"), for the -i that follows\n"
    "  -i INPUT            an input file; give -i once per input\n"
    "  --out-options TEXT  output options in FFmpeg style (\"-c:v mpeg4 -q:v 5 -c:a aac\")\n"
    "  -o OUTPUT           the output file\n"
    "  --join              play the inputs one after another into the output\n"
    "  --presets TEXT      key=value preset lines for the output, \"<CRLF>\" between lines\n"
    "  --log-level LEVEL   quiet, panic, fatal, error, warning, info (the default), verbose or debug\n"
    "\n"
    "Ctrl-C stops the conversion; the output is still closed properly. Exit status: 0 finished,\n"
    "1 failed, 130 stopped, 2 wrong arguments.\n";

struct Input {
  std::string Options;
  std::string FileName;
};

struct Arguments {
  bool Help = false;
  std::vector<Input> Inputs;
  std::string OutputOptions;
  std::optional<std::string> Output;
  bool Join = false;
  std::string Presets;
  TLogLevel LogLevel = llInfo;
};

TLogLevel parse_log_level(const std::string& text) {
  for (int level = llQuiet; level <= llDebug; ++level) {
    if (strcasecmp(text.c_str(), LogLevelNames[level]) == 0) return static_cast<TLogLevel>(level);
  }
  fail("unknown --log-level \"" + text + "\" (quiet, panic, fatal, error, warning, info, verbose or debug)");
}

Arguments parse_arguments(const std::vector<std::string>& words) {
  Arguments parsed;
  std::optional<std::string> pendingInputOptions;
  bool outputOptionsGiven = false;
  bool presetsGiven = false;
  bool logLevelGiven = false;
  for (std::size_t i = 0; i < words.size(); ++i) {
    const std::string& word = words[i];
    if (word == "--help" || word == "-h") {
      parsed.Help = true;
      continue;
    }
    if (word == "--join") {
      parsed.Join = true;
      continue;
    }
    const bool valued = word == "--in-options" || word == "-i" || word == "--out-options" || word == "-o" ||
                        word == "--presets" || word == "--log-level";
    if (!valued) fail(word.rfind('-', 0) == 0 ? "unknown option " + word : "unexpected \"" + word + "\"");
    if (i + 1 >= words.size()) fail(word + " needs a value");
    const std::string& value = words[++i];
    if (word == "--in-options") {
      if (pendingInputOptions) fail("--in-options is given twice before one -i");
      pendingInputOptions = value;
    } else if (word == "-i") {
      parsed.Inputs.push_back({pendingInputOptions.value_or(""), value});
      pendingInputOptions.reset();
    } else if (word == "-o") {
      if (parsed.Output) fail("-o is given twice (one output per conversion)");
      parsed.Output = value;
    } else {
      bool& given = word == "--out-options" ? outputOptionsGiven : word == "--presets" ? presetsGiven : logLevelGiven;
      if (given) fail(word + " is given twice");
      given = true;
      if (word == "--out-options") parsed.OutputOptions = value;
      if (word == "--presets") parsed.Presets = value;
      if (word == "--log-level") parsed.LogLevel = parse_log_level(value);
    }
  }
  if (parsed.Help) return parsed;
  if (pendingInputOptions) fail("--in-options must be followed by the -i it applies to");
  if (parsed.Inputs.empty()) fail("missing -i INPUT (lumivor convert --help shows the arguments)");
  if (!parsed.Output) fail("missing -o OUTPUT (lumivor convert --help shows the arguments)");
  return parsed;
}

std::string progress_bar(const TProgressInfo& info) {
  constexpr int Width = 30;
  std::string text;
  if (info.TotalDuration > 0) {
    std::int64_t percent = info.CurrentDuration * 100 / info.TotalDuration;
    percent = percent < 0 ? 0 : percent > 100 ? 100 : percent;
    const int filled = static_cast<int>(percent * Width / 100);
    text = "[" + std::string(filled, '#') + std::string(Width - filled, '.') + "] " +
           FormatText("%3d%%", static_cast<int>(percent));
  } else {
    const std::int64_t seconds = info.CurrentDuration / 1000000;
    text = FormatText("time=%02d:%02d:%02d", static_cast<int>(seconds / 3600), static_cast<int>(seconds / 60 % 60),
                      static_cast<int>(seconds % 60));
  }
  if (info.FrameNumber >= 0) text += FormatText(" frame=%5d fps=%3d", info.FrameNumber, info.FPS < 0 ? 0 : info.FPS);
  text += FormatText(" size=%8lldkB", static_cast<long long>(info.CurrentSize / 1024));
  return text;
}

// ------------------------------------------------------------------ the task

std::string failure_text(const TCustomFFmpeg& engine, int code, const std::string& fileName) {
  if (!engine.LastErrMsg.empty()) return engine.LastErrMsg;
  if (!OptionErrorText().empty()) return OptionErrorText();
  return ErrorText(fileName, code);
}

int convert(const Arguments& parsed) {
  Terminal terminal;
  TFFLoader& loader = TFFLoader::Instance();
  if (!loader.Load(EncoderLibraries)) {
    terminal.Line("lumivor convert: " + loader.LastError());
    return ExitFailed;
  }

  const LogToTerminal logToTerminal(terminal, parsed.LogLevel);

  int status = ExitFinished;
  {
    TCustomFFmpeg engine;
    std::atomic<bool> ended{false};
    engine.OnTerminate = [&ended](TCustomFFmpeg*) { ended = true; };
    engine.OnProgress = [&terminal](TCustomFFmpeg*, std::int32_t, const TProgressInfo& info) {
      terminal.Bar(progress_bar(info));
    };

    std::string setupError;
    try {
      for (const Input& input : parsed.Inputs) {
        OptionsContextScope scope(engine);
        OptionErrorText().clear();
        const int result = engine.OpenInputFile(scope.Context(), input.Options, input.FileName, std::string());
        if (result < 0) {
          setupError = failure_text(engine, result, input.FileName);
          break;
        }
      }
      if (setupError.empty()) {
        OptionsContextScope scope(engine);
        OptionErrorText().clear();
        const int result =
            engine.OpenOutputFile(scope.Context(), parsed.OutputOptions, parsed.Join, *parsed.Output, parsed.Presets);
        if (result < 0) setupError = failure_text(engine, result, *parsed.Output);
      }
    } catch (const std::exception& error) {
      setupError = error.what();
    }
    if (!setupError.empty()) {
      terminal.Line("lumivor convert: " + setupError);
      return ExitFailed;
    }

    InterruptHandler interrupts;
    TConvertThread* worker = engine.Start(true);
    if (worker != nullptr) worker->Resume();
    bool stopAsked = false;
    // The main thread serves the calls the worker hands it while it waits for the end.
    while (!ended.load()) {
      WaitServing([&ended] { return ended.load() || InterruptHandler::Interrupted(); }, std::chrono::milliseconds(100));
      if (InterruptHandler::Interrupted() && !stopAsked) {
        stopAsked = true;
        terminal.Line("Stopping: the output is being closed (Ctrl-C again ends at once)");
        engine.Stop(false);
      }
    }
    engine.Stop(true);
    terminal.EndBar();

    if (parsed.LogLevel < llInfo && !engine.LastStatusLine().empty()) terminal.Line(engine.LastStatusLine());
    if (engine.Exception) {
      terminal.Line("lumivor convert: " + engine.ExceptionMsg);
      status = ExitFailed;
    } else if (!engine.Finished) {
      status = ExitStopped;
    }
  }
  if (terminal.Failed() && status == ExitFinished) status = ExitFailed;
  return status;
}

}  // namespace

int RunConvertCommand(const std::vector<std::string>& arguments) {
  try {
    const Arguments parsed = parse_arguments(arguments);
    if (parsed.Help) {
      // The front end reports standard output that could not be written.
      std::cout << Usage;
      return ExitFinished;
    }
    return convert(parsed);
  } catch (const CommandError& error) {
    return ReportCommandError("convert", error);
  }
}

}  // namespace lumivor::cli
