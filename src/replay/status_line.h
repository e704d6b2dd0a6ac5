#pragma once
// The one line a replay on a terminal keeps up to date.

#include <string>

#include "playback/flight_track.h"
#include "playback/playback_clock.h"

namespace kestrun {

// "10:23:45  0:05:12/0:42:00  x2  1234 ft  95 kt", and "  paused" when it
// is: the clock in the file, the time played of the whole, the speed, the
// altitude and the airspeed.
std::string StatusLine(const PlaybackState& state, const PlaybackClock& clock, double play);

}  // namespace kestrun
