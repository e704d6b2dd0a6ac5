#include "tools/flight_stats.h"

#include <fmt/format.h>

namespace kestrun {

void FlightStats::Add(const TimedRecord& record) {
    const std::int64_t t = record.time.seconds;
    if (records_++ == 0) {
        earliest_ = latest_ = t;
    } else {
        if (t < earliest_) earliest_ = t;
        if (t > latest_) latest_ = t;
    }
    const FlightSample& s = record.sample;
    if (!s.has_position) return;
    if (positions_++ == 0 || s.altitude_m > highest_m_) highest_m_ = s.altitude_m;
    if (positions_ == 1 || s.airspeed_kt > fastest_kt_) fastest_kt_ = s.airspeed_kt;
    track_.Add(s.latitude_deg, s.longitude_deg);
}

std::string FormatDuration(std::int64_t seconds) {
    return fmt::format("{}:{:02}:{:02}", seconds / 3600, seconds / 60 % 60, seconds % 60);
}

std::string FormatTimeOfDay(std::int64_t seconds) {
    char text[16];
    return std::string(text, WriteTimeOfDay(text, seconds % kSecondsPerDay));
}

std::string FormatLocalTime(CivilDate first_date, std::int64_t seconds) {
    const std::int64_t day = seconds / kSecondsPerDay;
    char text[48];
    char* p = WriteCivilDate(text, first_date.Plus(day));
    *p++ = ' ';
    p = WriteTimeOfDay(p, seconds - day * kSecondsPerDay);
    return std::string(text, p);
}

}  // namespace kestrun
