// A flight recorded from the pattern aircraft, replayed by a real
// kestrun-host --replay and recorded again by a real kestrun-record, lies on
// the same track.

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <string>
#include <vector>

#include "host/pattern_aircraft.h"
#include "recordfile/flight_sample.h"
#include "tests/support/host_process.h"
#include "tests/support/runtime_sandbox.h"
#include "tests/support/test_files.h"

namespace kestrun {
namespace {

constexpr int kSeconds = 300;  // takeoff, climb out, crosswind and downwind
constexpr double kSpeed = 20;

// The file the recorder would write flying the pattern from 10:00:00: the
// model's states through the host's units, one a second.
std::string RecordPattern(const testing::ScratchDir& dir) {
    PatternAircraft aircraft(DefaultAirfield());
    std::string bytes;
    for (int i = 0; i < kSeconds; ++i) {
        const AircraftState s = aircraft.state();
        testing::AppendRecord(
            bytes,
            testing::MakeRecord({10, i / 60, i % 60, s.latitude_deg, s.longitude_deg, s.altitude_m,
                                 s.pitch_deg, s.bank_deg, s.heading_deg, s.airspeed_kt}));
        aircraft.Advance(1.0);
    }
    return dir.Write("pattern.dat", bytes);
}

// Metres between a point and the segment a-b, on a plane tangent at the
// point (segments are tens of metres), and the altitude along the segment
// where it comes closest.
struct Miss {
    double across_m, altitude_m;
};
Miss MissSegment(const FlightSample& p, const FlightSample& a, const FlightSample& b) {
    const double north = 10001750.0 / 90.0;
    const double east = north * std::cos(p.latitude_deg * M_PI / 180);
    const double ax = (a.longitude_deg - p.longitude_deg) * east;
    const double ay = (a.latitude_deg - p.latitude_deg) * north;
    const double dx = (b.longitude_deg - a.longitude_deg) * east;
    const double dy = (b.latitude_deg - a.latitude_deg) * north;
    const double length2 = dx * dx + dy * dy;
    const double f = length2 > 0 ? std::clamp(-(ax * dx + ay * dy) / length2, 0.0, 1.0) : 0.0;
    const double altitude = a.altitude_m + (b.altitude_m - a.altitude_m) * f;
    return {std::hypot(ax + f * dx, ay + f * dy), std::fabs(altitude - p.altitude_m)};
}

// The closest approach of `p` to the track, by distance across.
Miss MissTrack(const FlightSample& p, const std::vector<FlightSample>& track) {
    Miss best{1e9, 1e9};
    for (std::size_t i = 1; i < track.size(); ++i) {
        const Miss miss = MissSegment(p, track[i - 1], track[i]);
        if (miss.across_m < best.across_m) best = miss;
    }
    return best;
}

std::vector<FlightSample> Samples(const std::string& path) {
    std::vector<FlightSample> samples;
    for (const FlightRecord& r : testing::ReadFlightRecords(path)) {
        samples.push_back(SampleFromRecord(r));
    }
    return samples;
}

TEST(ReplayRoundTripTest, ARecordedFlightReplayedAndRecordedAgainLiesOnTheSameTrack) {
    testing::RuntimeSandbox sandbox;
    const std::string original = RecordPattern(sandbox);
    const std::string again = sandbox.root() + "/again.dat";
    const std::string host_log = sandbox.root() + "/host.log";

    testing::HostProcess host;
    ASSERT_TRUE(host.Start({"--replay", original, "--speed", std::to_string(kSpeed)}, "HOSTMAIN",
                           host_log));
    // Past the end, so the held final state is recorded too.
    const int seconds = static_cast<int>(kSeconds / kSpeed) + 3;
    const std::string record_log = sandbox.root() + "/record.log";
    ASSERT_EQ(testing::RunProgram(KESTRUN_RECORD_PATH,
                                  {"--seconds", std::to_string(seconds), "--output", again},
                                  record_log, record_log),
              0)
        << testing::ReadFile(record_log);
    host.Stop(SIGTERM);
    const std::string said = testing::ReadFile(host_log);
    EXPECT_NE(said.find("ended at 10:04:59; holding the last state"), std::string::npos) << said;

    const std::vector<FlightSample> track = Samples(original);
    const std::vector<FlightSample> replayed = Samples(again);
    ASSERT_GE(replayed.size(), static_cast<std::size_t>(seconds - 1));
    double worst_across = 0, worst_altitude = 0;
    for (const FlightSample& p : replayed) {
        ASSERT_TRUE(p.has_position);
        const Miss best = MissTrack(p, track);
        worst_across = std::max(worst_across, best.across_m);
        worst_altitude = std::max(worst_altitude, best.altitude_m);
    }
    // The replay moves along the chords between records; what remains is
    // the host's units and this test's flat-earth arithmetic, millimetres.
    EXPECT_LT(worst_across, 0.05);
    EXPECT_LT(worst_altitude, 0.05);
    RecordProperty("worst_across_mm", static_cast<int>(std::ceil(worst_across * 1000)));
    RecordProperty("worst_altitude_mm", static_cast<int>(std::ceil(worst_altitude * 1000)));
    std::printf("replayed track from the recorded one: worst %.1e m across, %.1e m in altitude\n",
                worst_across, worst_altitude);
    // The replay went somewhere, and holds the last record once it ends.
    double farthest = 0;
    for (const FlightSample& p : replayed) {
        farthest = std::max(farthest, MissSegment(replayed.front(), p, p).across_m);
    }
    EXPECT_GT(farthest, 1000);
    const Miss end = MissSegment(replayed.back(), track.back(), track.back());
    EXPECT_LT(end.across_m + end.altitude_m, 0.05);

    sandbox.Write("empty.dat", "");
    EXPECT_EQ(testing::RunProgram(KESTRUN_HOST_PATH, {"--replay", sandbox.root() + "/empty.dat"},
                                  host_log, host_log),
              1);
    EXPECT_NE(testing::ReadFile(host_log).find("holds no flight records"), std::string::npos);
}

}  // namespace
}  // namespace kestrun
