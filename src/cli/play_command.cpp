#include "cli/play_command.h"

#include <poll.h>
#include <termios.h>
#include <unistd.h>

#include <atomic>
#include <chrono>
#include <csignal>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <optional>

#include "app/files/input_file.h"
#include "cli/arguments.h"
#include "media/components/ff_player.h"
#include "media/runtime/ff_load.h"
#include "media/runtime/main_thread.h"

namespace lumivor {
namespace {

constexpr const char* kUsage =
    "usage: lumivor play FILE [--volume 0-128] [--mute] [--no-video] [--paused]\n"
    "  plays FILE; with a terminal, space pauses and resumes and q stops\n";

struct PlayArguments {
  bool Help = false;
  std::string File;
  int Volume = 128;
  bool Mute = false;
  bool NoVideo = false;
  bool Paused = false;
};

constexpr cli::OptionRule kOptions[] = {
    {"--volume", cli::OptionKind::Value, "from 0 to 128"},
    {"--mute", cli::OptionKind::Flag},
    {"--no-video", cli::OptionKind::Flag},
    {"--paused", cli::OptionKind::Flag},
};

// Throws cli::CommandError for arguments that cannot be played; no FILE at all is nullopt, for
// which the usage alone is the answer.
std::optional<PlayArguments> Parse(const std::vector<std::string>& arguments) {
  cli::ParsedArguments given;
  try {
    given = cli::ParseArguments(arguments, kOptions);
  } catch (cli::ArgumentError& error) {
    // Quoted: play's unknown options have always been said this way.
    if (error.Problem == cli::ArgumentProblem::UnknownOption) error.Text = "unknown option \"" + error.Word + "\"";
    throw;
  }
  PlayArguments parsed;
  parsed.Help = given.Help;
  if (parsed.Help) return parsed;
  parsed.Mute = given.Has("--mute");
  parsed.NoVideo = given.Has("--no-video");
  parsed.Paused = given.Has("--paused");
  if (const std::string* text = given.Find("--volume")) {
    const std::optional<long long> volume = cli::WholeNumber(*text);
    if (!volume || *volume < 0 || *volume > 128) cli::fail("invalid volume \"" + *text + "\", expected 0 to 128");
    parsed.Volume = static_cast<int>(*volume);
  }
  if (given.Positionals.size() > 1) cli::fail_usage("one file at a time");
  if (given.Positionals.empty() || given.Positionals[0].empty()) return std::nullopt;
  parsed.File = given.Positionals[0];
  return parsed;
}

const char* StateName(TPlayState state) {
  switch (state) {
    case psPlay: return "play";
    case psPause: return "pause";
    case psResume: return "resume";
    case psStep: return "step";
    case psStop: return "stop";
    case psEnd: return "end";
  }
  return "?";
}

std::string TimeText(std::int64_t us) {
  if (us < 0) us = 0;
  char text[32];
  std::snprintf(text, sizeof text, "%02d:%02d:%02d.%03d", static_cast<int>(us / 3600000000),
                static_cast<int>(us / 60000000 % 60), static_cast<int>(us / 1000000 % 60),
                static_cast<int>(us / 1000 % 1000));
  return text;
}

std::atomic<bool> StopSignalled{false};
extern "C" void OnStopSignal(int) { StopSignalled = true; }

// SIGINT and SIGTERM stop playback instead of killing the process, for as long as this lives.
class StopSignals {
 public:
  StopSignals() {
    StopSignalled = false;
    struct sigaction action {};
    action.sa_handler = OnStopSignal;
    sigemptyset(&action.sa_mask);
    sigaction(SIGINT, &action, &oldInt_);
    sigaction(SIGTERM, &action, &oldTerm_);
  }
  ~StopSignals() {
    sigaction(SIGINT, &oldInt_, nullptr);
    sigaction(SIGTERM, &oldTerm_, nullptr);
  }

 private:
  struct sigaction oldInt_ {};
  struct sigaction oldTerm_ {};
};

// Single key presses without echo while a terminal is attached; restored on every exit path.
class RawTerminal {
 public:
  RawTerminal() {
    if (!isatty(STDIN_FILENO) || tcgetattr(STDIN_FILENO, &saved_) != 0) return;
    termios raw = saved_;
    raw.c_lflag &= static_cast<tcflag_t>(~(ICANON | ECHO));
    raw.c_cc[VMIN] = 0;
    raw.c_cc[VTIME] = 0;
    active_ = tcsetattr(STDIN_FILENO, TCSANOW, &raw) == 0;
  }
  ~RawTerminal() {
    if (active_) tcsetattr(STDIN_FILENO, TCSANOW, &saved_);
  }
  bool Active() const { return active_; }
  // The key pressed, or 0 when none is waiting.
  char Key() const {
    if (!active_) return 0;
    pollfd input{STDIN_FILENO, POLLIN, 0};
    char key = 0;
    if (poll(&input, 1, 0) > 0 && read(STDIN_FILENO, &key, 1) == 1) return key;
    return 0;
  }

 private:
  termios saved_{};
  bool active_ = false;
};

bool DisplayAvailable() {
  for (const char* name : {"DISPLAY", "WAYLAND_DISPLAY", "SDL_VIDEODRIVER"}) {
    const char* value = std::getenv(name);
    if (value != nullptr && *value != '\0') return true;
  }
  return false;
}

}  // namespace

int RunPlay(const std::vector<std::string>& arguments, std::ostream& out, std::ostream& err) {
  std::optional<PlayArguments> parsed;
  try {
    parsed = Parse(arguments);
  } catch (const cli::CommandError& error) {
    err << cli::CommandErrorText("play", error, kUsage);
    return cli::ExitUsage;
  }
  if (!parsed) {
    err << kUsage;
    return cli::ExitUsage;
  }
  if (parsed->Help) {
    out << kUsage;
    return 0;
  }
  // Checked before the player opens it: the library would wait in its open for a FIFO's writer,
  // on a thread that neither a stop nor a signal reaches, or read a device as if it were a file.
  if (std::string reason; !CheckInputFile(parsed->File, reason)) {
    err << "lumivor play: " << parsed->File << ": " << reason << '\n';
    return 1;
  }
  TFFPlayer player;
  if (!player.LoadLibraries(TFFLoader::Instance().LibraryPath(), true)) {
    err << "lumivor play: " << player.LastErrorText << '\n';
    return 1;
  }
  player.AudioVolume = parsed->Volume;
  player.Mute = parsed->Mute;
  player.DisableVideo = parsed->NoVideo;
  // Nowhere to show pictures: play the sound only rather than fail.
  player.DisableDisplay = !DisplayAvailable();

  const bool terminal = isatty(STDOUT_FILENO) != 0;
  std::int64_t duration = -1;
  bool positionShown = false;
  std::int64_t lastSecond = -1;
  bool endShown = false;
  auto endPositionLine = [&] {
    if (terminal && positionShown) out << '\n';
    positionShown = false;
  };
  player.OnFileOpen = [&](TCustomPlayer*, std::int64_t d, int, int, int&, int&) { duration = d; };
  player.OnState = [&](TCustomPlayer*, TPlayState state) {
    endPositionLine();
    out << "state: " << StateName(state) << std::endl;
    if (state == psEnd) endShown = true;
  };
  player.OnPosition = [&](TCustomPlayer*, std::int64_t position) {
    const std::string line =
        "position: " + TimeText(position) + (duration > 0 ? " / " + TimeText(duration) : std::string());
    if (terminal) {
      out << '\r' << line << std::flush;
      positionShown = true;
    } else if (position / 1000000 != lastSecond) {
      // A log or a pipe gets a line a second, not fifty.
      lastSecond = position / 1000000;
      out << line << std::endl;
    }
  };

  StopSignals signals;
  RawTerminal keys;
  if (!player.Open(parsed->File, 0, parsed->Paused)) {
    err << "lumivor play: " << player.LastErrorText << '\n';
    return 1;
  }
  using namespace std::chrono;
  std::optional<steady_clock::time_point> endSeen;
  for (;;) {
    WaitServing([] { return StopSignalled.load(); }, milliseconds(20));
    const char key = keys.Key();
    if (key == ' ') player.TogglePause();
    if (StopSignalled || key == 'q' || key == 'Q') break;
    const TPlayState state = player.PlayerState();
    if (state == psStop) break;
    if (state == psEnd) {
      // Let the end be told before the stop that follows it.
      if (!endSeen) endSeen = steady_clock::now();
      if (endShown || steady_clock::now() - *endSeen > milliseconds(500)) break;
    }
  }
  player.Stop(true);
  WaitServing([&] { return !player.EventThreadRunning(); }, seconds(2));
  endPositionLine();
  out.flush();
  return 0;
}

}  // namespace lumivor
