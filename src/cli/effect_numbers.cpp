#include "cli/effect_numbers.h"

#include <optional>
#include <string>

#include "cli/arguments.h"
#include "effects/effect.h"

namespace lumivor::cli {

namespace {

// Digits only: a sign would read "5--3" or "+5" as something the user did not write.
std::optional<int> effect_number(std::string_view text) {
  if (text.empty() || text.find_first_not_of("0123456789") != std::string_view::npos) return std::nullopt;
  const std::optional<long long> number = WholeNumber(text);
  if (!number || *number < 1 || *number > EffectCount) return std::nullopt;
  return static_cast<int>(*number);
}

}  // namespace

std::vector<int> ParseEffectNumbers(std::string_view text) {
  std::vector<int> effects;
  std::size_t start = 0;
  while (true) {
    const std::size_t comma = text.find(',', start);
    const std::string_view item =
        text.substr(start, comma == std::string_view::npos ? std::string_view::npos : comma - start);
    const std::size_t dash = item.find('-');
    const std::optional<int> first = effect_number(item.substr(0, dash));
    const std::optional<int> last = dash == std::string_view::npos ? first : effect_number(item.substr(dash + 1));
    if (!first || !last || *last < *first) {
      fail("bad --effects item \"" + std::string(item) + "\" (numbers or ranges from 1 to " +
           std::to_string(EffectCount) + ", like 1-57,119,150-153)");
    }
    for (int n = *first; n <= *last; ++n) effects.push_back(n);
    if (comma == std::string_view::npos) break;
    start = comma + 1;
  }
  return effects;
}

}  // namespace lumivor::cli
