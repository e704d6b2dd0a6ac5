#pragma once
// The JSON objects the logbook prints for a flight: one place for every key,
// so that `list`, `show --format json` and the flight's web page agree.

#include <nlohmann/json.hpp>
#include <vector>

#include "flights/flight_judgement.h"
#include "logbook/flight_rows.h"

namespace kestrun {

using Json = nlohmann::ordered_json;

// `json` as text, with `indent` spaces a level (-1: on one line). A string
// that is not UTF-8, such as a file named in another encoding, gives U+FFFD
// for each byte that is not, rather than failing.
std::string JsonText(const Json& json, int indent = -1);

// The object `list --format json` prints for one flight. Times are
// "HH:MM:SS"; unknown values are null.
Json FlightListJson(const FlightRow& flight);

// The object `show ID --format json` prints: every key of the list's object,
// then `phases` (each with `phase` and its start `time`), `takeoff_report`,
// `landings`, `go_arounds`, `approach` and `events` from the judgement.
Json FlightShowJson(const FlightRow& flight, const std::vector<PhaseRow>& phases,
                    const FlightJudgement& judgement);

}  // namespace kestrun
