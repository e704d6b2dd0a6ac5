#pragma once
// A flight's records as the page draws them: columnar JSON arrays with fixed
// decimals, small enough that a ten-hour flight stays well under 100 bytes a
// record, and plain enough that any program can read them back.

#include <string>

#include "logbook/flight_rows.h"
#include "platform/status.h"

namespace kestrun {

// Reads the flight's byte range of its record file and writes into `json`
//   {"start": S, "t": [...], "lat": [...], "lon": [...], "alt_ft": [...],
//    "ias_kt": [...], "pitch_deg": [...], "bank_deg": [...], "heading_deg": [...]}
// S is the first record's second of the day; `t` counts seconds from it (a
// break in the recording shows as a jump). Records without a position are
// left out. Fails, naming the file, when it cannot be read.
Status FlightSamplesJson(const FlightRow& flight, std::string& json);

}  // namespace kestrun
