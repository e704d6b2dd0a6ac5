#pragma once
// The two kinds of page as HTML text: a flight's page and the index. Each is
// one self-contained file: its stylesheet, script and data inline, nothing
// fetched (a Content-Security-Policy says so to the browser).

#include <cstdint>
#include <string>
#include <string_view>

#include "logbook/flight_json.h"

namespace kestrun {

// The file name of a flight's page in the pages folder.
std::string FlightPageName(std::int64_t flight_id);

// `flight` is the object `show --format json` prints, `samples_json` the
// flight's records (FlightSamplesJson). With `in_folder` the page links back
// to the index beside it; without, it stands alone (a page to mail).
std::string FlightPageHtml(const Json& flight, std::string_view samples_json, bool in_folder);

// `flights` is the array `list --format json` prints, `stats_json` what
// `stats --format json` prints.
std::string IndexPageHtml(const Json& flights, std::string_view stats_json);

// JSON text made safe inside a <script> element: every '<' becomes \u003c,
// which can only stand inside a JSON string, so no "</script>" can end the
// element early.
std::string ScriptSafeJson(std::string_view json);

}  // namespace kestrun
