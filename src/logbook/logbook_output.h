#pragma once
// What kestrun-logbook prints: the list of flights, one flight in full, and
// the totals, as a table for people or as CSV and JSON for other programs.

#include <string>
#include <vector>

#include "flights/flight_judgement.h"
#include "logbook/flight_rows.h"

namespace kestrun {

enum class TableFormat { kTable, kCsv, kJson };

std::string FormatFlightList(const std::vector<FlightRow>& flights, TableFormat format);
// The flight, its phases, its landing report and its judgement against the
// runways, for people.
std::string FormatFlight(const FlightRow& flight, const std::vector<PhaseRow>& phases,
                         const FlightJudgement& judgement);
// "Landing: touchdown at HH:MM:SS, -420 ft/min, ..." or "Landing: not recorded; ...".
std::string FormatLandingLine(const FlightRow& flight);
// Totals overall, by month and by departure-arrival pair.
std::string FormatStats(const std::vector<FlightRow>& flights, TableFormat format);

// A duration in whole `step`s of seconds, to the nearest, halves away from
// zero: the one rounding behind the h:mm of `list` and `show` (steps of a
// minute) and the hours of `stats` (steps of 36 s, a hundredth of an hour).
std::int64_t RoundedSteps(std::int64_t seconds, std::int64_t step);
// "h:mm" of a duration, to the nearest minute: "2:00" for 1:59:30, "100:00"
// for 99:59:30.
std::string HoursMinutes(std::int64_t seconds);

// "HH:MM:SS" of a local time.
std::string ClockTime(std::int64_t local_seconds);

}  // namespace kestrun
