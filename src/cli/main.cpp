// lumivor: the command-line front end. Each sub-command lives in its own file; this table is the
// only place that knows them all.
#include <csignal>
#include <exception>
#include <iostream>
#include <string>
#include <vector>

#include "cli/convert_command.h"
#include "cli/effect_command.h"
#include "cli/make_command.h"
#include "cli/play_command.h"
#include "cli/probe_command.h"
#include "cli/samples_command.h"
#include "cli/standard_output.h"

namespace {

struct Command {
  const char* Name;
  int (*Run)(const std::vector<std::string>& arguments);
  const char* Summary;
};

constexpr Command Commands[] = {
    {"convert", lumivor::cli::RunConvertCommand, "transcode media files: FFmpeg-style options, a progress bar, Ctrl-C stops"},
    {"make", lumivor::cli::RunMakeCommand, "render a slideshow video from photos and audio tracks"},
    {"effect", lumivor::cli::RunEffectCommand, "list transitions, compose a transition frame or a contact sheet"},
    {"play", [](const std::vector<std::string>& arguments) { return lumivor::RunPlay(arguments, std::cout, std::cerr); },
     "play a media file: its sound, and its pictures in a window"},
    {"probe",
     [](const std::vector<std::string>& arguments) {
       return lumivor::RunProbe(arguments, std::cout, std::cerr, lumivor::cli::IsTerminal(1),
                                lumivor::cli::IsTerminal(2));
     },
     "report the facts of media files: streams, durations, sizes"},
    {"samples", lumivor::cli::RunSamplesCommand, "write sample photos and an audio track to try make with"},
};

void print_usage(std::ostream& out) {
  out << "usage: lumivor COMMAND [ARGUMENTS]\n\ncommands:\n";
  for (const Command& command : Commands) out << "  " << command.Name << "\t" << command.Summary << "\n";
  out << "\n'lumivor COMMAND --help' describes a command's arguments.\n";
}

}  // namespace

int main(int argc, char** argv) {
  // A reader that goes away (a pipe into head) must not end the program without a word: writes
  // fail with EPIPE instead, and the failure is reported like a full disk.
  std::signal(SIGPIPE, SIG_IGN);
  // Likewise a file-size limit (ulimit -f): the write that crosses it fails with EFBIG and the run
  // reports it and removes its temporaries, instead of being killed with half-written files left.
  std::signal(SIGXFSZ, SIG_IGN);
  lumivor::cli::TakeOverStandardOutput();
  const std::string name = argc > 1 ? argv[1] : "";
  if (name == "--help" || name == "-h" || name == "help") {
    print_usage(std::cout);
    return lumivor::cli::FinishStandardOutput("") ? 0 : 1;
  }
  for (const Command& command : Commands) {
    if (name != command.Name) continue;
    int status = 2;
    try {
      status = command.Run(std::vector<std::string>(argv + 2, argv + argc));
    } catch (const std::exception& error) {
      std::cerr << "lumivor " << name << ": " << error.what() << '\n';
    }
    // Output that never arrived fails the command, whatever it thought of its own work.
    if (!lumivor::cli::FinishStandardOutput(name) && status == 0) status = 1;
    return status;
  }
  if (!name.empty()) std::cerr << "lumivor: unknown command \"" << name << "\"\n";
  print_usage(std::cerr);
  return 2;
}
