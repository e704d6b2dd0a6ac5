#pragma once
// Reading a record file into a FlightTrack for replay.

#include <cstdint>
#include <string>

#include "platform/status.h"
#include "playback/flight_track.h"
#include "recordfile/record_scanner.h"

namespace kestrun {

struct LoadedFlight {
    FlightTrack track;
    FlightTimeline timeline;
    ScanCounts scan;
    std::int64_t modified = 0;  // the file's modification time, seconds since the epoch
};

// Reads `path` whole. Fails, with one line naming the file, when it cannot be
// read, holds no records, or none of its records holds a position.
Status LoadFlight(const std::string& path, LoadedFlight& flight);

}  // namespace kestrun
