#pragma once
// The one conversion from a record and its place in time to the detector's
// view of it, shared by the logbook's scan and the watch over a recording.

#include <cstdint>

#include "flights/flight_detector.h"
#include "record/flight_record.h"
#include "recordfile/flight_timeline.h"

namespace kestrun {

// The detector's view of `record`, found at `offset`; `day_base` is added
// to the timeline's seconds.
FlightPoint PointFromRecord(const FlightRecord& record, const TimePlacement& time,
                            std::uint64_t offset, std::int64_t day_base = 0);

}  // namespace kestrun
