#include "logbook/airports.h"

#include <fmt/format.h>

#include <cmath>
#include <cstdlib>
#include <functional>
#include <numbers>
#include <sstream>
#include <vector>

#include "logbook/csv_reader.h"
#include "logbook/text_input.h"
#include "platform/posix/posix_file_system.h"
#include "recordfile/track_length.h"

namespace kestrun {
namespace {

struct Airport {
    std::string ident;
    double latitude = 0;
    double longitude = 0;
    std::optional<double> elevation_ft;
};

using AirportFound = std::function<void(const Airport&)>;

bool ParseNumber(const std::string& text, double& value) {
    if (text.empty()) return false;
    char* end = nullptr;
    value = std::strtod(text.c_str(), &end);
    return end == text.c_str() + text.size() && std::isfinite(value);
}

// Bounds on what is read from an airport list. Real lists stay far below
// them: idents are a few letters, apt.dat lines under a few hundred bytes.
constexpr std::size_t kMaxCsvFieldBytes = 256;
constexpr std::size_t kMaxAptDatLineBytes = std::size_t{1} << 16;
constexpr std::size_t kMaxIdentBytes = 64;

Status ReadCsv(InputFile& file, const std::string& path, const AirportFound& found) {
    FileSource source(file);
    CsvReader csv(source, path, kMaxCsvFieldBytes, 4);
    CsvRecord record;
    bool header = true;
    auto bad = [&](const std::string& why) {
        return Status::Error(fmt::format("{}:{}: {}", path, record.line, why));
    };
    while (csv.Next(record)) {
        const std::vector<std::string>& fields = record.fields;
        if (header) {
            header = false;
            if (record.field_count != 4 || fields[0] != "ident" || fields[1] != "latitude" ||
                fields[2] != "longitude" || fields[3] != "elevation_ft") {
                return bad("the first line must be ident,latitude,longitude,elevation_ft");
            }
            continue;
        }
        if (record.field_count == 1 && fields[0].empty()) continue;  // an empty line
        Airport airport;
        double elevation = 0;
        if (record.field_count != 4) return bad("expected four fields");
        airport.ident = fields[0];
        if (airport.ident.empty()) return bad("the ident is empty");
        if (airport.ident.size() > kMaxIdentBytes) {
            return bad(fmt::format("the ident is longer than {} bytes", kMaxIdentBytes));
        }
        if (!ParseNumber(fields[1], airport.latitude) || std::fabs(airport.latitude) > 90 ||
            !ParseNumber(fields[2], airport.longitude) || std::fabs(airport.longitude) > 180) {
            return bad("latitude and longitude must be degrees, north and east positive");
        }
        if (!fields[3].empty()) {
            if (!ParseNumber(fields[3], elevation)) return bad("the elevation is not a number");
            airport.elevation_ft = elevation;
        }
        found(airport);
    }
    if (!csv.status().ok()) return csv.status();
    if (header) return Status::Error(path + " is empty");
    return Status::Ok();
}

// FlightGear's apt.dat: an airport header line (row code 1, 16 or 17:
// "1 ELEVATION_FT x x IDENT NAME") followed by its runways and helipads,
// whose ends give its position unless a datum line gives it directly.
class AptDatReader {
  public:
    explicit AptDatReader(const AirportFound& found) : found_(found) {}

    // False when the line names an airport with an ident past the bound.
    bool Line(std::string_view line) {
        // Most of the file is taxiways, signs and frequencies: look at the
        // row code before splitting the line.
        const std::size_t start = line.find_first_not_of(' ');
        if (start == std::string::npos) return true;
        const std::string_view code_view = line.substr(start, line.find(' ', start) - start);
        if (!IsWanted(code_view)) return true;
        std::istringstream words{std::string(line)};
        std::vector<std::string> w;
        for (std::string word; words >> word;) w.push_back(word);
        if (w.empty()) return true;
        const std::string& code = w[0];
        if (code == "1" || code == "16" || code == "17" || code == "99") {
            Flush();
            double elevation = 0;
            if (code != "99" && w.size() >= 5 && ParseNumber(w[1], elevation)) {
                if (w[4].size() > kMaxIdentBytes) return false;
                current_ = Airport{w[4], 0, 0, elevation};
            }
        } else if (current_ && code == "100" && w.size() >= 20) {
            Point(w[9], w[10]);
            Point(w[18], w[19]);
        } else if (current_ && code == "101" && w.size() >= 9) {
            Point(w[4], w[5]);
            Point(w[7], w[8]);
        } else if (current_ && code == "102" && w.size() >= 4) {
            Point(w[2], w[3]);
        } else if (current_ && code == "1302" && w.size() >= 3) {
            double value = 0;
            if (w[1] == "datum_lat" && ParseNumber(w[2], value)) datum_lat_ = value;
            if (w[1] == "datum_lon" && ParseNumber(w[2], value)) datum_lon_ = value;
        }
        return true;
    }

    void Flush() {
        if (current_) {
            if (datum_lat_ && datum_lon_) {
                current_->latitude = *datum_lat_;
                current_->longitude = *datum_lon_;
                found_(*current_);
            } else if (points_ > 0) {
                current_->latitude = lat_sum_ / points_;
                current_->longitude = lon_sum_ / points_;
                found_(*current_);
            }
        }
        current_.reset();
        datum_lat_.reset();
        datum_lon_.reset();
        lat_sum_ = lon_sum_ = 0;
        points_ = 0;
    }

  private:
    static bool IsWanted(std::string_view code) {
        for (const std::string_view wanted : {"1", "16", "17", "99", "100", "101", "102", "1302"}) {
            if (code == wanted) return true;
        }
        return false;
    }

    void Point(const std::string& lat_text, const std::string& lon_text) {
        double lat = 0, lon = 0;
        if (!ParseNumber(lat_text, lat) || !ParseNumber(lon_text, lon)) return;
        if (std::fabs(lat) > 90 || std::fabs(lon) > 180) return;
        lat_sum_ += lat;
        lon_sum_ += lon;
        ++points_;
    }

    const AirportFound& found_;
    std::optional<Airport> current_;
    std::optional<double> datum_lat_, datum_lon_;
    double lat_sum_ = 0, lon_sum_ = 0;
    int points_ = 0;
};

Status ReadAptDat(InputFile& file, const std::string& path, const AirportFound& found) {
    FileSource source(file);
    GzipSource inflated(source, "the airport list " + path);
    LineReader lines(inflated, path, kMaxAptDatLineBytes);
    AptDatReader reader(found);
    std::string_view line;
    while (lines.Next(line)) {
        if (!reader.Line(line)) {
            return Status::Error(fmt::format("{}:{}: the ident is longer than {} bytes", path,
                                             lines.number(), kMaxIdentBytes));
        }
    }
    if (!lines.status().ok()) return lines.status();
    reader.Flush();
    return Status::Ok();
}

}  // namespace

std::string InstalledAirportList(FileSystem& files) {
    std::vector<std::string> roots;
    if (const char* root = std::getenv("FG_ROOT"); root != nullptr && root[0] != '\0') {
        roots.emplace_back(root);
    }
    roots.emplace_back("/usr/share/games/flightgear");
    for (const std::string& root : roots) {
        const std::string path = root + "/Airports/apt.dat.gz";
        FileFacts facts;
        bool found = false;
        if (files.Stat(path, facts, found).ok() && found &&
            facts.kind == FileFacts::Kind::kRegular) {
            return path;
        }
    }
    return {};
}

std::string InstalledAirportList() {
    PosixFileSystem files;
    return InstalledAirportList(files);
}

namespace {

// Whether the logbook's airports came from this very file before.
Status SameSource(Database& db, const std::string& path, const FileFacts& facts, bool& same) {
    Statement query;
    Status status = db.Prepare(
        "SELECT count(*) FROM airport_source WHERE path = ?1 AND size = ?2 AND mtime_ns = ?3",
        query);
    if (!status.ok()) return status;
    query.Bind(1, path).Bind(2, static_cast<std::int64_t>(facts.size)).Bind(3, facts.modified_ns());
    same = query.Step() && query.Int(0) > 0;
    return query.status();
}

// Replaces the airports with those of the list. `list` is the outcome of
// reading the list; the database's own failures come back.
Status ReplaceAirports(Database& db, InputFile& file, const std::string& path,
                       const FileFacts& facts, Status& list) {
    Status status =
        db.Exec("DELETE FROM airports; DELETE FROM airport_boxes; DELETE FROM airport_source");
    Statement add, box;
    if (status.ok()) {
        status = db.Prepare(
            "INSERT INTO airports(ident, latitude, longitude, elevation_ft) VALUES (?1, ?2, ?3, "
            "?4)",
            add);
    }
    if (status.ok()) {
        status = db.Prepare("INSERT INTO airport_boxes VALUES (?1, ?2, ?2, ?3, ?3)", box);
    }
    if (!status.ok()) return status;
    Status write = Status::Ok();
    const AirportFound found = [&](const Airport& airport) {
        if (!write.ok()) return;
        add.Bind(1, airport.ident).Bind(2, airport.latitude).Bind(3, airport.longitude);
        add.Bind(4, airport.elevation_ft);
        write = add.Run();
        if (!write.ok()) return;
        box.Bind(1, db.LastInsertId()).Bind(2, airport.latitude).Bind(3, airport.longitude);
        write = box.Run();
    };
    const bool gzip = path.size() >= 3 && path.compare(path.size() - 3, 3, ".gz") == 0;
    list = gzip ? ReadAptDat(file, path, found) : ReadCsv(file, path, found);
    if (!write.ok() || !list.ok()) return write;

    Statement source;
    status = db.Prepare("INSERT INTO airport_source VALUES (1, ?1, ?2, ?3)", source);
    if (status.ok()) {
        source.Bind(1, path).Bind(2, static_cast<std::int64_t>(facts.size));
        status = source.Bind(3, facts.modified_ns()).Run();
    }
    return status;
}

}  // namespace

Status UpdateAirports(FileSystem& files, Database& db, const std::string& path,
                      AirportImport& outcome) {
    outcome = AirportImport{};
    FileFacts facts;
    bool found = false;
    Status list = files.Stat(path, facts, found);
    if (list.ok() && !found) list = Status::Error("cannot find the airport list " + path);
    std::unique_ptr<InputFile> file;
    if (list.ok()) list = files.OpenInputFile(path, Links::kFollow, file);
    if (list.ok()) list = file->Facts(facts);
    if (!list.ok()) {
        outcome.refused = list.message();
        return Status::Ok();
    }
    bool same = false;
    if (Status status = SameSource(db, path, facts, same); !status.ok() || same) return status;

    // A list that cannot be read leaves the airports as they were.
    Status status = db.Exec("SAVEPOINT airports");
    if (status.ok()) status = ReplaceAirports(db, *file, path, facts, list);
    if (status.ok() && list.ok()) {
        outcome.imported = true;
        return db.Exec("RELEASE airports");
    }
    static_cast<void>(db.Exec("ROLLBACK TO airports; RELEASE airports"));
    outcome.refused = list.message();
    return status;
}

Status UpdateAirports(Database& db, const std::string& path, AirportImport& outcome) {
    PosixFileSystem files;
    return UpdateAirports(files, db, path, outcome);
}

Status NearestAirport(Database& db, double latitude_deg, double longitude_deg, std::string& ident) {
    ident.clear();
    // A box a little larger than the reach; the distance decides.
    constexpr double kMetresPerDegree = kEarthMeanRadiusMetres * std::numbers::pi / 180;
    const double dlat = kAirportReachMetres / kMetresPerDegree * 1.01;
    const double cos_lat = std::cos(latitude_deg * std::numbers::pi / 180);
    const double dlon = cos_lat > dlat / 90 ? std::min(180.0, dlat / cos_lat) : 180.0;
    Statement* kept = nullptr;
    Status status = db.PrepareKept(
        "SELECT a.ident, a.latitude, a.longitude FROM airport_boxes b JOIN airports a ON a.id = "
        "b.id WHERE b.max_lat >= ?1 AND b.min_lat <= ?2 AND b.max_lon >= ?3 AND b.min_lon <= ?4",
        kept);
    if (!status.ok()) return status;
    Statement& query = *kept;
    double best = kAirportReachMetres;
    // Near the date line the box wraps round: look on both sides.
    for (const double shift : {0.0, -360.0, 360.0}) {
        const double west = longitude_deg - dlon + shift, east = longitude_deg + dlon + shift;
        if (shift != 0 && (east < -180 || west > 180)) continue;
        query.Reset();
        query.Bind(1, latitude_deg - dlat).Bind(2, latitude_deg + dlat).Bind(3, west).Bind(4, east);
        while (query.Step()) {
            const double metres =
                GreatCircleMetres(latitude_deg, longitude_deg, query.Real(1), query.Real(2));
            if (metres <= best) {
                best = metres;
                ident = query.Text(0);
            }
        }
        if (!query.status().ok()) return query.status();
    }
    return Status::Ok();
}

Status RenameFlightAirports(Database& db) {
    Statement flights, update;
    Status status = db.Prepare(
        "SELECT id, takeoff_lat, takeoff_lon, touchdown_lat, touchdown_lon FROM flights", flights);
    if (status.ok()) {
        status =
            db.Prepare("UPDATE flights SET departure = ?2, arrival = ?3 WHERE id = ?1", update);
    }
    if (!status.ok()) return status;
    while (flights.Step()) {
        std::string departure, arrival;
        if (!flights.IsNull(1))
            status = NearestAirport(db, flights.Real(1), flights.Real(2), departure);
        if (status.ok() && !flights.IsNull(3)) {
            status = NearestAirport(db, flights.Real(3), flights.Real(4), arrival);
        }
        if (status.ok())
            status = update.Bind(1, flights.Int(0)).Bind(2, departure).Bind(3, arrival).Run();
        if (!status.ok()) return status;
    }
    return flights.status();
}

}  // namespace kestrun
