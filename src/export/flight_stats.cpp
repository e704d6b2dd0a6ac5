#include "export/flight_stats.h"

#include <fmt/format.h>

#include "protocol/host_units.h"

namespace kestrun {

void FlightStats::Add(const TimedRecord& record) {
    const std::int64_t t = record.time.seconds;
    if (records_++ == 0) {
        earliest_ = latest_ = t;
    } else {
        if (t < earliest_) earliest_ = t;
        if (t > latest_) latest_ = t;
    }
    const FlightRecord r = record.Decode();
    const FlightSample s = PositionFromRecord(r);
    if (!s.has_position) return;
    // The extremes are found among the host's words, which order like the
    // values they stand for, and converted once at the end.
    const std::int64_t altitude = std::int64_t{r.AltitudeMetres} * 4294967296 + r.AltitudeFraction;
    if (positions_++ == 0 || altitude > highest_) {
        highest_ = altitude;
        highest_words_ = HostAltitude{r.AltitudeFraction, r.AltitudeMetres};
    }
    if (positions_ == 1 || r.IAS > fastest_) fastest_ = r.IAS;
    track_.Add(s.latitude_deg, s.longitude_deg);
}

double FlightStats::highest_m() const {
    return AltitudeFromHost(highest_words_);
}

double FlightStats::fastest_kt() const {
    return AirspeedFromHost(fastest_);
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
