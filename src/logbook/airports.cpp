#include "logbook/airports.h"

#include <fmt/format.h>
#include <sys/stat.h>
#include <zlib.h>

#include <cmath>
#include <cstdlib>
#include <fstream>
#include <functional>
#include <numbers>
#include <sstream>
#include <vector>

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

std::vector<std::string> Split(const std::string& line, char by) {
    std::vector<std::string> fields;
    std::size_t at = 0;
    for (;;) {
        const std::size_t next = line.find(by, at);
        fields.push_back(line.substr(at, next - at));
        if (next == std::string::npos) return fields;
        at = next + 1;
    }
}

Status ReadCsv(const std::string& path, const AirportFound& found) {
    std::ifstream in(path);
    if (!in) return Status::Error("cannot open the airport list " + path);
    std::string line;
    int number = 0;
    auto bad = [&](const std::string& why) {
        return Status::Error(fmt::format("{}:{}: {}", path, number, why));
    };
    while (std::getline(in, line)) {
        ++number;
        if (!line.empty() && line.back() == '\r') line.pop_back();
        if (number == 1) {
            if (line != "ident,latitude,longitude,elevation_ft") {
                return bad("the first line must be ident,latitude,longitude,elevation_ft");
            }
            continue;
        }
        if (line.empty()) continue;
        const std::vector<std::string> fields = Split(line, ',');
        Airport airport;
        double elevation = 0;
        if (fields.size() != 4) return bad("expected four fields");
        airport.ident = fields[0];
        if (airport.ident.empty()) return bad("the ident is empty");
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
    if (number == 0) return Status::Error(path + " is empty");
    return Status::Ok();
}

// FlightGear's apt.dat: an airport header line (row code 1, 16 or 17:
// "1 ELEVATION_FT x x IDENT NAME") followed by its runways and helipads,
// whose ends give its position unless a datum line gives it directly.
class AptDatReader {
  public:
    explicit AptDatReader(const AirportFound& found) : found_(found) {}

    void Line(const std::string& line) {
        // Most of the file is taxiways, signs and frequencies: look at the
        // row code before splitting the line.
        const std::size_t start = line.find_first_not_of(' ');
        if (start == std::string::npos) return;
        const std::string_view code_view =
            std::string_view(line).substr(start, line.find(' ', start) - start);
        if (!IsWanted(code_view)) return;
        std::istringstream words(line);
        std::vector<std::string> w;
        for (std::string word; words >> word;) w.push_back(word);
        if (w.empty()) return;
        const std::string& code = w[0];
        if (code == "1" || code == "16" || code == "17" || code == "99") {
            Flush();
            double elevation = 0;
            if (code != "99" && w.size() >= 5 && ParseNumber(w[1], elevation)) {
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

Status ReadAptDat(const std::string& path, const AirportFound& found) {
    gzFile file = gzopen(path.c_str(), "rb");
    if (file == nullptr) return Status::Error("cannot open the airport list " + path);
    AptDatReader reader(found);
    std::string line;
    char buffer[4096];
    while (gzgets(file, buffer, sizeof buffer) != nullptr) {
        line += buffer;
        // A NUL byte ends what gzgets hands back: the line may be empty.
        if (!line.empty() && line.back() != '\n' && !gzeof(file)) continue;
        reader.Line(line);
        line.clear();
    }
    int error = Z_OK;
    const char* message = gzerror(file, &error);
    const std::string why = message != nullptr ? message : "";
    gzclose(file);
    if (error != Z_OK && error != Z_STREAM_END) {
        return Status::Error("cannot read the airport list " + path + ": " + why);
    }
    reader.Flush();
    return Status::Ok();
}

bool EndsWith(const std::string& text, std::string_view end) {
    return text.size() >= end.size() &&
           text.compare(text.size() - end.size(), end.size(), end) == 0;
}

}  // namespace

std::string InstalledAirportList() {
    std::vector<std::string> roots;
    if (const char* root = std::getenv("FG_ROOT"); root != nullptr && root[0] != '\0') {
        roots.emplace_back(root);
    }
    roots.emplace_back("/usr/share/games/flightgear");
    for (const std::string& root : roots) {
        const std::string path = root + "/Airports/apt.dat.gz";
        struct stat st {};
        if (::stat(path.c_str(), &st) == 0 && S_ISREG(st.st_mode)) return path;
    }
    return {};
}

Status UpdateAirports(Database& db, const std::string& path, bool& imported) {
    imported = false;
    struct stat st {};
    if (::stat(path.c_str(), &st) != 0)
        return Status::Error("cannot find the airport list " + path);
    const std::int64_t mtime_ns =
        std::int64_t{st.st_mtim.tv_sec} * 1'000'000'000 + st.st_mtim.tv_nsec;
    Statement same;
    Status status = db.Prepare(
        "SELECT count(*) FROM airport_source WHERE path = ?1 AND size = ?2 AND mtime_ns = ?3",
        same);
    if (!status.ok()) return status;
    same.Bind(1, path).Bind(2, std::int64_t{st.st_size}).Bind(3, mtime_ns);
    if (same.Step() && same.Int(0) > 0) return Status::Ok();

    status = db.Exec("DELETE FROM airports; DELETE FROM airport_boxes; DELETE FROM airport_source");
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
    status = EndsWith(path, ".gz") ? ReadAptDat(path, found) : ReadCsv(path, found);
    if (!status.ok()) return status;
    if (!write.ok()) return write;

    Statement source;
    status = db.Prepare("INSERT INTO airport_source VALUES (1, ?1, ?2, ?3)", source);
    if (status.ok()) {
        source.Bind(1, path).Bind(2, std::int64_t{st.st_size}).Bind(3, mtime_ns);
        status = source.Run();
    }
    imported = status.ok();
    return status;
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
