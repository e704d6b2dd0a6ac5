#pragma once
// Numeric option values, checked after parsing so that a refusal names the
// option and its range in words, e.g. "--seconds must be a whole number from
// 1 to 31536000", instead of the parser's raw limits.

#include <cstdint>
#include <string_view>

namespace kestrun {

// `text` as a whole number from `low` to `high`: decimal digits only, with a
// leading '-' when `low` is negative. Throws CLI::ValidationError reading
// "<name> must be a whole number from <low> to <high>" otherwise.
std::int64_t WholeNumberOption(std::string_view name, std::string_view text, std::int64_t low,
                               std::int64_t high);

// `text` as a finite decimal number from `low` to `high`. Throws
// CLI::ValidationError reading "<name> must be a number from <low> to <high>".
double NumberOption(std::string_view name, std::string_view text, double low, double high);

}  // namespace kestrun
