// The transitions a command line names with --effects: numbers and ranges, read the same way by
// every command that takes them.
#pragma once

#include <string_view>
#include <vector>

namespace lumivor::cli {

// "1-57,119,150-153": each number or range from 1 to EffectCount, in the order given, a range
// counted upwards, repeats kept. Anything else fails (CommandError) naming the item.
std::vector<int> ParseEffectNumbers(std::string_view text);

}  // namespace lumivor::cli
