#include "logbook/judgement_rows.h"

#include <sstream>

namespace kestrun {
namespace {

std::optional<std::string> Named(const std::string& text) {
    return text.empty() ? std::nullopt : std::optional(text);
}

// Reasons are kept one a line.
std::string JoinLines(const std::vector<std::string>& lines) {
    std::string text;
    for (const std::string& line : lines) text += (text.empty() ? "" : "\n") + line;
    return text;
}

}  // namespace

Status StoreJudgement(Database& db, std::int64_t flight_id, std::int64_t day_start,
                      const FlightJudgement& j, const std::string& arrival) {
    const auto local = [day_start](double seconds) { return static_cast<double>(day_start) + seconds; };
    Statement* s = nullptr;
    Status status = Status::Ok();
    if (j.takeoff) {
        status = db.PrepareKept("INSERT INTO takeoffs VALUES (?1, ?2, ?3, ?4, ?5)", s);
        if (status.ok()) {
            status = s->Bind(1, flight_id)
                         .Bind(2, Named(j.takeoff->airport))
                         .Bind(3, Named(j.takeoff->runway))
                         .Bind(4, j.takeoff->roll_m)
                         .Bind(5, j.takeoff->liftoff_distance_m)
                         .Run();
        }
    }
    if (status.ok() && !j.touchdowns.empty()) {
        status = db.PrepareKept(
            "INSERT INTO landings VALUES (?1, ?2, ?3, ?4, ?5, ?6, ?7, ?8, ?9, ?10, ?11, ?12, ?13, "
            "?14, ?15, ?16, ?17)",
            s);
    }
    for (std::size_t i = 0; status.ok() && i < j.touchdowns.size(); ++i) {
        const TouchdownJudgement& t = j.touchdowns[i];
        const std::string airport = t.airport.empty() && t.final ? arrival : t.airport;
        status = s->Bind(1, flight_id)
                     .Bind(2, static_cast<std::int64_t>(i))
                     .Bind(3, std::string_view(t.final ? "final" : "touch_and_go"))
                     .Bind(4, local(t.seconds))
                     .Bind(5, Named(airport))
                     .Bind(6, Named(t.runway))
                     .Bind(7, std::string_view(t.rolled_level ? "rolled" : "elevation"))
                     .Bind(8, t.touchdown_distance_m)
                     .Bind(9, t.centreline_offset_m)
                     .Bind(10, t.crab_deg)
                     .Bind(11, t.touchdown_fpm)
                     .Bind(12, t.ias_kt)
                     .Bind(13, t.pitch_deg)
                     .Bind(14, t.bank_deg)
                     .Bind(15, std::int64_t{t.bounces})
                     .Bind(16, t.roll_m)
                     .Bind(17, t.remaining_m)
                     .Run();
    }
    if (status.ok() && !j.go_arounds.empty()) {
        status = db.PrepareKept("INSERT INTO go_arounds VALUES (?1, ?2, ?3, ?4, ?5, ?6, ?7)", s);
    }
    for (std::size_t i = 0; status.ok() && i < j.go_arounds.size(); ++i) {
        const GoAround& g = j.go_arounds[i];
        status = s->Bind(1, flight_id)
                     .Bind(2, static_cast<std::int64_t>(i))
                     .Bind(3, local(g.seconds))
                     .Bind(4, g.airport)
                     .Bind(5, g.runway)
                     .Bind(6, std::string_view(g.rolled_level ? "rolled" : "elevation"))
                     .Bind(7, g.lowest_ft_agl)
                     .Run();
    }
    if (status.ok() && j.approach) {
        const ApproachJudgement& a = *j.approach;
        status = db.PrepareKept("INSERT INTO approaches VALUES (?1, ?2, ?3, ?4, ?5)", s);
        if (status.ok()) {
            status = s->Bind(1, flight_id)
                         .Bind(2, a.airport)
                         .Bind(3, a.runway)
                         .Bind(4, std::int64_t{a.stable})
                         .Bind(5, JoinLines(a.reasons))
                         .Run();
        }
        if (status.ok()) {
            status = db.PrepareKept(
                "INSERT INTO approach_gates VALUES (?1, ?2, ?3, ?4, ?5, ?6, ?7)", s);
        }
        for (std::size_t i = 0; status.ok() && i < a.gates.size(); ++i) {
            const ApproachGate& g = a.gates[i];
            status = s->Bind(1, flight_id)
                         .Bind(2, g.height_ft)
                         .Bind(3, g.ias_kt)
                         .Bind(4, g.sink_fpm)
                         .Bind(5, g.bank_deg)
                         .Bind(6, g.glidepath_dev_deg)
                         .Bind(7, g.centreline_dev_m)
                         .Run();
        }
    }
    if (status.ok() && !j.events.empty()) {
        status = db.PrepareKept("INSERT INTO events VALUES (?1, ?2, ?3, ?4, ?5, ?6, ?7)", s);
    }
    for (std::size_t i = 0; status.ok() && i < j.events.size(); ++i) {
        const FlightEvent& e = j.events[i];
        status = s->Bind(1, flight_id)
                     .Bind(2, static_cast<std::int64_t>(i))
                     .Bind(3, local(e.seconds))
                     .Bind(4, e.kind)
                     .Bind(5, e.peak)
                     .Bind(6, e.limit)
                     .Bind(7, e.duration_s)
                     .Run();
    }
    return status;
}

Status LoadJudgement(Database& db, std::int64_t flight_id, FlightJudgement& j) {
    j = FlightJudgement{};
    Statement q;
    Status status = db.Prepare(
        "SELECT airport, runway, roll_m, liftoff_distance_m FROM takeoffs WHERE flight_id = ?1", q);
    if (!status.ok()) return status;
    q.Bind(1, flight_id);
    if (q.Step()) {
        j.takeoff = TakeoffJudgement{q.Text(0), q.Text(1), q.Real(2), q.OptReal(3)};
    }
    if (!q.status().ok()) return q.status();

    status = db.Prepare(
        "SELECT kind, time, airport, runway, ground_level, touchdown_distance_m, "
        "centreline_offset_m, crab_deg, touchdown_fpm, ias_kt, pitch_deg, bank_deg, bounces, "
        "roll_m, remaining_m FROM landings WHERE flight_id = ?1 ORDER BY seq",
        q);
    if (!status.ok()) return status;
    q.Bind(1, flight_id);
    while (q.Step()) {
        TouchdownJudgement t;
        t.final = q.Text(0) == "final";
        t.seconds = q.Real(1);
        t.airport = q.Text(2);
        t.runway = q.Text(3);
        t.rolled_level = q.Text(4) != "elevation";
        t.touchdown_distance_m = q.OptReal(5);
        t.centreline_offset_m = q.OptReal(6);
        t.crab_deg = q.OptReal(7);
        t.touchdown_fpm = q.OptReal(8);
        t.ias_kt = q.Real(9);
        t.pitch_deg = q.Real(10);
        t.bank_deg = q.Real(11);
        t.bounces = static_cast<int>(q.Int(12));
        t.roll_m = q.OptReal(13);
        t.remaining_m = q.OptReal(14);
        j.touchdowns.push_back(std::move(t));
    }
    if (!q.status().ok()) return q.status();

    status = db.Prepare(
        "SELECT time, airport, runway, ground_level, lowest_ft_agl FROM go_arounds WHERE flight_id = ?1 ORDER "
        "BY seq",
        q);
    if (!status.ok()) return status;
    q.Bind(1, flight_id);
    while (q.Step()) {
        j.go_arounds.push_back({q.Real(0), q.Text(1), q.Text(2), q.Text(3) == "rolled", q.Real(4)});
    }
    if (!q.status().ok()) return q.status();

    status = db.Prepare("SELECT airport, runway, stable, reasons FROM approaches WHERE flight_id = ?1", q);
    if (!status.ok()) return status;
    q.Bind(1, flight_id);
    if (q.Step()) {
        ApproachJudgement a;
        a.airport = q.Text(0);
        a.runway = q.Text(1);
        a.stable = q.Int(2) != 0;
        std::istringstream reasons(q.Text(3));
        for (std::string line; std::getline(reasons, line);) a.reasons.push_back(line);
        j.approach = std::move(a);
    }
    if (!q.status().ok()) return q.status();
    if (j.approach) {
        status = db.Prepare(
            "SELECT height_ft, ias_kt, sink_fpm, bank_deg, glidepath_dev_deg, centreline_dev_m "
            "FROM approach_gates WHERE flight_id = ?1 ORDER BY height_ft DESC",
            q);
        if (!status.ok()) return status;
        q.Bind(1, flight_id);
        while (q.Step()) {
            j.approach->gates.push_back(
                {q.Real(0), q.Real(1), q.Real(2), q.Real(3), q.Real(4), q.Real(5)});
        }
        if (!q.status().ok()) return q.status();
    }

    status = db.Prepare(
        "SELECT time, kind, peak, limit_value, duration_s FROM events WHERE flight_id = ?1 ORDER "
        "BY seq",
        q);
    if (!status.ok()) return status;
    q.Bind(1, flight_id);
    while (q.Step()) j.events.push_back({q.Real(0), q.Text(1), q.Real(2), q.Real(3), q.Real(4)});
    return q.status();
}

}  // namespace kestrun
