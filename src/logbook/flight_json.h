#pragma once
// The JSON objects the logbook prints for a flight: one place for every key,
// so that `list`, `show --format json` and the flight's web page agree.

#include <nlohmann/json.hpp>
#include <vector>

#include "logbook/flight_rows.h"

namespace kestrun {

using Json = nlohmann::ordered_json;

// The object `list --format json` prints for one flight. Times are
// "HH:MM:SS"; unknown values are null.
Json FlightListJson(const FlightRow& flight);

// The object `show ID --format json` prints: every key of the list's object,
// then `phases` (each with `phase` and its start `time`).
Json FlightShowJson(const FlightRow& flight, const std::vector<PhaseRow>& phases);

}  // namespace kestrun
