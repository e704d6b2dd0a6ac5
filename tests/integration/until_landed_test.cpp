// kestrun-record --until-landed against a real host: the simulated host's
// traffic pattern (it takes off, lands about five minutes later, taxis back
// and holds long enough to come to rest), and a replayed recording of a short
// hop that ends parked. Both fly faster than real time to keep the test short.
// The recorder still writes a record a second of its own clock, so the rest
// it waits for is 30 real seconds, while what it sees of the flight is
// squeezed: moving eight or more times as fast over the ground as through
// the air, the aircraft is never seen rolling, so its flight starts in the
// air for the detector, and its rates are as many times too high. The stop
// after the landing is what these tests prove; the detector's readings of a
// flight are proved on synthetic flights.

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <algorithm>
#include <ctime>

#include "tests/support/host_process.h"
#include "tests/support/runtime_sandbox.h"
#include "tests/support/synthetic_flight.h"
#include "tests/support/test_files.h"

namespace kestrun {
namespace {

using ::testing::HasSubstr;

class UntilLandedTest : public ::testing::Test {
  protected:
    // Records with --until-landed from a host started with `host_args`; the
    // records written, after checking that the recorder stopped by itself
    // with the aircraft at rest for the last 30 s.
    // The output is a pattern for a file of the year in the home folder.
    std::vector<FlightRecord> RecordUntilLanded(const std::vector<std::string>& host_args,
                                                const std::string& more = "--append") {
        testing::HostProcess host;
        EXPECT_TRUE(host.Start(host_args));
        const std::time_t now = std::time(nullptr);
        const std::string output = sandbox_.root() + "/flight-" +
                                   std::to_string(std::localtime(&now)->tm_year + 1900) + ".dat";
        const std::vector<std::string> args = {"--until-landed", "--seconds",       "150",
                                               "--output",       "~/flight-%Y.dat", more};
        EXPECT_EQ(testing::RunProgram(KESTRUN_RECORD_PATH, args, printed_), 0)
            << testing::ReadFile(printed_);
        EXPECT_THAT(testing::ReadFile(printed_), HasSubstr("Landed and at rest: stopping."));
        const auto records = testing::ReadFlightRecords(output);
        for (std::size_t i = records.size() - std::min<std::size_t>(31, records.size());
             i < records.size(); ++i) {
            EXPECT_EQ(records[i].Latitude, records.back().Latitude) << i;
            EXPECT_EQ(records[i].Longitude, records.back().Longitude) << i;
        }
        return records;
    }

    testing::RuntimeSandbox sandbox_;
    std::string printed_ = sandbox_.root() + "/printed.txt";
};

// The pattern at 64 times: about 6.5 minutes of it, takeoff to hold, take
// 6 real seconds. The hold, 36 real seconds before each takeoff, is longer
// than the rest the recorder waits for, which it must not take for one
// before the flight.
TEST_F(UntilLandedTest, ThePatternAircraftLandsAndRests) {
    constexpr int kSpeed = 64, kHoldRealSeconds = 36;
    const auto records = RecordUntilLanded(
        {"--speed", std::to_string(kSpeed), "--hold", std::to_string(kHoldRealSeconds * kSpeed)});
    EXPECT_GT(records.size(), kHoldRealSeconds + 30u);
    EXPECT_LT(records.size(), kHoldRealSeconds + 12 + 30u + 10);
}

// Three minutes of flight replayed eight times as fast, then held parked.
TEST_F(UntilLandedTest, AReplayedHopLandsAndRests) {
    testing::SyntheticFlight hop;
    hop.Rest(5).Fly(20, 60, 100).Fly(40, 75, 260).Fly(30, 80, 260).Fly(50, 65, 100);
    hop.Fly(20, 20, 100).Fly(10, 5, 100).Rest(5);
    const std::string file = sandbox_.Write("hop.dat", hop.Bytes());
    const auto records = RecordUntilLanded({"--replay", file, "--speed", "8"}, "--logbook");
    EXPECT_THAT(testing::ReadFile(printed_),
                HasSubstr("Logbook: flight 1, Landing: touchdown at "));
    EXPECT_GT(records.size(), 30u + 160 / 8);
    EXPECT_LT(records.size(), 30u + 200 / 8 + 10);
}

}  // namespace
}  // namespace kestrun
