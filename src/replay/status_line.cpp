#include "replay/status_line.h"

#include <fmt/format.h>

#include "playback/clock_text.h"

namespace kestrun {

std::string StatusLine(const PlaybackState& state, const PlaybackClock& clock, double play) {
    return fmt::format("{}  {}/{}  x{:g}  {:.0f} ft  {:.0f} kt{}",
                       FormatClockTime(state.clock_seconds), FormatPlayTime(play - clock.begin()),
                       FormatPlayTime(clock.end() - clock.begin()), clock.speed(),
                       state.sample.altitude_m / kMetresPerFoot, state.sample.airspeed_kt,
                       clock.paused() ? "  paused" : "");
}

}  // namespace kestrun
