// The words after a sub-command's name, read by one set of rules for every command: options with
// a value ("--hold 3" or "--hold=3"), flags, options that may be given again, positional words,
// and "--", after which every word is positional. --help and -h are known to every command.
#pragma once

#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

namespace lumivor::cli {

// The exit status of every sub-command whose arguments are wrong; their --help texts say it.
inline constexpr int ExitUsage = 2;

// Wrong arguments, found while they are read and before anything is changed.
struct CommandError {
  std::string Text;
  // What was typed cannot be read as the command's arguments: the report says where the usage is.
  bool ShowUsageHint = false;
};

[[noreturn]] inline void fail(std::string text) { throw CommandError{std::move(text)}; }
[[noreturn]] inline void fail_usage(std::string text) { throw CommandError{std::move(text), true}; }

enum class ArgumentProblem { UnknownOption, MissingValue, ValueForFlag, GivenTwice };

// A word the rules cannot place; Word is the option as typed (without an "=VALUE").
struct ArgumentError : CommandError {
  ArgumentProblem Problem = ArgumentProblem::UnknownOption;
  std::string Word;
};

enum class OptionKind {
  Flag,      // no value, at most once
  Value,     // one value, at most once
  Repeated,  // one value each time, as often as wanted, kept in order
};

struct OptionRule {
  std::string_view Name;  // "--hold", "-o"
  OptionKind Kind = OptionKind::Flag;
  // Said after "NAME needs a value" when the value is missing ("from 0 to 128").
  std::string_view ValueHint = {};
};

struct ParsedArguments {
  struct Option {
    std::string Name;   // the rule's name
    std::string Value;  // empty for a flag
  };
  bool Help = false;
  std::vector<Option> Options;  // in the order given; --help is not among them
  std::vector<std::string> Positionals;
  // Where each positional word stood among the words read, from 0: messages about one of them can
  // say which argument it was, even when it is empty.
  std::vector<std::size_t> PositionalAt;

  bool Has(std::string_view name) const;
  // The value of an option given once, nullptr when it was not given.
  const std::string* Find(std::string_view name) const;
  // Every value of an option, in the order given.
  std::vector<std::string> All(std::string_view name) const;
};

// Reads words by the rules. A value is the next word whatever it starts with ("-ss 2" for an
// option text, "-1" to be refused as a number later), so that a value is never mistaken for an
// option. A word of a dash and a digit ("-3") is positional, and so are "-" and the empty word.
// Throws ArgumentError for the first word that cannot be read, unless --help or -h was given
// somewhere among the options: then Help is set and the rest does not matter.
ParsedArguments ParseArguments(const std::vector<std::string>& words, std::span<const OptionRule> rules);

// Plain decimal digits with an optional leading minus: no "+", spaces, hex, fraction or unit.
std::optional<long long> WholeNumber(std::string_view text);

// text as a whole number from low to high; anything else fails with a text naming the option.
long long NumberInRange(std::string_view option, std::string_view text, long long low, long long high);

// "lumivor COMMAND: TEXT", and for an error about what was typed the usage hint: the usage lines
// below when usage is given, else " (lumivor COMMAND --help shows the arguments)" on the same line.
std::string CommandErrorText(std::string_view command, const CommandError& error, std::string_view usage = {});

// CommandErrorText on stderr, its control characters escaped when stderr is a terminal; returns
// ExitUsage.
int ReportCommandError(std::string_view command, const CommandError& error, std::string_view usage = {});

}  // namespace lumivor::cli
