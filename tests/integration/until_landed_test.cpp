// kestrun-record --until-landed against a real host: the simulated host's
// traffic pattern (it takes off, lands about five minutes later, taxis back
// and, told to hold for 40 s, comes to rest long enough), and a replayed
// recording of a short hop that ends parked.

#include <gtest/gtest.h>
#include <sys/wait.h>

#include "tests/flights/synthetic_flight.h"
#include "tests/integration/host_process.h"
#include "tests/integration/runtime_sandbox.h"
#include "tests/support/test_files.h"

namespace kestrun {
namespace {

class UntilLandedTest : public ::testing::Test {
  protected:
    UntilLandedTest() { ::setenv("XDG_CONFIG_HOME", sandbox_.root().c_str(), 1); }

    // Records with --until-landed from a host started with `host_args`; the
    // records written, after checking that the recorder stopped by itself
    // with the aircraft at rest for the last 30 s.
    std::vector<FlightRecord> RecordUntilLanded(const std::vector<std::string>& host_args) {
        testing::HostProcess host;
        EXPECT_TRUE(host.Start(host_args));
        const std::string output = sandbox_.root() + "/flight.dat";
        const std::string printed = sandbox_.root() + "/printed.txt";
        const pid_t recorder = testing::SpawnProgram(
            KESTRUN_RECORD_PATH, {"--until-landed", "--seconds", "800", "--output", output},
            printed);
        EXPECT_GT(recorder, 0);
        const int status = testing::WaitForChild(recorder);
        EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0) << testing::ReadFile(printed);
        EXPECT_NE(testing::ReadFile(printed).find("Landed and at rest: stopping."),
                  std::string::npos);
        const auto records = testing::ReadFlightRecords(output);
        if (records.size() > 31) {
            for (std::size_t i = records.size() - 31; i < records.size(); ++i) {
                EXPECT_EQ(records[i].Latitude, records.back().Latitude) << i;
                EXPECT_EQ(records[i].Longitude, records.back().Longitude) << i;
            }
        }
        return records;
    }

    testing::RuntimeSandbox sandbox_;
};

// Slow: it flies the whole pattern in real time. Held 40 s before the
// takeoff, flew the pattern, taxied back, rested 30 s.
TEST_F(UntilLandedTest, ThePatternAircraftLandsAndRests) {
    const auto records = RecordUntilLanded({"--hold", "40"});
    EXPECT_GT(records.size(), 300u);
    EXPECT_LT(records.size(), 700u);
}

// Three minutes of flight replayed four times as fast, then held parked.
TEST_F(UntilLandedTest, AReplayedHopLandsAndRests) {
    testing::SyntheticFlight hop;
    hop.Rest(5).Fly(20, 60, 100).Fly(40, 75, 260).Fly(30, 80, 260).Fly(50, 65, 100);
    hop.Fly(20, 20, 100).Fly(10, 5, 100).Rest(5);
    const std::string file = sandbox_.Write("hop.dat", hop.Bytes());
    const auto records = RecordUntilLanded({"--replay", file, "--speed", "4"});
    EXPECT_GT(records.size(), 30u + 170 / 4);
    EXPECT_LT(records.size(), 30u + 200 / 4 + 10);
}

}  // namespace
}  // namespace kestrun
