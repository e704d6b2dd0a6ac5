#include "recordfile/first_date.h"

#include <string>

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

Status CheckRecordDates(CivilDate first_date, std::int64_t latest_seconds) {
    if (!IsWritableDate(first_date)) {
        return Status::Error("the first record would be on " + FormatCivilDate(first_date) +
                             ", outside the years 1 to 9999");
    }
    const CivilDate latest = first_date.Plus(latest_seconds / kSecondsPerDay);
    if (!IsWritableDate(latest)) {
        return Status::Error("the records would run from " + FormatCivilDate(first_date) +
                             " into " + FormatCivilDate(latest) +
                             ", past 9999-12-31, the last date the exported formats can hold; "
                             "give an earlier date with --date");
    }
    return Status::Ok();
}

}  // namespace kestrun
