#pragma once
// One datagram of FlightGear's generic-protocol input as the shipped
// kestrun-replay.xml reads it: a single ASCII line of seven comma-separated
// numbers, ended by a newline.
//
//   field  FlightGear property        unit
//   0      /position/latitude-deg     degrees, north positive
//   1      /position/longitude-deg    degrees, east positive
//   2      /position/altitude-ft      feet above mean sea level
//   3      /orientation/pitch-deg     degrees, positive nose up
//   4      /orientation/roll-deg      degrees, positive right wing down
//   5      /orientation/heading-deg   degrees true
//   6      /velocities/airspeed-kt    knots
//
// Each number is the shortest text that reads back as the same double, so
// nothing is rounded below the record's own resolution.

#include <string>

#include "playback/flight_track.h"

namespace kestrun {

// Replaces `out` with the datagram for `state`.
void FormatReplayDatagram(const PlaybackState& state, std::string& out);

}  // namespace kestrun
