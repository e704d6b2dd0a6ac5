#pragma once
// Each flight's judgement against the runways as the logbook keeps it: the
// landings, takeoffs, go_arounds, approaches, approach_gates and events
// tables. Times are local seconds, with the fraction of a touchdown between
// records.

#include <cstdint>

#include "flights/flight_judgement.h"
#include "logbook/sqlite_db.h"

namespace kestrun {

// `day_start` turns the detector's running seconds into local time; a final
// landing on no known runway is named after `arrival`.
Status StoreJudgement(Database& db, std::int64_t flight_id, std::int64_t day_start,
                      const FlightJudgement& judgement, const std::string& arrival);

// The judgement of flight `flight_id`, times in local seconds.
Status LoadJudgement(Database& db, std::int64_t flight_id, FlightJudgement& judgement);

}  // namespace kestrun
