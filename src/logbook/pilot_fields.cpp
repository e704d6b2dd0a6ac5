#include "logbook/pilot_fields.h"

#include <fmt/format.h>

#include <algorithm>

namespace kestrun {

namespace {

template <typename Fields>
auto& FieldOf(Fields& fields, std::string_view name) {
    return name == "aircraft"       ? fields.aircraft
           : name == "registration" ? fields.registration
           : name == "pilot"        ? fields.pilot
                                    : fields.remarks;
}

}  // namespace

std::string& PilotField(PilotFields& fields, std::string_view name) {
    return FieldOf(fields, name);
}

const std::string& PilotField(const PilotFields& fields, std::string_view name) {
    return FieldOf(fields, name);
}

Status LoadPilotDefaults(Database& db, PilotFields& defaults) {
    defaults = PilotFields{};
    Statement query;
    Status status = db.Prepare("SELECT name, value FROM flight_defaults", query);
    if (!status.ok()) return status;
    while (query.Step()) PilotField(defaults, query.Text(0)) = query.Text(1);
    return query.status();
}

Status SetPilotDefault(Database& db, std::string_view name, const std::string& value) {
    Statement change;
    Status status = db.Prepare(value.empty() ? "DELETE FROM flight_defaults WHERE name = ?1"
                                             : "INSERT INTO flight_defaults VALUES (?1, ?2) "
                                               "ON CONFLICT(name) DO UPDATE SET value = ?2",
                               change);
    if (!status.ok()) return status;
    change.Bind(1, name);
    if (!value.empty()) change.Bind(2, value);
    return change.Run();
}

Status EditPilotFields(Database& db, std::int64_t id,
                       const std::vector<std::pair<std::string, std::string>>& changes,
                       bool& found) {
    found = false;
    std::int64_t count = 0;
    Status status = db.BeginImmediate();
    if (!status.ok()) return status;
    status = db.QueryInt(fmt::format("SELECT count(*) FROM flights WHERE id = {}", id), count);
    found = status.ok() && count > 0;
    for (const auto& [name, value] : changes) {
        if (!status.ok() || !found) break;
        // The column is named by the list of fields, never by the caller's text.
        const auto column = std::find(kPilotFieldNames.begin(), kPilotFieldNames.end(), name);
        if (column == kPilotFieldNames.end()) {
            status = Status::Error("there is no field " + name);
            break;
        }
        Statement update;
        status =
            db.Prepare(fmt::format("UPDATE flights SET {} = ?1 WHERE id = ?2", *column), update);
        if (status.ok()) status = update.Bind(1, value).Bind(2, id).Run();
    }
    if (!status.ok()) {
        static_cast<void>(db.Exec("ROLLBACK"));
        return status;
    }
    return db.Exec("COMMIT");
}

Status FlightsToRefile(Database& db, std::int64_t file_id, std::int64_t begin,
                       std::vector<FiledFlight>& filed) {
    Statement query;
    Status status = db.Prepare(
        "SELECT first_time, last_time, aircraft, registration, pilot, remarks FROM flights "
        "WHERE file_id = ?1 AND (begin_offset >= ?2 OR complete = 0) ORDER BY first_time",
        query);
    if (!status.ok()) return status;
    query.Bind(1, file_id).Bind(2, begin);
    while (query.Step()) {
        filed.push_back({query.Int(0), query.Int(1),
                         PilotFields{query.Text(2), query.Text(3), query.Text(4), query.Text(5)}});
    }
    return query.status();
}

PilotFields RefiledFields(const std::vector<FiledFlight>& filed, std::int64_t first_time,
                          std::int64_t last_time, const PilotFields& defaults) {
    PilotFields fields;
    bool matched = false;
    for (const FiledFlight& before : filed) {
        if (before.last_time < first_time || before.first_time > last_time) continue;
        matched = true;
        for (const std::string_view name : kPilotFieldNames) {
            std::string& kept = PilotField(fields, name);
            const std::string& text = PilotField(before.fields, name);
            if (text.empty() ||
                ("; " + kept + "; ").find("; " + text + "; ") != std::string::npos) {
                continue;
            }
            kept += (kept.empty() ? "" : "; ") + text;
        }
    }
    // A flight found again keeps even the fields its pilot cleared.
    return matched ? fields : defaults;
}

}  // namespace kestrun
