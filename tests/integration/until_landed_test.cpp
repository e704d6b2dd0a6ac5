// kestrun-record --until-landed against the simulated host's traffic
// pattern: it takes off, lands about five minutes later, taxis back and,
// told to hold for 40 s, comes to rest long enough for the recorder to stop.
// Slow: it flies the whole pattern in real time.

#include <gtest/gtest.h>
#include <sys/wait.h>

#include "tests/integration/host_process.h"
#include "tests/integration/runtime_sandbox.h"
#include "tests/support/test_files.h"

namespace kestrun {
namespace {

TEST(UntilLandedTest, StopsThirtySecondsAfterThePatternAircraftCameToRest) {
    testing::RuntimeSandbox sandbox;
    ::setenv("XDG_CONFIG_HOME", sandbox.root().c_str(), 1);
    testing::HostProcess host;
    ASSERT_TRUE(host.Start({"--hold", "40"}));
    const std::string output = sandbox.root() + "/pattern.dat";
    const std::string printed = sandbox.root() + "/printed.txt";
    const pid_t recorder = testing::SpawnProgram(
        KESTRUN_RECORD_PATH, {"--until-landed", "--seconds", "800", "--output", output}, printed);
    ASSERT_GT(recorder, 0);
    const int status = testing::WaitForChild(recorder);
    ASSERT_TRUE(WIFEXITED(status));
    EXPECT_EQ(WEXITSTATUS(status), 0) << testing::ReadFile(printed);
    EXPECT_NE(testing::ReadFile(printed).find("Landed and at rest: stopping."), std::string::npos);

    // Held 40 s before the takeoff, flew the pattern, taxied back, rested 30 s.
    const auto records = testing::ReadFlightRecords(output);
    EXPECT_GT(records.size(), 300u);
    EXPECT_LT(records.size(), 700u);
    ASSERT_GT(records.size(), 31u);
    const FlightRecord& last = records.back();
    for (std::size_t i = records.size() - 31; i < records.size(); ++i) {
        EXPECT_EQ(records[i].Latitude, last.Latitude) << i;
        EXPECT_EQ(records[i].Longitude, last.Longitude) << i;
    }
}

}  // namespace
}  // namespace kestrun
