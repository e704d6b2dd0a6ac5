// Writes synthetic record files with known truth for what drives the
// programs from outside.
//
//   write_synthetic_flights DIR
// for the browser tests of the logbook's pages:
//   day.dat   two flights: a pattern with a touch-and-go, then a cross-country
//   long.dat  one flight of ten hours (about 36 000 records)
// and prints, as JSON, the seconds of the day of each touchdown.
//
//   write_synthetic_flights --runways APT_DAT RECORDS TRUTH [all|straight-in]
// for scripts/flightgear-landings: the landing tests' flights, one after
// another, as one record file, and their truth. TRUTH has a line a touchdown
// or go-around: flight number (from 1), kind, airport, runway, and for
// touchdowns the distance past the threshold and the offset from the
// centreline in metres, for go-arounds the lowest height in feet.

#include <fmt/format.h>

#include <cstdio>
#include <string>

#include "logbook/logbook_store.h"
#include "logbook/runways.h"
#include "tests/support/runway_scenarios.h"
#include "tests/support/synthetic_flight.h"

namespace {

using namespace kestrun;
using namespace kestrun::testing;

bool WriteFile(const std::string& path, const std::string& bytes) {
    std::FILE* file = std::fopen(path.c_str(), "wb");
    if (file == nullptr) return false;
    const bool written = std::fwrite(bytes.data(), 1, bytes.size(), file) == bytes.size();
    return std::fclose(file) == 0 && written;
}

int WritePagesFlights(const std::string& dir) {
    SyntheticFlight day;
    day.Depart().Arrive().Fly(5, 0, 100).Depart();
    day.Fly(125, 65, 100).Fly(6, 60, 100).Fly(60, 75, 500).Fly(100, 90, 500).Arrive();
    SyntheticFlight long_flight(6 * 3600);
    long_flight.Depart().Fly(35000, 110, 1200).Fly(300, 100, 500).Arrive();
    if (!WriteFile(dir + "/day.dat", day.Bytes()) ||
        !WriteFile(dir + "/long.dat", long_flight.Bytes())) {
        std::fprintf(stderr, "cannot write the flights into %s\n", dir.c_str());
        return 1;
    }
    std::printf("{\"day_touchdown\": %lld, \"long_touchdown\": %lld, \"long_records\": %zu}\n",
                static_cast<long long>(day.touchdown().value_or(-1)),
                static_cast<long long>(long_flight.touchdown().value_or(-1)),
                long_flight.points().size());
    return 0;
}

int WriteRunwayFlights(const std::string& apt_dat, const std::string& records,
                       const std::string& truth_path, bool circuits) {
    Database db;
    RunwayImport import;
    Status status = db.Open(":memory:", SQLITE_OPEN_READWRITE | SQLITE_OPEN_CREATE);
    if (status.ok()) status = MigrateLogbook(db, kLogbookSchemaVersion);
    if (status.ok()) status = UpdateRunways(db, apt_dat, import);
    if (!status.ok()) {
        std::fprintf(stderr, "%s\n", status.message().c_str());
        return 1;
    }
    LogbookRunways runways(db);
    std::vector<FlightPoint> all;
    std::string truth;
    int number = 0;
    // Each flight a minute after the one before: a break in the recording.
    auto append = [&](const SyntheticFlight& f, const Runway& runway, int end) {
        ++number;
        const std::int64_t shift =
            all.empty() ? 0 : all.back().seconds + 60 - f.points()[0].seconds;
        for (FlightPoint p : f.points()) {
            p.seconds += shift;
            p.offset = all.size() * 80;
            all.push_back(p);
        }
        for (const TouchdownTruth& t : f.touchdowns()) {
            truth += fmt::format("{}\ttouchdown\t{}\t{}\t{:.2f}\t{:.2f}\n", number, runway.airport,
                                 runway.ends[end].ident, t.x_m, t.y_m);
        }
    };
    for (const StraightIn& c : StraightIns()) {
        int end = 0;
        const auto runway = FindRunway(runways, c.airport, c.runway, end);
        if (!runway) {
            std::fprintf(stderr, "no runway %s in %s\n", c.runway, apt_dat.c_str());
            return 1;
        }
        append(FlyStraightIn(c, *runway, end), *runway, end);
    }
    int end = 0;
    const auto ksfo = FindRunway(runways, kSanFrancisco, "28R", end);
    if (circuits && ksfo) {
        Circuits lowest;
        append(FlyCircuits(*ksfo, end, lowest), *ksfo, end);
        truth += fmt::format("{}\tgo_around\tKSFO\t28R\t{:.0f}\n{}\tgo_around\tKSFO\t28R\t{:.0f}\n",
                             number, lowest.go_around_m / kFt, number, lowest.low_pass_m / kFt);
    }
    if (!WriteFile(records, RecordBytes(all)) || !WriteFile(truth_path, truth)) {
        std::fprintf(stderr, "cannot write %s or %s\n", records.c_str(), truth_path.c_str());
        return 1;
    }
    return 0;
}

}  // namespace

int main(int argc, char** argv) {
    const std::vector<std::string> args(argv + 1, argv + argc);
    if (args.size() == 1 && args[0] != "--runways") return WritePagesFlights(args[0]);
    if ((args.size() == 4 || args.size() == 5) && args[0] == "--runways")
        return WriteRunwayFlights(args[1], args[2], args[3],
                                  args.size() < 5 || args[4] != "straight-in");
    std::fprintf(
        stderr,
        "usage: write_synthetic_flights DIR\n"
        "       write_synthetic_flights --runways APT_DAT RECORDS TRUTH [all|straight-in]\n");
    return 2;
}
