#include "cli/number_option.h"

#include <fmt/core.h>

#include <CLI/CLI.hpp>
#include <charconv>
#include <cmath>

namespace kestrun {
namespace {

// from_chars over the whole text, or false; it never accepts a '+', spaces or
// hex, so "0x10" and " 5" are refused like any other junk.
template <typename Number>
bool ParseAll(std::string_view text, Number& value) {
    const char* end = text.data() + text.size();
    const auto [stop, error] = std::from_chars(text.data(), end, value);
    return !text.empty() && error == std::errc() && stop == end;
}

}  // namespace

std::int64_t WholeNumberOption(std::string_view name, std::string_view text, std::int64_t low,
                               std::int64_t high) {
    std::int64_t value = 0;
    if (!ParseAll(text, value) || value < low || value > high) {
        throw CLI::ValidationError(
            fmt::format("{} must be a whole number from {} to {}", name, low, high));
    }
    return value;
}

double NumberOption(std::string_view name, std::string_view text, double low, double high) {
    double value = 0;
    if (!ParseAll(text, value) || !std::isfinite(value) || value < low || value > high) {
        throw CLI::ValidationError(
            fmt::format("{} must be a number from {} to {}", name, low, high));
    }
    return value;
}

}  // namespace kestrun
