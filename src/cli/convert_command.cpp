#include "cli/convert_command.h"

#include <strings.h>
#include <sys/stat.h>
#include <unistd.h>

#include <atomic>
#include <chrono>
#include <cstdio>
#include <cstring>
#include <exception>
#include <iostream>
#include <optional>
#include <string>

#include "app/files/output_file.h"
#include "cli/arguments.h"
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
    "The output is replaced only once complete, and never when it is one of the inputs. Ctrl-C (or\n"
    "SIGTERM, SIGHUP) stops the conversion; the output is still closed properly, beside an OUTPUT\n"
    "that was there as NAME (stopped).EXT. A second one ends at once and removes the unfinished\n"
    "output. Exit status: 0 finished, 1 failed, 130 stopped, 2 wrong arguments.\n";

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

constexpr OptionRule Options[] = {
    {"--in-options", OptionKind::Repeated}, {"-i", OptionKind::Repeated},     {"--out-options", OptionKind::Value},
    {"-o", OptionKind::Value},              {"--join", OptionKind::Flag},     {"--presets", OptionKind::Value},
    {"--log-level", OptionKind::Value},
};

Arguments parse_arguments(const std::vector<std::string>& words) {
  const ParsedArguments given = ParseArguments(words, Options);
  Arguments parsed;
  parsed.Help = given.Help;
  if (parsed.Help) return parsed;
  if (!given.Positionals.empty()) fail_usage("unexpected \"" + given.Positionals.front() + "\"");
  // Input options belong to the -i that follows them, so the order of the two matters.
  std::optional<std::string> pendingInputOptions;
  for (const ParsedArguments::Option& option : given.Options) {
    if (option.Name == "--in-options") {
      if (pendingInputOptions) fail_usage("--in-options is given twice before one -i");
      pendingInputOptions = option.Value;
    } else if (option.Name == "-i") {
      parsed.Inputs.push_back({pendingInputOptions.value_or(""), option.Value});
      pendingInputOptions.reset();
    } else if (option.Name == "-o") {
      parsed.Output = option.Value;
    } else if (option.Name == "--out-options") {
      parsed.OutputOptions = option.Value;
    } else if (option.Name == "--presets") {
      parsed.Presets = option.Value;
    } else if (option.Name == "--log-level") {
      parsed.LogLevel = parse_log_level(option.Value);
    } else if (option.Name == "--join") {
      parsed.Join = true;
    }
  }
  if (pendingInputOptions) fail_usage("--in-options must be followed by the -i it applies to");
  if (parsed.Inputs.empty()) fail_usage("missing -i INPUT");
  if (!parsed.Output) fail_usage("missing -o OUTPUT");
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

// ------------------------------------------------------------------ the output

// A name the media library would read as a protocol (udp:, pipe:, file:) or standard output.
bool names_a_protocol(const std::string& name) {
  const std::size_t scheme =
      std::strspn(name.c_str(), "abcdefghijklmnopqrstuvwxyzABCDEFGHIJKLMNOPQRSTUVWXYZ0123456789+-.");
  return name == "-" || (scheme > 0 && scheme < name.size() && name[scheme] == ':');
}

// A regular file, or a new name, is written through OutputFile: replaced only once complete. A
// protocol's URL, a FIFO or a device (/dev/null for a test run) is the engine's to open as before.
bool written_whole(const std::string& output) {
  if (names_a_protocol(output)) return false;
  struct stat info {};
  return ::stat(output.c_str(), &info) != 0 || S_ISREG(info.st_mode);
}

// Converting a file into itself truncates the input before it is read: refused, by the file's
// identity, so that another name of it (a link, "./x", a hard link) is caught too.
void refuse_own_input(const Arguments& parsed) {
  struct stat output {};
  if (::stat(parsed.Output->c_str(), &output) != 0 || !S_ISREG(output.st_mode)) return;
  for (const Input& input : parsed.Inputs) {
    struct stat info {};
    if (::stat(input.FileName.c_str(), &info) != 0) continue;
    if (info.st_dev == output.st_dev && info.st_ino == output.st_ino) {
      fail("-o \"" + *parsed.Output + "\" is the input \"" + input.FileName +
           "\": a file cannot be converted into itself");
    }
  }
}

// ------------------------------------------------------------------ the task

std::string failure_text(const TCustomFFmpeg& engine, int code, const std::string& fileName) {
  if (!engine.LastErrMsg.empty()) return engine.LastErrMsg;
  if (!OptionErrorText().empty()) return OptionErrorText();
  return ErrorText(fileName, code);
}

int convert(const Arguments& parsed) {
  refuse_own_input(parsed);
  Terminal terminal;
  OutputFile file;
  std::string engineOutput = *parsed.Output;
  if (written_whole(*parsed.Output)) {
    std::string errorText;
    if (!file.Open(*parsed.Output, errorText, {.KeepExtension = true, .ReplaceLinks = false})) {
      terminal.Line("lumivor convert: " + errorText);
      return ExitFailed;
    }
    // The temporary's own name may hold a ":"; a folder in front keeps it a file for the library.
    engineOutput = file.TemporaryName().find('/') == std::string::npos ? "./" + file.TemporaryName()
                                                                        : file.TemporaryName();
  }
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
            engine.OpenOutputFile(scope.Context(), parsed.OutputOptions, parsed.Join, engineOutput, parsed.Presets);
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
    } else if (!engine.Finished && !stopAsked) {
      // An end that nobody asked for is a failure, whatever the engine could say about it: the
      // output is not what it should be.
      const std::string reason = !engine.ExceptionMsg.empty() ? engine.ExceptionMsg
                                 : !engine.LastErrMsg.empty() ? engine.LastErrMsg
                                                              : std::string("the conversion did not finish");
      terminal.Line("lumivor convert: " + reason);
      status = ExitFailed;
    } else if (!engine.Finished) {
      status = ExitStopped;
    }
  }
  if (file.IsOpen()) {
    std::string errorText, stoppedName;
    if (status == ExitFailed) {
      file.Discard();
    } else if (status == ExitStopped && file.ReplacesExistingFile()) {
      // Part of the input is not what the user asked for: the file that was there stays, and the
      // part goes beside it under a name of its own.
      if (!file.CommitBeside("stopped", stoppedName, errorText)) {
        terminal.Line("lumivor convert: " + errorText);
        return ExitFailed;
      }
      terminal.Line("lumivor convert: the stopped output is " + stoppedName + "; " + *parsed.Output +
                    " was kept as it was");
    } else if (!file.Commit(errorText)) {
      terminal.Line("lumivor convert: " + errorText);
      return ExitFailed;
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
