#include "cli/arguments.h"

#include <unistd.h>

#include <charconv>
#include <cstdio>

#include "cli/standard_output.h"

namespace lumivor::cli {

namespace {

// Every command answers --help and -h; the rule's name is what "given twice" would say.
constexpr OptionRule HelpRule{"--help", OptionKind::Flag};

const OptionRule* find_rule(std::string_view name, std::span<const OptionRule> rules) {
  if (name == "--help" || name == "-h") return &HelpRule;
  for (const OptionRule& rule : rules)
    if (rule.Name == name) return &rule;
  return nullptr;
}

// A dash and a digit is a negative number or a name, never an option; "-" alone names standard
// input or a file, as the command makes of it.
bool is_option(const std::string& word) {
  return word.size() > 1 && word[0] == '-' && !(word[1] >= '0' && word[1] <= '9');
}

ArgumentError argument_error(ArgumentProblem problem, std::string word, std::string text) {
  ArgumentError error;
  error.Text = std::move(text);
  error.ShowUsageHint = true;
  error.Problem = problem;
  error.Word = std::move(word);
  return error;
}

}  // namespace

bool ParsedArguments::Has(std::string_view name) const {
  for (const Option& option : Options)
    if (option.Name == name) return true;
  return false;
}

const std::string* ParsedArguments::Find(std::string_view name) const {
  for (const Option& option : Options)
    if (option.Name == name) return &option.Value;
  return nullptr;
}

std::vector<std::string> ParsedArguments::All(std::string_view name) const {
  std::vector<std::string> values;
  for (const Option& option : Options)
    if (option.Name == name) values.push_back(option.Value);
  return values;
}

ParsedArguments ParseArguments(const std::vector<std::string>& words, std::span<const OptionRule> rules) {
  ParsedArguments parsed;
  // The first problem is kept, not thrown, so that a --help later on the line still gets the
  // usage: someone who asks for it is usually fixing exactly such a line.
  std::optional<ArgumentError> problem;
  auto note = [&problem](ArgumentProblem kind, const std::string& word, std::string text) {
    if (!problem) problem = argument_error(kind, word, std::move(text));
  };
  bool optionsEnded = false;
  for (std::size_t i = 0; i < words.size(); ++i) {
    const std::string& word = words[i];
    if (optionsEnded || !is_option(word)) {
      parsed.Positionals.push_back(word);
      parsed.PositionalAt.push_back(i);
      continue;
    }
    if (word == "--") {
      optionsEnded = true;
      continue;
    }
    // "--name=value" for the long names only: a short name's "=" would be part of a value glued
    // to it, which no command takes.
    const std::size_t equals = word.rfind("--", 0) == 0 ? word.find('=') : std::string::npos;
    const std::string name = word.substr(0, equals);
    const OptionRule* rule = find_rule(name, rules);
    if (rule == nullptr) {
      note(ArgumentProblem::UnknownOption, name, "unknown option " + name);
      continue;
    }
    std::string value;
    if (rule->Kind == OptionKind::Flag) {
      if (equals != std::string::npos) {
        note(ArgumentProblem::ValueForFlag, name, name + " takes no value");
        continue;
      }
    } else if (equals != std::string::npos) {
      value = word.substr(equals + 1);
    } else if (i + 1 < words.size()) {
      value = words[++i];
    } else {
      note(ArgumentProblem::MissingValue, name,
           name + " needs a value" + (rule->ValueHint.empty() ? "" : " " + std::string(rule->ValueHint)));
      continue;
    }
    if (rule == &HelpRule) {
      parsed.Help = true;
      continue;
    }
    if (rule->Kind != OptionKind::Repeated && parsed.Has(rule->Name)) {
      note(ArgumentProblem::GivenTwice, name, name + " is given twice");
      continue;
    }
    parsed.Options.push_back({std::string(rule->Name), std::move(value)});
  }
  if (problem && !parsed.Help) throw *problem;
  return parsed;
}

std::optional<long long> WholeNumber(std::string_view text) {
  long long value = 0;
  const char* end = text.data() + text.size();
  const auto [stop, error] = std::from_chars(text.data(), end, value);
  if (text.empty() || error != std::errc() || stop != end) return std::nullopt;
  return value;
}

long long NumberInRange(std::string_view option, std::string_view text, long long low, long long high) {
  const std::optional<long long> value = WholeNumber(text);
  if (!value || *value < low || *value > high) {
    fail(std::string(option) + " wants a whole number from " + std::to_string(low) + " to " + std::to_string(high) +
         ", not \"" + std::string(text) + "\"");
  }
  return *value;
}

std::string CommandErrorText(std::string_view command, const CommandError& error, std::string_view usage) {
  std::string text = "lumivor " + std::string(command) + ": " + error.Text;
  if (error.ShowUsageHint && usage.empty()) {
    text += " (lumivor " + std::string(command) + " --help shows the arguments)";
  }
  text += "\n";
  if (error.ShowUsageHint) text += usage;
  return text;
}

int ReportCommandError(std::string_view command, const CommandError& error, std::string_view usage) {
  const std::string text = CommandErrorText(command, error, usage);
  std::fputs((IsTerminal(STDERR_FILENO) ? TerminalSafeText(text) : text).c_str(), stderr);
  return ExitUsage;
}

}  // namespace lumivor::cli
