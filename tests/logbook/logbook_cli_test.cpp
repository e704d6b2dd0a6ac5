// kestrun-logbook as a pilot runs it, and killed in the middle of a scan.

#include <fmt/format.h>
#include <gtest/gtest.h>
#include <signal.h>

#include <chrono>
#include <fstream>
#include <iterator>
#include <nlohmann/json.hpp>
#include <regex>
#include <thread>

#include "tests/support/host_process.h"
#include "tests/support/shell_command.h"
#include "tests/support/synthetic_flight.h"

namespace kestrun {
namespace {

using testing::Outcome;
using testing::ScratchDir;

// Runs kestrun-logbook on the logbook `db` in `dir`. Scans name their own
// airports, so that an installed FlightGear's list is neither needed nor read.
Outcome Logbook(const ScratchDir& dir, const std::string& db, std::string args) {
    const std::string airports =
        dir.Write("airports.csv", "ident,latitude,longitude,elevation_ft\nKTST,47.0,8.0,328\n");
    if (args.rfind("scan", 0) == 0) args += " --airports '" + airports + "'";
    return testing::Shell(dir, std::string("TZ=UTC ") + KESTRUN_LOGBOOK_BINARY + " --db '" +
                                   (dir / db).string() + "' " + args);
}

std::string ADay() {
    testing::SyntheticFlight day;
    day.Depart().Arrive().Fly(5, 0, 100).Depart();
    day.Fly(125, 65, 100).Fly(6, 60, 100).Fly(60, 75, 500).Fly(100, 90, 500).Arrive();
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
    std::string keys;
    for (const auto& item : list[1].items()) keys += item.key() + " ";
    EXPECT_EQ(keys.substr(0, keys.find(" touch_and_goes ") + 16),
              "id file date departure arrival takeoff landing air_time_s distance_nm "
              "max_altitude_ft max_ias_kt touchdown_fpm touch_and_goes ");
    EXPECT_EQ(list[0]["departure"], "KTST");
    EXPECT_EQ(list[0]["arrival"], "");  // 25 km north
    EXPECT_EQ(list[1]["date"], "2024-06-03");
    EXPECT_EQ(list[1]["touch_and_goes"], 1);
    EXPECT_EQ(list[1]["touchdown_fpm"], -630);
    EXPECT_EQ(
        nlohmann::json::parse(Logbook(dir, "lb", "list --airport ktst --format json").out).size(),
        1u);
    std::filesystem::create_directories(dir / "none");
    const Outcome none = Logbook(dir, "lb", "scan '" + (dir / "none").string() + "'");
    EXPECT_EQ(none.exit_code, 1);
    EXPECT_NE(none.err.find("no record files (*.dat) in " + (dir / "none").string()),
              std::string::npos)
        << none.err;
    const std::string later = Logbook(dir, "lb", "list --format csv --from 2024-06-04").out;
    EXPECT_EQ(later.find('\n') + 1, later.size());  // the header alone

    const auto stats = nlohmann::json::parse(Logbook(dir, "lb", "stats --format json").out);
    EXPECT_EQ(stats["total"]["flights"], 2);
    EXPECT_EQ(stats["total"]["landings"], 3);
    EXPECT_EQ(stats["by_month"][0]["month"], "2024-06");

    EXPECT_NE(Logbook(dir, "lb", "show 2").out.find("approach"), std::string::npos);
    const Outcome igc = Logbook(dir, "lb", "show 2 --export igc");
    // From the stop before the takeoff to the stop after the landing.
    const std::regex fix("\r\nB");
    const auto fixes = std::distance(std::sregex_iterator(igc.out.begin(), igc.out.end(), fix), {});
    EXPECT_EQ(fixes, 20 + 100 + 300 + 125 + 6 + 60 + 100 + 125 + 20 + 30 + 2);
    EXPECT_EQ(Logbook(dir, "lb", "show 99").exit_code, 1);

    const Outcome foreign = Logbook(dir, "flights/june/day.DAT", "list");
    EXPECT_EQ(foreign.exit_code, 1);
    EXPECT_NE(foreign.err.find("left unchanged"), std::string::npos) << foreign.err;
}

// Bytes the process `pid` has read so far; -1 once it is gone.
long long BytesRead(pid_t pid) {
    std::ifstream io("/proc/" + std::to_string(pid) + "/io");
    for (std::string key; io >> key;) {
        long long value = 0;
        io >> value;
        if (key == "rchar:") return value;
    }
    return -1;
}

// One bad line in the airport list: the scan says where, keeps the airports
// it had, scans the record files all the same and ends with status 1.
TEST(LogbookCliTest, ABadAirportLineKeepsTheAirportsAndScansAnyway) {
    ScratchDir dir;
    const std::string flight = dir.Write("day.dat", ADay());
    ASSERT_EQ(Logbook(dir, "l.db", "scan '" + flight + "'").exit_code, 0);
    const std::string bad = dir.Write(
        "bad.csv", "ident,latitude,longitude,elevation_ft\nNEW,47.0,8.0,1\n\"B\"x,1,2,3\n");
    const std::string other = dir.Write("other.dat", ADay());
    const Outcome scan = testing::Shell(dir, std::string("TZ=UTC ") + KESTRUN_LOGBOOK_BINARY +
                                                 " --db '" + (dir / "l.db").string() +
                                                 "' scan --airports '" + bad + "' '" + other + "'");
    EXPECT_EQ(scan.exit_code, 1);
    EXPECT_NE(scan.err.find("bad.csv:3: a quoted field must end"), std::string::npos) << scan.err;
    EXPECT_NE(scan.out.find("other.dat: "), std::string::npos) << scan.out;
    const std::string list = Logbook(dir, "l.db", "list -f csv").out;
    EXPECT_NE(list.find("KTST"), std::string::npos) << list;
    EXPECT_EQ(list.find("NEW"), std::string::npos) << list;
    EXPECT_NE(list.find("other.dat"), std::string::npos) << list;
}

// One transaction per scan: killed while it reads the files, the logbook is
// as it was before the scan, never half done nor damaged, and the next scan
// does the whole work.
TEST(LogbookCliTest, AKilledScanLeavesTheLogbookAsItWas) {
    ScratchDir dir;
    const std::string day = ADay();
    std::string all;
    for (int i = 0; i < 24; ++i) all += " '" + dir.Write(fmt::format("{:03}.dat", i), day) + "'";
    ASSERT_EQ(Logbook(dir, "after", "scan" + all).exit_code, 0);
    const std::string after = Logbook(dir, "after", "list -f csv").out;
    const long long total = 24LL * static_cast<long long>(day.size());

    for (int k = 1; k <= 2; ++k) {
        const std::string db = fmt::format("killed{}", k);
        ASSERT_EQ(Logbook(dir, db, "scan" + all.substr(0, all.find("' '") + 1)).exit_code, 0);
        const std::string before = Logbook(dir, db, "list -f csv").out;
        const pid_t pid = testing::SpawnProgram(
            KESTRUN_LOGBOOK_BINARY, {"--db", (dir / db).string(), "scan", dir.path().string()},
            "/dev/null", "/dev/null");
        for (long long read = 0; read >= 0 && read < total * k / 3; read = BytesRead(pid)) {
            std::this_thread::sleep_for(std::chrono::microseconds(200));
        }
        ::kill(pid, SIGKILL);
        testing::WaitForChild(pid);
        const Outcome now = Logbook(dir, db, "list -f csv");
        EXPECT_EQ(now.out, before) << "killed at " << k << "/3 of the bytes: " << now.err;
        ASSERT_EQ(Logbook(dir, db, "scan '" + dir.path().string() + "'").exit_code, 0);
        EXPECT_EQ(Logbook(dir, db, "list -f csv").out, after);
    }
}

}  // namespace
}  // namespace kestrun
