#include "logbook/flight_json.h"

#include <cmath>

#include "logbook/logbook_output.h"
#include "protocol/host_units.h"
#include "recordfile/civil_date.h"

namespace kestrun {
namespace {

constexpr double kFeetPerMetre = 1 / kMetresPerFoot;
constexpr double kMetresPerNauticalMile = 1852;

Json JsonTime(const std::optional<std::int64_t>& t) {
    return t ? Json(ClockTime(*t)) : Json();
}

template <typename T>
Json JsonOpt(const std::optional<T>& v) {
    return v ? Json(*v) : Json();
}

double Round(double value, double step) {
    return std::round(value / step) * step;
}

}  // namespace

Json FlightListJson(const FlightRow& f) {
    Json j;
    j["id"] = f.id;
    j["file"] = f.file;
    j["date"] = FormatCivilDate(CivilDate{f.date_days()});
    j["departure"] = f.departure;
    j["arrival"] = f.arrival;
    j["takeoff"] = JsonTime(f.takeoff);
    j["landing"] = JsonTime(f.landing);
    j["air_time_s"] = JsonOpt(f.air_time_s());
    j["distance_nm"] = Round(f.distance_m / kMetresPerNauticalMile, 0.01);
    j["max_altitude_ft"] = std::round(f.max_altitude_m * kFeetPerMetre);
    j["max_ias_kt"] = Round(f.max_ias_kt, 0.1);
    j["touchdown_fpm"] = f.touchdown_fpm ? Json(std::round(*f.touchdown_fpm)) : Json();
    j["touch_and_goes"] = f.touch_and_goes;
    j["off_block"] = JsonTime(f.off_block);
    j["on_block"] = JsonTime(f.on_block);
    j["block_time_s"] = JsonOpt(f.block_time_s());
    j["complete"] = f.complete;
    return j;
}

Json FlightShowJson(const FlightRow& flight, const std::vector<PhaseRow>& phases) {
    Json j = FlightListJson(flight);
    Json list = Json::array();
    for (const PhaseRow& p : phases) {
        Json phase;
        phase["phase"] = p.phase;
        phase["time"] = ClockTime(p.start_time);
        list.push_back(phase);
    }
    j["phases"] = list;
    return j;
}

}  // namespace kestrun
