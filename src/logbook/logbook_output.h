#pragma once
// What kestrun-logbook prints: the list of flights, one flight in full, and
// the totals, as a table for people or as CSV and JSON for other programs.

#include <string>
#include <vector>

#include "logbook/flight_rows.h"

namespace kestrun {

enum class TableFormat { kTable, kCsv, kJson };

std::string FormatFlightList(const std::vector<FlightRow>& flights, TableFormat format);
std::string FormatFlight(const FlightRow& flight, const std::vector<PhaseRow>& phases);
// "Landing: touchdown at HH:MM:SS, -420 ft/min, ..." or "Landing: not recorded; ...".
std::string FormatLandingLine(const FlightRow& flight);
// Totals overall, by month and by departure-arrival pair.
std::string FormatStats(const std::vector<FlightRow>& flights, TableFormat format);

// "HH:MM:SS" of a local time.
std::string ClockTime(std::int64_t local_seconds);

}  // namespace kestrun
