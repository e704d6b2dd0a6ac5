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

// "HH:MM:SS" of a local time.
std::string ClockTime(std::int64_t local_seconds);

}  // namespace kestrun
