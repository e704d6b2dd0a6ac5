#include "logbook/flight_rows.h"

#include "recordfile/civil_date.h"

namespace kestrun {
namespace {

constexpr const char* kColumns =
    "SELECT f.id, files.path, f.begin_offset, f.end_offset, f.complete, f.first_time, "
    "f.last_time, f.off_block, f.takeoff, f.landing, f.on_block, f.distance_m, "
    "f.max_altitude_m, f.max_ias_kt, f.touchdown_fpm, f.touchdown_ias_kt, "
    "f.touchdown_pitch_deg, f.touchdown_bank_deg, f.touch_and_goes, f.departure, f.arrival, "
    "l.runway, l.touchdown_distance_m, f.aircraft, f.registration, f.pilot, f.remarks, "
    "coalesce(f.implausible, '') "
    "FROM flights f JOIN files ON files.id = f.file_id "
    "LEFT JOIN landings l ON l.flight_id = f.id AND l.kind = 'final' ";

FlightRow ReadRow(const Statement& s) {
    FlightRow r;
    r.id = s.Int(0);
    r.file = s.Text(1);
    r.begin_offset = s.Int(2);
    r.end_offset = s.Int(3);
    r.complete = s.Int(4) != 0;
    r.first_time = s.Int(5);
    r.last_time = s.Int(6);
    r.off_block = s.OptInt(7);
    r.takeoff = s.OptInt(8);
    r.landing = s.OptInt(9);
    r.on_block = s.OptInt(10);
    r.distance_m = s.Real(11);
    r.max_altitude_m = s.Real(12);
    r.max_ias_kt = s.Real(13);
    r.touchdown_fpm = s.OptReal(14);
    r.touchdown_ias_kt = s.OptReal(15);
    r.touchdown_pitch_deg = s.OptReal(16);
    r.touchdown_bank_deg = s.OptReal(17);
    r.touch_and_goes = static_cast<int>(s.Int(18));
    r.departure = s.Text(19);
    r.arrival = s.Text(20);
    r.runway = s.Text(21);
    r.touchdown_distance_m = s.OptReal(22);
    r.fields = PilotFields{s.Text(23), s.Text(24), s.Text(25), s.Text(26)};
    r.implausible = s.Text(27);
    return r;
}

}  // namespace

std::int64_t DayOf(std::int64_t local_seconds) {
    const std::int64_t day = local_seconds / kSecondsPerDay;
    return local_seconds % kSecondsPerDay < 0 ? day - 1 : day;
}

std::int64_t FlightRow::date_days() const { return DayOf(takeoff.value_or(first_time)); }

std::optional<std::int64_t> FlightRow::air_time_s() const {
    if (!takeoff || !landing) return std::nullopt;
    return *landing - *takeoff;
}

std::optional<std::int64_t> FlightRow::block_time_s() const {
    if (!off_block || !on_block) return std::nullopt;
    return *on_block - *off_block;
}

Status LoadFlights(Database& db, const FlightFilter& filter, std::vector<FlightRow>& rows) {
    Statement query;
    // Airport idents compare without case: "kpao" finds KPAO.
    Status status = db.Prepare(std::string(kColumns) +
                                   "WHERE (?1 = '' OR f.departure = ?1 COLLATE NOCASE "
                                   "OR f.arrival = ?1 COLLATE NOCASE) "
                                   "ORDER BY coalesce(f.takeoff, f.first_time), f.id",
                               query);
    if (!status.ok()) return status;
    query.Bind(1, filter.airport);
    while (query.Step()) {
        FlightRow row = ReadRow(query);
        const std::int64_t day = row.date_days();
        if (filter.from_days && day < *filter.from_days) continue;
        if (filter.to_days && day > *filter.to_days) continue;
        rows.push_back(std::move(row));
    }
    return query.status();
}

Status HasFlights(Database& db, bool& any) {
    Statement query;
    Status status = db.Prepare("SELECT EXISTS (SELECT 1 FROM flights)", query);
    if (!status.ok()) return status;
    any = query.Step() && query.Int(0) != 0;
    return query.status();
}

Status LoadFlight(Database& db, std::int64_t id, std::optional<FlightRow>& row) {
    Statement query;
    Status status = db.Prepare(std::string(kColumns) + "WHERE f.id = ?1", query);
    if (!status.ok()) return status;
    query.Bind(1, id);
    if (query.Step()) row = ReadRow(query);
    return query.status();
}

Status LoadPhases(Database& db, std::int64_t flight_id, std::vector<PhaseRow>& phases) {
    Statement query;
    Status status =
        db.Prepare("SELECT phase, start_time FROM phases WHERE flight_id = ?1 ORDER BY seq", query);
    if (!status.ok()) return status;
    query.Bind(1, flight_id);
    while (query.Step()) phases.push_back({query.Text(0), query.Int(1)});
    return query.status();
}

}  // namespace kestrun
