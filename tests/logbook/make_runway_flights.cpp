// Writes the synthetic flights of the landing tests, one after another, as
// one record file, and their truth, for scripts/flightgear-landings:
//   make_runway_flights APT_DAT RECORDS TRUTH [all|straight-in]
// TRUTH has a line a touchdown or go-around: flight number (from 1), kind,
// airport, runway, and for touchdowns the distance past the threshold and
// the offset from the centreline in metres, for go-arounds the lowest
// height in feet.

#include <fmt/format.h>

#include <cstdio>
#include <fstream>

#include "logbook/logbook_store.h"
#include "logbook/runways.h"
#include "tests/support/runway_scenarios.h"
#include "tests/support/synthetic_flight.h"

int main(int argc, char** argv) {
    using namespace kestrun;
    using namespace kestrun::testing;
    if (argc < 4 || argc > 5) {
        std::fprintf(stderr, "usage: make_runway_flights APT_DAT RECORDS TRUTH [all|straight-in]\n");
        return 2;
    }
    const bool circuits = argc < 5 || std::string(argv[4]) != "straight-in";
    Database db;
    RunwayImport import;
    Status status = db.Open(":memory:", SQLITE_OPEN_READWRITE | SQLITE_OPEN_CREATE);
    if (status.ok()) status = MigrateLogbook(db, kLogbookSchemaVersion);
    if (status.ok()) status = UpdateRunways(db, argv[1], import);
    if (!status.ok()) {
        std::fprintf(stderr, "%s\n", status.message().c_str());
        return 1;
    }
    LogbookRunways runways(db);
    std::vector<FlightPoint> all;
    std::string truth;
    int number = 0;
    // Each flight a minute after the one before: a break in the recording.
    auto append = [&](const RunwayFlight& f, const Runway& runway, int end) {
        ++number;
        const std::int64_t shift = all.empty() ? 0 : all.back().seconds + 60 - f.points()[0].seconds;
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
            std::fprintf(stderr, "no runway %s in %s\n", c.runway, argv[1]);
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
    std::ofstream(argv[2], std::ios::binary) << RecordBytes(all);
    std::ofstream(argv[3]) << truth;
    return 0;
}
