// Fuzz target for the airport lists: whatever an airports CSV or FlightGear
// apt.dat holds, reading it into the logbook either refuses it, naming the
// file and changing nothing, or stores airports on the globe, each with an
// ident and a place in the spatial index, each found again as the nearest
// airport to where it stands.
//
// Input: byte 0 picks the reader (low bit: 0 the CSV, 1 apt.dat, inflated
// when it starts like gzip and read as it is otherwise); the rest is the file.

#include <cmath>
#include <fstream>
#include <string>

#include "fuzz/fuzz_target.h"
#include "fuzz/fuzz_logbook.h"
#include "logbook/airports.h"

namespace {

using namespace kestrun;

void CheckAirports(fuzz::MemoryLogbook& logbook) {
    Check(logbook.Int("SELECT count(*) FROM airports") ==
          logbook.Int("SELECT count(*) FROM airport_boxes"));
    Statement rows;
    Check(logbook.db.Prepare("SELECT ident, latitude, longitude FROM airports ORDER BY id", rows)
              .ok());
    bool first = true;
    while (rows.Step()) {
        const double lat = rows.Real(1), lon = rows.Real(2);
        Check(!rows.Text(0).empty() && std::isfinite(lat) && std::isfinite(lon) &&
              std::abs(lat) <= 90 && std::abs(lon) <= 180);
        if (!first) continue;
        first = false;
        std::string nearest;
        Check(NearestAirport(logbook.db, lat, lon, nearest).ok() && !nearest.empty());
    }
    Check(rows.status().ok());
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    if (size == 0) return 0;
    static fuzz::MemoryLogbook logbook;
    static const std::string csv = logbook.dir.Write("airports.csv", "");
    static const std::string apt = logbook.dir.Write("apt.dat.gz", "");
    const std::string& path = (data[0] & 1) != 0 ? apt : csv;
    std::ofstream(path, std::ios::binary | std::ios::trunc)
        .write(reinterpret_cast<const char*>(data + 1), static_cast<std::streamsize>(size - 1));

    Check(logbook.db.Exec("BEGIN").ok());
    AirportImport outcome;
    Check(UpdateAirports(logbook.db, path, outcome).ok());
    if (outcome.imported) {
        Check(outcome.refused.empty());
        CheckAirports(logbook);
    } else {
        // A list refused changes nothing, and says which file.
        Check(outcome.refused.find(path) != std::string::npos &&
              logbook.Int("SELECT count(*) FROM airports") == 0);
    }
    Check(logbook.db.Exec("ROLLBACK").ok());
    return 0;
}

// Lists as their makers write them, with a few of the things people get
// wrong: quotes, blank lines, missing fields, odd numbers.
std::vector<std::uint8_t> GenerateFuzzInput(std::mt19937& random) {
    static const char* const kCsvLines[] = {"EDDF,50.0333,8.5706,364",
                                            "KSFO,37.619,-122.375,13",
                                            "\"KQ\"\"X\",1,2,3",
                                            "NZCH,-43.489,172.532,",
                                            "X,91,0,0",
                                            "Y,0,181,0",
                                            "Z,nan,0,0",
                                            "",
                                            "A,1,2",
                                            "B,1e3,2,3",
                                            "\"C,D\",10,20,30"};
    static const char* const kAptLines[] = {
        "1 364 1 0 EDDF Frankfurt Main",
        "100 60 1 0 0.25 1 3 0 07C 50.0325 8.5342 0 0 3 0 0 0 25C 50.0401 8.5868 0 0 3 0 0 0",
        "101 49 1 08 47.6 -122.3 26 47.61 -122.28",
        "102 H1 47.53 -122.30 1 1 1 1 1 0 0",
        "1302 datum_lat 37.6",
        "1302 datum_lon -122.4",
        "16 10 0 0 SEAP Seaplane Base",
        "17 20 0 0 HELI Heliport",
        "99",
        "110 2 0.25 0 Taxiway",
        "",
        "I"};
    const bool is_apt = random() % 2 == 1;
    std::string file(1, is_apt ? '\1' : '\0');
    if (!is_apt) file += "ident,latitude,longitude,elevation_ft\n";
    for (auto lines = random() % 10; lines > 0; --lines) {
        file += is_apt ? kAptLines[random() % std::size(kAptLines)]
                       : kCsvLines[random() % std::size(kCsvLines)];
        file += random() % 8 == 0 ? "\r\n" : "\n";
    }
    return {file.begin(), file.end()};
}
