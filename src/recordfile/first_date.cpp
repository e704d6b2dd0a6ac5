#include "recordfile/first_date.h"

namespace kestrun {
namespace {

// How far the clock that stamped the records may run ahead of the clock that
// stamped the file before a midnight is assumed in between.
constexpr std::int64_t kClockSlackSeconds = 60;

}  // namespace

CivilDate FirstDateFromModification(std::int64_t modified, const FlightTimeline& timeline) {
    CivilDate date;
    std::int64_t second_of_day = 0;
    LocalDateAndTime(modified, date, second_of_day);
    if (timeline.records() == 0) return date;
    const std::int64_t last = timeline.last_seconds();
    const std::int64_t last_day = last / kSecondsPerDay;
    const std::int64_t last_of_day = last - last_day * kSecondsPerDay;
    const CivilDate last_date =
        last_of_day > second_of_day + kClockSlackSeconds ? date.Plus(-1) : date;
    return last_date.Plus(-last_day);
}

}  // namespace kestrun
