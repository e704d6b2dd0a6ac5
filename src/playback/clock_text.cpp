#include "playback/clock_text.h"

#include <fmt/format.h>

#include <algorithm>
#include <cmath>

#include "recordfile/civil_date.h"

namespace kestrun {

std::string FormatPlayTime(double seconds) {
    const auto whole = static_cast<long long>(std::floor(std::max(0.0, seconds)));
    return fmt::format("{}:{:02}:{:02}", whole / 3600, whole / 60 % 60, whole % 60);
}

std::string FormatClockTime(double clock_seconds) {
    auto whole = static_cast<long long>(std::floor(clock_seconds)) % kSecondsPerDay;
    if (whole < 0) whole += kSecondsPerDay;
    return fmt::format("{:02}:{:02}:{:02}", whole / 3600, whole / 60 % 60, whole % 60);
}

}  // namespace kestrun
