#pragma once
// Flights as the logbook keeps them, read back for listing and showing.
// Times are local seconds from 1970-01-01 00:00 of the local calendar.

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "logbook/sqlite_db.h"

namespace kestrun {

// The day (since 1970-01-01) of a local time.
std::int64_t DayOf(std::int64_t local_seconds);

// What the pilot tells about a flight, which the records cannot; empty when
// not told.
struct PilotFields {
    std::string aircraft;      // type, such as C172
    std::string registration;  // such as D-EKST
    std::string pilot;
    std::string remarks;
    bool operator==(const PilotFields&) const = default;
};

struct FlightRow {
    std::int64_t id = 0;
    std::string file;
    std::int64_t begin_offset = 0;
    std::int64_t end_offset = 0;
    bool complete = false;
    std::int64_t first_time = 0;
    std::int64_t last_time = 0;
    std::optional<std::int64_t> off_block, takeoff, landing, on_block;
    double distance_m = 0;
    double max_altitude_m = 0;
    double max_ias_kt = 0;
    std::optional<double> touchdown_fpm, touchdown_ias_kt, touchdown_pitch_deg, touchdown_bank_deg;
    int touch_and_goes = 0;
    std::string departure;
    std::string arrival;
    // Of the final landing; empty when no runway was found.
    std::string runway;
    std::optional<double> touchdown_distance_m;
    PilotFields fields;
    // Why no light aircraft flies it, in plain words; empty for an ordinary
    // flight. Implausible flights are left out of the totals.
    std::string implausible;

    // The day of the takeoff, else of the first record.
    std::int64_t date_days() const;
    std::optional<std::int64_t> air_time_s() const;
    std::optional<std::int64_t> block_time_s() const;
    // The final landing and the touch-and-goes before it.
    int landings() const { return (landing ? 1 : 0) + touch_and_goes; }
};

struct FlightFilter {
    std::optional<std::int64_t> from_days;  // inclusive
    std::optional<std::int64_t> to_days;    // inclusive
    std::string airport;                    // departure or arrival
};

// Flights in the order flown, newest last.
Status LoadFlights(Database& db, const FlightFilter& filter, std::vector<FlightRow>& rows);
// Whether the logbook holds any flight at all.
Status HasFlights(Database& db, bool& any);
// Empty `row` (and ok) when there is no flight `id`.
Status LoadFlight(Database& db, std::int64_t id, std::optional<FlightRow>& row);

struct PhaseRow {
    std::string phase;
    std::int64_t start_time = 0;
};
Status LoadPhases(Database& db, std::int64_t flight_id, std::vector<PhaseRow>& phases);

}  // namespace kestrun
