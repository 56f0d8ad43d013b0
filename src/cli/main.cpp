// lumivor: the command-line front end. Each sub-command lives in its own file; this table is the
// only place that knows them all.
#include <exception>
#include <iostream>
#include <string>
#include <vector>

#include "cli/effect_command.h"
#include "cli/play_command.h"
#include "cli/probe_command.h"

namespace {

struct Command {
  const char* Name;
  int (*Run)(const std::vector<std::string>& arguments);
  const char* Summary;
};

constexpr Command Commands[] = {
    {"effect", lumivor::cli::RunEffectCommand, "list transitions, compose a transition frame or a contact sheet"},
    {"play", [](const std::vector<std::string>& arguments) { return lumivor::RunPlay(arguments, std::cout, std::cerr); },
     "play a media file: its sound, and its pictures in a window"},
    {"probe", [](const std::vector<std::string>& files) { return lumivor::RunProbe(files, std::cout, std::cerr); },
     "report the facts of media files: streams, durations, sizes"},
};

void print_usage(std::ostream& out) {
  out << "usage: lumivor COMMAND [ARGUMENTS]\n\ncommands:\n";
  for (const Command& command : Commands) out << "  " << command.Name << "\t" << command.Summary << "\n";
  out << "\n'lumivor COMMAND --help' describes a command's arguments.\n";
}

}  // namespace

int main(int argc, char** argv) {
  const std::string name = argc > 1 ? argv[1] : "";
  if (name == "--help" || name == "-h" || name == "help") {
    print_usage(std::cout);
    return 0;
  }
  for (const Command& command : Commands) {
    if (name != command.Name) continue;
    try {
      return command.Run(std::vector<std::string>(argv + 2, argv + argc));
    } catch (const std::exception& error) {
      std::cerr << "lumivor " << name << ": " << error.what() << '\n';
      return 2;
    }
  }
  if (!name.empty()) std::cerr << "lumivor: unknown command \"" << name << "\"\n";
  print_usage(std::cerr);
  return 2;
}
