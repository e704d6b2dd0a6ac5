#pragma once
// The date of a file's first record when nothing but the file says it.

#include <cstdint>

#include "platform/status.h"
#include "recordfile/civil_date.h"
#include "recordfile/flight_timeline.h"

namespace kestrun {

// The date of the first record when the file's modification time (`modified`,
// seconds since the epoch) is all there is. The last record was written just
// before the file was last modified, so that gives the date of the last
// record; the midnights the timeline counted lead back to the first. A last
// record stamped later in the day than the modification time was written
// before a midnight that passed while the file was being closed.
CivilDate FirstDateFromModification(std::int64_t modified, const FlightTimeline& timeline);

// Fails, in words, unless every record from the start of `first_date` to
// `latest_seconds` later (a timeline's running time) lies in the years 1 to
// 9999, the dates every reader of the exported formats takes: a flight that
// begins on 9999-12-31 must not land in the year 10000.
Status CheckRecordDates(CivilDate first_date, std::int64_t latest_seconds);

}  // namespace kestrun
