#include "logbook/flight_json.h"

#include <cmath>

#include "logbook/logbook_output.h"
#include "logbook/pilot_fields.h"
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

// Rounded to `step`; never "-0".
double Round(double value, double step) {
    return std::round(value / step) * step + 0.0;
}

Json RoundOpt(const std::optional<double>& value, double step) {
    return value ? Json(Round(*value, step)) : Json();
}

Json Name(const std::string& text) {
    return text.empty() ? Json() : Json(text);
}

std::string LocalClock(double local_seconds) {
    return ClockTime(static_cast<std::int64_t>(std::floor(local_seconds)));
}

Json TouchdownJson(const TouchdownJudgement& t) {
    Json j;
    j["kind"] = t.final ? "final" : "touch_and_go";
    j["time"] = LocalClock(t.seconds);
    j["airport"] = Name(t.airport);
    j["runway"] = Name(t.runway);
    j["ground_level"] = t.rolled_level ? "rolled" : "elevation";
    j["touchdown_distance_m"] = RoundOpt(t.touchdown_distance_m, 0.1);
    j["centreline_offset_m"] = RoundOpt(t.centreline_offset_m, 0.1);
    j["crab_deg"] = RoundOpt(t.crab_deg, 0.1);
    j["touchdown_fpm"] = RoundOpt(t.touchdown_fpm, 1);
    j["ias_kt"] = Round(t.ias_kt, 0.1);
    j["pitch_deg"] = Round(t.pitch_deg, 0.1);
    j["bank_deg"] = Round(t.bank_deg, 0.1);
    j["bounces"] = t.bounces;
    j["roll_m"] = RoundOpt(t.roll_m, 1);
    j["remaining_m"] = RoundOpt(t.remaining_m, 1);
    return j;
}

Json JudgementJson(const FlightJudgement& judgement) {
    Json j;
    if (const auto& t = judgement.takeoff) {
        Json takeoff;
        takeoff["airport"] = Name(t->airport);
        takeoff["runway"] = Name(t->runway);
        takeoff["roll_m"] = Round(t->roll_m, 1);
        takeoff["liftoff_distance_m"] = RoundOpt(t->liftoff_distance_m, 1);
        j["takeoff_report"] = takeoff;
    } else {
        j["takeoff_report"] = Json();
    }
    j["landings"] = Json::array();
    for (const TouchdownJudgement& t : judgement.touchdowns) j["landings"].push_back(TouchdownJson(t));
    j["go_arounds"] = Json::array();
    for (const GoAround& g : judgement.go_arounds) {
        j["go_arounds"].push_back(Json{{"time", LocalClock(g.seconds)},
                                       {"airport", Name(g.airport)},
                                       {"runway", Name(g.runway)},
                                       {"ground_level", g.rolled_level ? "rolled" : "elevation"},
                                       {"lowest_ft_agl", Round(g.lowest_ft_agl, 1)}});
    }
    if (const auto& a = judgement.approach) {
        Json approach;
        approach["airport"] = Name(a->airport);
        approach["runway"] = Name(a->runway);
        approach["gates"] = Json::array();
        for (const ApproachGate& g : a->gates) {
            approach["gates"].push_back(Json{{"height_ft", g.height_ft},
                                             {"ias_kt", Round(g.ias_kt, 0.1)},
                                             {"sink_fpm", Round(g.sink_fpm, 1)},
                                             {"bank_deg", Round(g.bank_deg, 0.1)},
                                             {"glidepath_dev_deg", Round(g.glidepath_dev_deg, 0.1)},
                                             {"centreline_dev_m", Round(g.centreline_dev_m, 0.1)}});
        }
        approach["stable"] = a->stable;
        approach["reasons"] = a->reasons;
        j["approach"] = approach;
    } else {
        j["approach"] = Json();
    }
    j["events"] = Json::array();
    for (const FlightEvent& e : judgement.events) {
        j["events"].push_back(Json{{"time", LocalClock(e.seconds)},
                                   {"kind", e.kind},
                                   {"peak", Round(e.peak, 0.1)},
                                   {"limit", e.limit},
                                   {"duration_s", e.duration_s}});
    }
    return j;
}


}  // namespace

std::string JsonText(const Json& json, int indent) {
    return json.dump(indent, ' ', false, Json::error_handler_t::replace);
}

Json FlightListJson(const FlightRow& f) {
    Json j;
    j["id"] = f.id;
    j["file"] = f.file;
    j["date"] = FormatCivilDate(CivilDate{f.date_days()});
    j["departure"] = Name(f.departure);
    j["arrival"] = Name(f.arrival);
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
    j["runway"] = Name(f.runway);
    j["touchdown_distance_m"] = RoundOpt(f.touchdown_distance_m, 0.1);
    for (const std::string_view name : kPilotFieldNames) {
        j[std::string(name)] = Name(PilotField(f.fields, name));
    }
    j["implausible"] = !f.implausible.empty();
    j["implausible_reason"] = Name(f.implausible);
    return j;
}

Json FlightShowJson(const FlightRow& flight, const std::vector<PhaseRow>& phases,
                    const FlightJudgement& judgement) {
    Json j = FlightListJson(flight);
    Json list = Json::array();
    for (const PhaseRow& p : phases) {
        Json phase;
        phase["phase"] = p.phase;
        phase["time"] = ClockTime(p.start_time);
        list.push_back(phase);
    }
    j["phases"] = list;
    const Json judged = JudgementJson(judgement);
    for (const auto& item : judged.items()) j[item.key()] = item.value();
    return j;
}

}  // namespace kestrun
