// kestrun-logbook as a pilot runs it, and killed in the middle of a scan.

#include <fmt/format.h>
#include <gtest/gtest.h>
#include <signal.h>

#include <chrono>
#include <nlohmann/json.hpp>
#include <thread>

#include "tests/flights/synthetic_flight.h"
#include "tests/integration/host_process.h"
#include "tests/export/export_test_support.h"

namespace kestrun {
namespace {

using testing::Outcome;
using testing::ScratchDir;

Outcome Logbook(const ScratchDir& dir, const std::string& db, const std::string& args) {
    return testing::Shell(dir, std::string("TZ=UTC ") + KESTRUN_LOGBOOK_BINARY + " --db '" +
                                   (dir / db).string() + "' " + args);
}

std::string ADay() {
    testing::SyntheticFlight day;
    day.Depart();
    day.Arrive();
    day.Fly(5, 0, 100).Depart();
    day.Fly(125, 65, 100).Fly(6, 60, 100).Fly(60, 75, 500).Fly(100, 90, 500);
    day.Arrive();
    return day.Bytes();
}

TEST(LogbookCliTest, ScanListShowStatsAndExport) {
    ScratchDir dir;
    std::filesystem::create_directories(dir / "flights" / "june");
    dir.Write("flights/june/day.DAT", ADay());
    dir.Write("flights/empty.dat", "");
    dir.Write("flights/notes.txt", "not a record file");
    const Outcome scan =
        Logbook(dir, "lb", "scan --date 2024-06-03 '" + (dir / "flights").string() + "'");
    EXPECT_EQ(scan.exit_code, 0) << scan.err;
    EXPECT_NE(scan.out.find("empty.dat: no flight records; skipped"), std::string::npos)
        << scan.out;
    EXPECT_NE(scan.out.find("day.DAT: 2 flights"), std::string::npos) << scan.out;

    const auto list = nlohmann::ordered_json::parse(Logbook(dir, "lb", "list --format json").out);
    ASSERT_EQ(list.size(), 2u);
    const std::vector<std::string> keys = {
        "id",         "file",          "date",          "departure",   "arrival",
        "takeoff",    "landing",       "air_time_s",    "distance_nm", "max_altitude_ft",
        "max_ias_kt", "touchdown_fpm", "touch_and_goes"};
    std::vector<std::string> got;
    for (const auto& item : list[1].items()) got.push_back(item.key());
    got.resize(keys.size());
    EXPECT_EQ(got, keys);
    EXPECT_EQ(list[1]["date"], "2024-06-03");
    EXPECT_EQ(list[1]["touch_and_goes"], 1);
    EXPECT_EQ(list[1]["touchdown_fpm"], -630);
    EXPECT_EQ(Logbook(dir, "lb", "list --format csv --from 2024-06-04").out.find('\n') + 1,
              Logbook(dir, "lb", "list --format csv --from 2024-06-04").out.size());

    const auto stats = nlohmann::json::parse(Logbook(dir, "lb", "stats --format json").out);
    EXPECT_EQ(stats["total"]["flights"], 2);
    EXPECT_EQ(stats["total"]["landings"], 3);
    EXPECT_EQ(stats["by_month"][0]["month"], "2024-06");

    EXPECT_NE(Logbook(dir, "lb", "show 2").out.find("approach"), std::string::npos);
    const Outcome igc = Logbook(dir, "lb", "show 2 --export igc");
    EXPECT_EQ(igc.out.substr(0, 4), "AXKR");
    // From the stop before the takeoff to the stop after the landing.
    EXPECT_EQ(testing::Count(igc.out, "\r\nB"),
              20u + 100 + 300 + 125 + 6 + 60 + 100 + 125 + 20 + 30 + 2);
    EXPECT_EQ(Logbook(dir, "lb", "show 99").exit_code, 1);

    const Outcome foreign = Logbook(dir, "flights/june/day.DAT", "list");
    EXPECT_EQ(foreign.exit_code, 1);
    EXPECT_NE(foreign.err.find("left unchanged"), std::string::npos) << foreign.err;
}

// One transaction per scan: killed at any moment, the logbook is as it was
// before the scan or as after it, and never refused as damaged.
TEST(LogbookCliTest, AKilledScanLeavesTheLogbookAsBeforeOrAfter) {
    ScratchDir dir;
    const std::string day = ADay();
    std::string all;
    for (int i = 0; i < 150; ++i)
        all += " '" + dir.Write(fmt::format("day{:03}.dat", i), day) + "'";
    const auto started = std::chrono::steady_clock::now();
    ASSERT_EQ(Logbook(dir, "after", "scan" + all).exit_code, 0);
    const auto took = std::chrono::steady_clock::now() - started;
    const std::string after = Logbook(dir, "after", "list -f csv").out;

    int before_seen = 0;
    for (int k = 1; k <= 4; ++k) {
        const std::string db = fmt::format("killed{}", k);
        ASSERT_EQ(Logbook(dir, db, "scan '" + (dir / "day000.dat").string() + "'").exit_code, 0);
        const std::string before = Logbook(dir, db, "list -f csv").out;
        const pid_t pid = testing::SpawnProgram(
            KESTRUN_LOGBOOK_BINARY, {"--db", (dir / db).string(), "scan", dir.path().string()},
            "/dev/null", "/dev/null");
        std::this_thread::sleep_for(took * k / 5);
        ::kill(pid, SIGKILL);
        testing::WaitForChild(pid);
        const Outcome now = Logbook(dir, db, "list -f csv");
        EXPECT_EQ(now.exit_code, 0) << now.err;
        EXPECT_TRUE(now.out == before || now.out == after) << "killed after " << k << "/5";
        before_seen += now.out == before;
    }
    EXPECT_GT(before_seen, 0) << "no kill landed inside a scan; the files are too few";
}

}  // namespace
}  // namespace kestrun
