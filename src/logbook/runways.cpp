#include "logbook/runways.h"

#include <fmt/format.h>
#include <zlib.h>

#include <chrono>
#include <cmath>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <functional>
#include <map>
#include <numbers>
#include <sstream>

#include "protocol/host_units.h"
#include "recordfile/track_length.h"

namespace kestrun {
namespace {

// A runway list that does not say how wide: a light aircraft's runway.
constexpr double kUnknownWidthM = 30;

using RunwayFound = std::function<Status(const Runway&)>;

bool Number(const std::string& text, double& value) {
    if (text.empty()) return false;
    char* end = nullptr;
    value = std::strtod(text.c_str(), &end);
    return end == text.c_str() + text.size() && std::isfinite(value);
}

bool Position(const std::string& lat_text, const std::string& lon_text, GeoPoint& point) {
    return Number(lat_text, point.latitude_deg) && Number(lon_text, point.longitude_deg) &&
           std::fabs(point.latitude_deg) <= 90 && std::fabs(point.longitude_deg) <= 180;
}

// One line of CSV as RFC 4180 has it (quoted fields with doubled quotes);
// false for a quote left open.
bool SplitCsv(const std::string& line, std::vector<std::string>& fields) {
    fields.assign(1, {});
    bool quoted = false;
    for (std::size_t i = 0; i < line.size(); ++i) {
        const char c = line[i];
        if (quoted) {
            if (c != '"') {
                fields.back() += c;
            } else if (i + 1 < line.size() && line[i + 1] == '"') {
                fields.back() += '"';
                ++i;
            } else {
                quoted = false;
            }
        } else if (c == '"') {
            quoted = true;
        } else if (c == ',') {
            fields.emplace_back();
        } else {
            fields.back() += c;
        }
    }
    return !quoted;
}

Status ReadRunwayCsv(const std::string& path, const RunwayFound& found, RunwayImport& result) {
    std::ifstream in(path);
    if (!in) return Status::Error("cannot open the runway list " + path);
    std::map<std::string, std::size_t> column;
    std::vector<std::string> fields;
    std::string line;
    int number = 0;
    auto bad = [&](const std::string& why) {
        return Status::Error(fmt::format("{}:{}: {}", path, number, why));
    };
    auto field = [&](const char* name) -> std::string {
        const auto it = column.find(name);
        return it != column.end() && it->second < fields.size() ? fields[it->second] : "";
    };
    auto feet = [&](const char* name, std::optional<double>& metres) -> bool {
        const std::string text = field(name);
        double value = 0;
        if (text.empty()) return true;
        if (!Number(text, value)) return false;
        metres = value * kMetresPerFoot;
        return true;
    };
    while (std::getline(in, line)) {
        ++number;
        if (!line.empty() && line.back() == '\r') line.pop_back();
        if (!SplitCsv(line, fields)) return bad("a quoted field does not end");
        if (number == 1) {
            for (std::size_t i = 0; i < fields.size(); ++i) column[fields[i]] = i;
            for (const char* needed :
                 {"airport_ident", "le_ident", "le_latitude_deg", "le_longitude_deg", "he_ident",
                  "he_latitude_deg", "he_longitude_deg"}) {
                if (!column.contains(needed)) return bad(std::string("no column ") + needed);
            }
            continue;
        }
        if (line.empty()) continue;
        if (fields.size() != column.size()) {
            return bad(fmt::format("expected {} fields", column.size()));
        }
        Runway runway;
        runway.airport = field("airport_ident");
        if (runway.airport.empty()) return bad("the airport_ident is empty");
        if (!Position(field("le_latitude_deg"), field("le_longitude_deg"),
                      runway.ends[0].threshold) ||
            !Position(field("he_latitude_deg"), field("he_longitude_deg"),
                      runway.ends[1].threshold)) {
            ++result.skipped;
            continue;
        }
        std::optional<double> width, displaced[2];
        if (!feet("width_ft", width) || !feet("le_elevation_ft", runway.ends[0].elevation_m) ||
            !feet("he_elevation_ft", runway.ends[1].elevation_m) ||
            !feet("le_displaced_threshold_ft", displaced[0]) ||
            !feet("he_displaced_threshold_ft", displaced[1])) {
            return bad("a width, elevation or displaced threshold is not a number of feet");
        }
        runway.width_m = width.value_or(kUnknownWidthM);
        runway.ends[0].ident = field("le_ident");
        runway.ends[1].ident = field("he_ident");
        runway.ends[0].displaced_m = displaced[0].value_or(0);
        runway.ends[1].displaced_m = displaced[1].value_or(0);
        Status status = found(runway);
        if (!status.ok()) return status;
    }
    if (number == 0) return Status::Error(path + " is empty");
    return Status::Ok();
}

// FlightGear's apt.dat: an airport header ("1 ELEVATION_FT x x IDENT ...",
// also row codes 16 and 17) and its land runways: "100 WIDTH_M ..." with,
// from the ninth word on, each end's number, latitude, longitude and
// displaced threshold in metres.
Status ReadAptDatRunways(const std::string& path, const RunwayFound& found, RunwayImport& result) {
    gzFile file = gzopen(path.c_str(), "rb");
    if (file == nullptr) return Status::Error("cannot open the runway list " + path);
    std::string airport;
    std::optional<double> elevation_m;
    std::string line;
    std::vector<std::string> w;
    char buffer[4096];
    Status status = Status::Ok();
    while (status.ok() && gzgets(file, buffer, sizeof buffer) != nullptr) {
        line += buffer;
        if (line.back() != '\n' && !gzeof(file)) continue;
        // Most of the file is taxiways and signs: look at the row code first.
        const std::string_view row =
            std::string_view(line).substr(std::min(line.size(), line.find_first_not_of(' ')));
        const bool header =
            row.starts_with("1 ") || row.starts_with("16 ") || row.starts_with("17 ");
        const bool runway_row = row.starts_with("100 ");
        if (header || runway_row) {
            std::istringstream words(line);
            w.clear();
            for (std::string word; words >> word;) w.push_back(word);
            double value = 0;
            if (header && w.size() >= 5) {
                airport = w[4];
                elevation_m.reset();
                if (Number(w[1], value)) elevation_m = value * kMetresPerFoot;
            } else if (runway_row && !airport.empty() && w.size() >= 21) {
                Runway runway;
                runway.airport = airport;
                runway.airport_elevation_m = elevation_m;
                runway.width_m = Number(w[1], value) ? value : kUnknownWidthM;
                for (int end = 0; end < 2; ++end) {
                    const std::size_t at = 8 + 9 * static_cast<std::size_t>(end);
                    runway.ends[end].ident = w[at];
                    if (!Position(w[at + 1], w[at + 2], runway.ends[end].threshold)) {
                        runway.width_m = -1;
                    }
                    if (Number(w[at + 3], value)) runway.ends[end].displaced_m = value;
                }
                if (runway.width_m < 0) {
                    ++result.skipped;
                } else {
                    status = found(runway);
                }
            }
        }
        line.clear();
    }
    int error = Z_OK;
    const char* message = gzerror(file, &error);
    const std::string why = message != nullptr ? message : "";
    gzclose(file);
    if (!status.ok()) return status;
    if (error != Z_OK && error != Z_STREAM_END) {
        return Status::Error("cannot read the runway list " + path + ": " + why);
    }
    return Status::Ok();
}

bool EndsWith(const std::string& text, std::string_view end) {
    return text.size() >= end.size() &&
           text.compare(text.size() - end.size(), end.size(), end) == 0;
}

constexpr double kMetresPerDegree = kEarthMeanRadiusMetres * std::numbers::pi / 180;

}  // namespace

Status UpdateRunways(Database& db, const std::string& path, RunwayImport& result) {
    result = RunwayImport{};
    namespace fs = std::filesystem;
    std::error_code error;
    const auto size = fs::file_size(path, error);
    const auto mtime = fs::last_write_time(path, error);
    if (error) return Status::Error("cannot find the runway list " + path);
    const auto mtime_ns = static_cast<std::int64_t>(
        std::chrono::duration_cast<std::chrono::nanoseconds>(mtime.time_since_epoch()).count());
    Statement same;
    Status status = db.Prepare(
        "SELECT count(*) FROM runway_source WHERE path = ?1 AND size = ?2 AND mtime_ns = ?3", same);
    if (!status.ok()) return status;
    same.Bind(1, path).Bind(2, static_cast<std::int64_t>(size)).Bind(3, mtime_ns);
    if (same.Step() && same.Int(0) > 0) return Status::Ok();

    status = db.Exec("DELETE FROM runways; DELETE FROM runway_boxes; DELETE FROM runway_source");
    Statement add, box;
    if (status.ok()) {
        status = db.Prepare(
            "INSERT INTO runways(airport, width_m, airport_elevation_m, le_ident, le_lat, le_lon, "
            "le_displaced_m, le_elevation_m, he_ident, he_lat, he_lon, he_displaced_m, "
            "he_elevation_m) VALUES (?1, ?2, ?3, ?4, ?5, ?6, ?7, ?8, ?9, ?10, ?11, ?12, ?13)",
            add);
    }
    if (status.ok())
        status = db.Prepare("INSERT INTO runway_boxes VALUES (?1, ?2, ?3, ?4, ?5)", box);
    if (!status.ok()) return status;
    const RunwayFound found = [&](const Runway& r) {
        add.Bind(1, r.airport).Bind(2, r.width_m).Bind(3, r.airport_elevation_m);
        for (int end = 0; end < 2; ++end) {
            const RunwayEnd& e = r.ends[end];
            const int at = 4 + 5 * end;
            add.Bind(at, e.ident).Bind(at + 1, e.threshold.latitude_deg);
            add.Bind(at + 2, e.threshold.longitude_deg).Bind(at + 3, e.displaced_m);
            add.Bind(at + 4, e.elevation_m);
        }
        Status written = add.Run();
        if (!written.ok()) return written;
        const GeoPoint& a = r.ends[0].threshold;
        const GeoPoint& b = r.ends[1].threshold;
        ++result.runways;
        return box.Bind(1, db.LastInsertId())
            .Bind(2, std::min(a.latitude_deg, b.latitude_deg))
            .Bind(3, std::max(a.latitude_deg, b.latitude_deg))
            .Bind(4, std::min(a.longitude_deg, b.longitude_deg))
            .Bind(5, std::max(a.longitude_deg, b.longitude_deg))
            .Run();
    };
    status = EndsWith(path, ".gz") || EndsWith(path, ".dat")
                 ? ReadAptDatRunways(path, found, result)
                 : ReadRunwayCsv(path, found, result);
    if (!status.ok()) return status;
    Statement source;
    status = db.Prepare("INSERT INTO runway_source VALUES (1, ?1, ?2, ?3)", source);
    if (status.ok()) {
        status =
            source.Bind(1, path).Bind(2, static_cast<std::int64_t>(size)).Bind(3, mtime_ns).Run();
    }
    result.imported = status.ok();
    return status;
}

std::vector<Runway> LogbookRunways::RunwaysNear(const GeoPoint& point, double reach_m) {
    std::vector<Runway> runways;
    if (!any_) {
        std::int64_t count = 0;
        any_ = !db_.QueryInt("SELECT EXISTS (SELECT 1 FROM runways)", count).ok() || count != 0;
    }
    if (!*any_) return runways;
    Statement* kept = nullptr;
    Status status = db_.PrepareKept(
        "SELECT r.airport, r.width_m, r.airport_elevation_m, r.le_ident, r.le_lat, r.le_lon, "
        "r.le_displaced_m, r.le_elevation_m, r.he_ident, r.he_lat, r.he_lon, r.he_displaced_m, "
        "r.he_elevation_m FROM runway_boxes b JOIN runways r ON r.id = b.id WHERE b.max_lat >= ?1 "
        "AND b.min_lat <= ?2 AND b.max_lon >= ?3 AND b.min_lon <= ?4",
        kept);
    if (status.ok()) {
        // Runways near the date line are rare enough to be looked up on one
        // side only.
        const double dlat = reach_m / kMetresPerDegree;
        const double cos_lat = std::cos(point.latitude_deg * std::numbers::pi / 180);
        const double dlon = cos_lat > 0.01 ? dlat / cos_lat : 180.0;
        Statement& query = *kept;
        query.Bind(1, point.latitude_deg - dlat).Bind(2, point.latitude_deg + dlat);
        query.Bind(3, point.longitude_deg - dlon).Bind(4, point.longitude_deg + dlon);
        while (query.Step()) {
            Runway r;
            r.airport = query.Text(0);
            r.width_m = query.Real(1);
            r.airport_elevation_m = query.OptReal(2);
            for (int end = 0; end < 2; ++end) {
                const int at = 3 + 5 * end;
                r.ends[end].ident = query.Text(at);
                r.ends[end].threshold = {query.Real(at + 1), query.Real(at + 2)};
                r.ends[end].displaced_m = query.Real(at + 3);
                r.ends[end].elevation_m = query.OptReal(at + 4);
            }
            runways.push_back(std::move(r));
        }
        status = query.status();
        query.Reset();
    }
    if (!status.ok() && status_.ok()) status_ = status;
    return runways;
}

Status LoadAirportRunways(Database& db, const std::vector<std::string>& idents,
                          std::vector<Runway>& runways) {
    runways.clear();
    Statement query;
    Status status = db.Prepare(
        "SELECT airport, width_m, le_ident, le_lat, le_lon, le_displaced_m, he_ident, he_lat, "
        "he_lon, he_displaced_m FROM runways WHERE airport = ?1 ORDER BY id",
        query);
    for (const std::string& ident : idents) {
        if (!status.ok() || ident.empty()) continue;
        query.Reset();
        query.Bind(1, ident);
        while (query.Step()) {
            Runway runway;
            runway.airport = query.Text(0);
            runway.width_m = query.Real(1);
            for (int end = 0; end < 2; ++end) {
                const int at = 2 + 4 * end;
                runway.ends[end].ident = query.Text(at);
                runway.ends[end].threshold = {query.Real(at + 1), query.Real(at + 2)};
                runway.ends[end].displaced_m = query.Real(at + 3);
            }
            runways.push_back(std::move(runway));
        }
        status = query.status();
    }
    return status;
}

}  // namespace kestrun
