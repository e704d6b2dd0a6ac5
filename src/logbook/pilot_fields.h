#pragma once
// The pilot's own fields of a flight (aircraft, registration, pilot,
// remarks), the defaults new flights are filed with, and how a flight that
// a scan finds again keeps what the pilot told about it.

#include <array>
#include <cstdint>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "logbook/flight_rows.h"
#include "logbook/sqlite_db.h"

namespace kestrun {

// The fields' names, as the command line, the JSON and the database call
// them; only the first three have defaults (remarks are one flight's own).
inline constexpr std::array<std::string_view, 4> kPilotFieldNames = {"aircraft", "registration",
                                                                     "pilot", "remarks"};
// The field of `fields` called `name`, one of kPilotFieldNames.
std::string& PilotField(PilotFields& fields, std::string_view name);
const std::string& PilotField(const PilotFields& fields, std::string_view name);

Status LoadPilotDefaults(Database& db, PilotFields& defaults);
// Sets the default `name` (aircraft, registration or pilot); an empty
// value clears it. Flights filed from then on get it.
Status SetPilotDefault(Database& db, std::string_view name, const std::string& value);

// Sets each (name, value) of `changes` on flight `id`; an empty value clears
// the field. `found` is false, and nothing changed, when there is no such
// flight.
Status EditPilotFields(Database& db, std::int64_t id,
                       const std::vector<std::pair<std::string, std::string>>& changes,
                       bool& found);

// A flight as it was filed, before a scan of its file replaces it.
struct FiledFlight {
    std::int64_t first_time = 0;
    std::int64_t last_time = 0;
    PilotFields fields;
};
// The flights of file `file_id` that a scan from byte `begin` replaces: those
// from there on, and one left incomplete.
Status FlightsToRefile(Database& db, std::int64_t file_id, std::int64_t begin,
                       std::vector<FiledFlight>& filed);
// The fields of a flight found from `first_time` to `last_time`: those of the
// flights it was filed as before, the ones whose times overlap it, else the
// defaults. A flight split in two keeps its fields in both; flights found as
// one now keep every text, differing ones joined with "; ".
PilotFields RefiledFields(const std::vector<FiledFlight>& filed, std::int64_t first_time,
                          std::int64_t last_time, const PilotFields& defaults);

}  // namespace kestrun
