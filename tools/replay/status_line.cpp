#include "status_line.h"

#include <fmt/format.h>

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

std::string StatusLine(const PlaybackState& state, const PlaybackClock& clock, double play) {
    return fmt::format("{}  {}/{}  x{:g}  {:.0f} ft  {:.0f} kt{}",
                       FormatClockTime(state.clock_seconds), FormatPlayTime(play - clock.begin()),
                       FormatPlayTime(clock.end() - clock.begin()), clock.speed(),
                       state.sample.altitude_m / kMetresPerFoot, state.sample.airspeed_kt,
                       clock.paused() ? "  paused" : "");
}

}  // namespace kestrun
