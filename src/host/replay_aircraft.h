#pragma once
// The host flying a recorded flight instead of its traffic pattern: every
// update takes the state from the playback engine at the host's clock, times
// a speed, and writes it through WriteAircraftState. After the last record
// it holds the final state (or starts again when looping).

#include <functional>
#include <memory>
#include <string>
#include <string_view>

#include "host/aircraft_source.h"
#include "platform/status.h"

namespace kestrun {

struct ReplayChoice {
    std::string path;
    double speed = 1;  // 0.1 to 64
    bool loop = false;
};

// Reads the file whole. Fails, with one line naming the file, when it cannot
// be read or holds no record with a position. `console` gets one line when
// the replay ends; `description` says what will be flown, for the host's
// start-up line.
std::unique_ptr<AircraftSource> OpenReplayAircraft(const ReplayChoice& choice,
                                                   std::function<void(std::string_view)> console,
                                                   std::string& description, Status& status);

}  // namespace kestrun
