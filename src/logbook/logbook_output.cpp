#include "logbook/logbook_output.h"

#include <fmt/format.h>

#include <algorithm>
#include <map>

#include "logbook/flight_json.h"
#include "logbook/pilot_fields.h"
#include "protocol/host_units.h"
#include "recordfile/civil_date.h"
#include "text/terminal_text.h"

namespace kestrun {
namespace {

constexpr double kFeetPerMetre = 1 / kMetresPerFoot;
constexpr double kMetresPerNauticalMile = 1852;

std::int64_t SecondOfDay(std::int64_t local) {
    return local - DayOf(local) * kSecondsPerDay;
}

// An ident or "-" in a table for people; idents come from an airports file.
std::string Cell(const std::string& ident) {
    return ident.empty() ? "-" : TerminalSafe(ident);
}

// Widest the list's aircraft column grows; longer types are cut.
constexpr std::size_t kAircraftColumn = 10;
constexpr std::string_view kAircraftHeading = "aircraft";

std::size_t CodePoints(std::string_view text) {
    return static_cast<std::size_t>(std::count_if(text.begin(), text.end(), [](char c) {
        return (static_cast<unsigned char>(c) & 0xc0) != 0x80;
    }));
}

// `text` padded with spaces to `width` characters, or cut to end in "~".
std::string PadTo(const std::string& text, std::size_t width) {
    const std::size_t length = CodePoints(text);
    if (length <= width) return text + std::string(width - length, ' ');
    std::size_t kept = 0, at = 0;
    for (; at < text.size(); ++at) {
        if ((static_cast<unsigned char>(text[at]) & 0xc0) != 0x80 && kept++ == width - 1) break;
    }
    return text.substr(0, at) + "~";
}

std::string Date(std::int64_t days) {
    return FormatCivilDate(CivilDate{days});
}

std::string Clock(const std::optional<std::int64_t>& t) {
    return t ? ClockTime(*t) : "-";
}

std::string Duration(const std::optional<std::int64_t>& s) {
    return s ? HoursMinutes(*s) : "-";
}

// Hours to two places, rounded as the h:mm of the flights they add up.
double Hours(std::int64_t seconds) {
    return static_cast<double>(RoundedSteps(seconds, 36)) / 100;
}

// Rounded to `step`; never "-0".
double Round(double value, double step) {
    return std::round(value / step) * step + 0.0;
}

std::string LocalClock(double local_seconds) {
    return ClockTime(static_cast<std::int64_t>(std::floor(local_seconds)));
}

// "KPAO 31", or "an unknown field": idents come from airport and runway lists.
std::string Field(const std::string& airport, const std::string& runway) {
    const std::string where = airport.empty() ? "an unknown field" : TerminalSafe(airport);
    return runway.empty() ? where : where + " " + TerminalSafe(runway);
}

// "KPAO 31: touched down 312 m past the threshold, 2.4 m right of centre,
// 5° crab, -180 ft/min, 58 kt; rolled 290 m, 470 m left"
std::string TouchdownLine(const TouchdownJudgement& t) {
    std::string line = Field(t.airport, t.runway) + ": touched down at " + LocalClock(t.seconds);
    if (t.touchdown_distance_m) {
        line += fmt::format(", {:.0f} m {} the threshold", std::fabs(*t.touchdown_distance_m),
                            *t.touchdown_distance_m < 0 ? "short of" : "past");
    }
    if (t.centreline_offset_m) {
        line += fmt::format(", {:.1f} m {} of centre", std::fabs(*t.centreline_offset_m),
                            *t.centreline_offset_m < -0.05 ? "left" : "right");
    }
    if (t.crab_deg) line += fmt::format(", {:.0f}\u00b0 crab", Round(*t.crab_deg, 1));
    line += t.touchdown_fpm ? fmt::format(", {:.0f} ft/min", *t.touchdown_fpm) : ", rate unknown";
    line += fmt::format(", {:.0f} kt", t.ias_kt);
    if (t.bounces > 0) line += fmt::format(", {} bounce{}", t.bounces, t.bounces == 1 ? "" : "s");
    if (t.roll_m) {
        line += fmt::format("; rolled {:.0f} m", *t.roll_m);
        if (t.remaining_m) line += fmt::format(", {:.0f} m left", *t.remaining_m);
    }
    return line;
}

std::string JudgementText(const FlightJudgement& j) {
    std::string out;
    if (const auto& t = j.takeoff) {
        out += fmt::format("Takeoff: {}, rolled {:.0f} m", Field(t->airport, t->runway), t->roll_m);
        if (t->liftoff_distance_m) out += fmt::format(", airborne {:.0f} m down the runway", *t->liftoff_distance_m);
        out += "\n";
    }
    for (const GoAround& g : j.go_arounds) {
        out += fmt::format("Go-around or low pass: {} at {}, lowest {:.0f} ft above the {}\n",
                           Field(g.airport, g.runway), LocalClock(g.seconds), g.lowest_ft_agl,
                           g.rolled_level ? "level rolled on" : "runway's elevation");
    }
    for (const TouchdownJudgement& t : j.touchdowns) {
        out += (t.final ? "Final landing " : "Touch-and-go ") + TouchdownLine(t) + "\n";
    }
    if (const auto& a = j.approach) {
        out += fmt::format("Approach to {}: {}\n", Field(a->airport, a->runway),
                           a->stable ? "stable" : "not stable");
        for (const ApproachGate& g : a->gates) {
            out += fmt::format(
                "  {:.0f} ft: {:.0f} kt, sinking {:.0f} ft/min, bank {:.0f} deg, glidepath {:+.1f} "
                "deg, {:.0f} m {} of the centreline\n",
                g.height_ft, g.ias_kt, g.sink_fpm, Round(g.bank_deg, 1),
                Round(g.glidepath_dev_deg, 0.1), std::fabs(g.centreline_dev_m),
                g.centreline_dev_m < -0.5 ? "left" : "right");
        }
        for (const std::string& reason : a->reasons) out += "  " + reason + "\n";
    }
    for (const FlightEvent& e : j.events) {
        out += fmt::format("Event at {}: {} {:.0f} beyond {:.0f} for {:.0f} s\n", LocalClock(e.seconds),
                           e.kind, e.peak, e.limit, e.duration_s);
    }
    return out;
}

std::string CsvField(const Json& value) {
    if (value.is_null()) return "";
    if (value.is_string()) {
        const std::string text = value.get<std::string>();
        if (text.find_first_of(",\"\r\n") == std::string::npos) return text;
        std::string quoted = "\"";
        for (const char c : text) quoted += c == '"' ? std::string("\"\"") : std::string(1, c);
        return quoted + "\"";
    }
    if (value.is_boolean()) return value.get<bool>() ? "1" : "0";
    return value.dump();
}

std::string Csv(const Json& rows, const std::vector<std::string>& keys) {
    std::string out;
    for (std::size_t i = 0; i < keys.size(); ++i) {
        if (i > 0) out += ',';
        out += keys[i];
    }
    out += '\n';
    for (const Json& row : rows) {
        for (std::size_t i = 0; i < keys.size(); ++i) {
            if (i > 0) out += ',';
            out += CsvField(row.at(keys[i]));
        }
        out += '\n';
    }
    return out;
}

std::vector<std::string> Keys(const Json& row) {
    std::vector<std::string> keys;
    for (const auto& item : row.items()) keys.push_back(item.key());
    return keys;
}

struct Totals {
    int flights = 0;
    int landings = 0;
    std::int64_t air_s = 0;
    std::int64_t block_s = 0;
    double distance_m = 0;

    void Add(const FlightRow& f) {
        ++flights;
        landings += f.landings();
        air_s += f.air_time_s().value_or(0);
        block_s += f.block_time_s().value_or(0);
        distance_m += f.distance_m;
    }
    Json ToJson(const std::string& group_key, const std::string& group) const {
        Json j;
        if (!group_key.empty()) j[group_key] = group;
        j["flights"] = flights;
        j["landings"] = landings;
        j["air_hours"] = Hours(air_s);
        j["block_hours"] = Hours(block_s);
        j["distance_nm"] = Round(distance_m / kMetresPerNauticalMile, 0.1);
        return j;
    }
};

std::string StatsTable(const Json& rows, const std::string& title, const std::string& key) {
    std::string out =
        fmt::format("{}\n{:<14} {:>7} {:>8} {:>9} {:>11} {:>11}\n", title, key.empty() ? "" : key,
                    "flights", "landings", "air h", "block h", "distance nm");
    for (const Json& r : rows) {
        out += fmt::format("{:<14} {:>7} {:>8} {:>9.2f} {:>11.2f} {:>11.1f}\n",
                           key.empty() ? "all" : TerminalSafe(r.at(key).get<std::string>()),
                           r.at("flights").get<int>(), r.at("landings").get<int>(),
                           r.at("air_hours").get<double>(), r.at("block_hours").get<double>(),
                           r.at("distance_nm").get<double>());
    }
    return out;
}

}  // namespace

std::int64_t RoundedSteps(std::int64_t seconds, std::int64_t step) {
    if (seconds < 0) return -RoundedSteps(-seconds, step);
    return (seconds + step / 2) / step;
}

std::string HoursMinutes(std::int64_t seconds) {
    const std::int64_t minutes = RoundedSteps(seconds, 60);
    return fmt::format("{}{}:{:02}", minutes < 0 ? "-" : "", std::abs(minutes) / 60,
                       std::abs(minutes) % 60);
}

std::string ClockTime(std::int64_t local_seconds) {
    char text[16];
    char* end = WriteTimeOfDay(text, SecondOfDay(local_seconds));
    return std::string(text, end);
}

std::string FormatFlightList(const std::vector<FlightRow>& flights, TableFormat format) {
    Json rows = Json::array();
    for (const FlightRow& f : flights) rows.push_back(FlightListJson(f));
    if (format == TableFormat::kJson) return JsonText(rows, 2) + "\n";
    if (format == TableFormat::kCsv) {
        // The columns are the JSON keys, also when there is no flight.
        return Csv(rows, Keys(FlightListJson(FlightRow{})));
    }
    // The aircraft only when some flight has one, cut to a narrow column.
    std::size_t aircraft_width = 0;
    for (const FlightRow& f : flights) {
        aircraft_width = std::max(aircraft_width, CodePoints(TerminalSafe(f.fields.aircraft)));
    }
    if (aircraft_width > 0) {
        aircraft_width = std::clamp(aircraft_width, kAircraftHeading.size(), kAircraftColumn);
    }
    const auto aircraft = [aircraft_width](const std::string& text) {
        return aircraft_width == 0 ? std::string()
                                   : PadTo(TerminalSafe(text), aircraft_width) + " ";
    };
    std::string out = fmt::format(
        "{:>4} {:<10} {:<5} {:<5} {:>8} {:>8} {:>6} {:>6} {:>7} {:>6} {:>4} "
        "{:>6} {:>3} {:<4} {:>5}  {}\n",
        "id", "date", "from", "to", "takeoff", "landing", "air", "block", "nm", "ft", "kt", "fpm",
        "t&g", "rwy", "td m", aircraft(std::string(kAircraftHeading)) + "file");
    bool marked = false;
    for (const FlightRow& f : flights) {
        marked = marked || !f.implausible.empty();
        const std::string id = (f.implausible.empty() ? "" : "!") + std::to_string(f.id);
        out += fmt::format(
            "{:>4} {:<10} {:<5} {:<5} {:>8} {:>8} {:>6} {:>6} {:>7.1f} {:>6.0f} {:>4.0f} {:>6} "
            "{:>3} {:<4} {:>5}  {}\n",
            id, Date(f.date_days()), Cell(f.departure), Cell(f.arrival), Clock(f.takeoff),
            Clock(f.landing), Duration(f.air_time_s()), Duration(f.block_time_s()),
            f.distance_m / kMetresPerNauticalMile, f.max_altitude_m * kFeetPerMetre, f.max_ias_kt,
            f.touchdown_fpm ? fmt::format("{:.0f}", *f.touchdown_fpm) : "-", f.touch_and_goes,
            Cell(f.runway),
            f.touchdown_distance_m ? fmt::format("{:.0f}", *f.touchdown_distance_m) : "-",
            aircraft(f.fields.aircraft) + TerminalSafe(f.file));
    }
    if (marked) {
        out +=
            "! implausible: speeds or rates no light aircraft flies (show ID says which); left "
            "out of the totals\n";
    }
    return out;
}

std::string FormatLandingLine(const FlightRow& f) {
    const char* plural = f.touch_and_goes == 1 ? "" : "es";
    if (!f.landing)
        return fmt::format("Landing: not recorded; {} touch-and-go{}", f.touch_and_goes, plural);
    return fmt::format(
        "Landing: touchdown at {}, {} ft/min, {:.0f} kt, pitch {:.1f} deg, bank {:.1f} deg; "
        "{} touch-and-go{}",
        ClockTime(*f.landing),
        f.touchdown_fpm ? fmt::format("{:.0f}", *f.touchdown_fpm) : "unknown",
        f.touchdown_ias_kt.value_or(0), f.touchdown_pitch_deg.value_or(0),
        f.touchdown_bank_deg.value_or(0), f.touch_and_goes, plural);
}

std::string FormatFlight(const FlightRow& f, const std::vector<PhaseRow>& phases,
                         const FlightJudgement& judgement) {
    auto place = [](const std::string& ident) {
        return ident.empty() ? "an unknown field" : TerminalSafe(ident);
    };
    std::string out = fmt::format("Flight {} on {}: from {} to {}{}\n", f.id, Date(f.date_days()),
                                  place(f.departure), place(f.arrival),
                                  f.complete ? "" : " (the recording ends before the stop)");
    out += fmt::format("File {}, bytes {} to {}\n", TerminalSafe(f.file), f.begin_offset,
                       f.end_offset);
    if (!f.implausible.empty()) {
        out += "Implausible for a light aircraft, so left out of the totals: " + f.implausible +
               ". A recording of a host sped up (kestrun-host --speed) shows such figures.\n";
    }
    for (const std::string_view name : kPilotFieldNames) {
        const std::string& text = PilotField(f.fields, name);
        if (!text.empty()) {
            out += fmt::format("{}{}: {}\n", static_cast<char>(name[0] - 'a' + 'A'), name.substr(1),
                               TerminalSafe(text));
        }
    }
    out += fmt::format("Off-block {}  takeoff {}  landing {}  on-block {}  (- unknown)\n",
                       Clock(f.off_block), Clock(f.takeoff), Clock(f.landing), Clock(f.on_block));
    out += fmt::format(
        "Air time {}  block time {}  distance {:.1f} nm  highest {:.0f} ft  fastest {:.0f} kt\n",
        Duration(f.air_time_s()), Duration(f.block_time_s()), f.distance_m / kMetresPerNauticalMile,
        f.max_altitude_m * kFeetPerMetre, f.max_ias_kt);
    out += "Phases:\n";
    for (const PhaseRow& p : phases)
        out += fmt::format("  {}  {}\n", ClockTime(p.start_time), p.phase);
    out += FormatLandingLine(f) + "\n";
    return out + JudgementText(judgement);
}

std::string FormatStats(const std::vector<FlightRow>& flights, TableFormat format) {
    // Implausible flights (a host sped up) are counted apart, not in the totals.
    Totals all, left_out;
    std::map<std::string, Totals> months, pairs, aircraft;
    for (const FlightRow& f : flights) {
        if (!f.implausible.empty()) {
            left_out.Add(f);
            continue;
        }
        all.Add(f);
        months[Date(f.date_days()).substr(0, 7)].Add(f);
        pairs[(f.departure.empty() ? "?" : f.departure) + "-" +
              (f.arrival.empty() ? "?" : f.arrival)]
            .Add(f);
        aircraft[f.fields.aircraft.empty() ? "?" : f.fields.aircraft].Add(f);
    }
    Json by_month = Json::array(), by_pair = Json::array(), by_aircraft = Json::array();
    for (const auto& [month, t] : months) by_month.push_back(t.ToJson("month", month));
    for (const auto& [pair, t] : pairs) by_pair.push_back(t.ToJson("route", pair));
    for (const auto& [type, t] : aircraft) by_aircraft.push_back(t.ToJson("aircraft", type));
    if (format == TableFormat::kJson) {
        Json j;
        j["total"] = all.ToJson("", "");
        j["by_month"] = by_month;
        j["by_route"] = by_pair;
        j["by_aircraft"] = by_aircraft;
        j["implausible_left_out"] = left_out.ToJson("", "");
        return JsonText(j, 2) + "\n";
    }
    if (format == TableFormat::kCsv) {
        // One table: the total first, then the months, the routes, the
        // aircraft, and what was left out of them all.
        Json rows = Json::array();
        Json total = all.ToJson("", "");
        total["group"] = "total";
        total["name"] = "";
        rows.push_back(total);
        for (auto [list, group] : {std::pair{&by_month, "month"}, std::pair{&by_pair, "route"},
                                   std::pair{&by_aircraft, "aircraft"}}) {
            for (Json row : *list) {
                row["name"] = row.at(group);
                row["group"] = group;
                rows.push_back(row);
            }
        }
        Json implausible = left_out.ToJson("", "");
        implausible["group"] = "implausible_left_out";
        implausible["name"] = "";
        rows.push_back(implausible);
        return Csv(rows, {"group", "name", "flights", "landings", "air_hours", "block_hours",
                          "distance_nm"});
    }
    Json total = Json::array({all.ToJson("", "")});
    std::string out = StatsTable(total, "Total", "") + "\n" +
                      StatsTable(by_month, "By month", "month") + "\n" +
                      StatsTable(by_pair, "By route", "route") + "\n" +
                      StatsTable(by_aircraft, "By aircraft", "aircraft");
    if (left_out.flights > 0) {
        out += fmt::format(
            "\nLeft out of every total above: {} implausible flight{} (marked ! in list)\n",
            left_out.flights, left_out.flights == 1 ? "" : "s");
    }
    return out;
}

}  // namespace kestrun
