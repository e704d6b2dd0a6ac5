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
#include <tuple>

#include "export/export_run.h"
#include "logbook/logbook_output.h"
#include "logbook/logbook_store.h"
#include "logbook/runways.h"
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
    EXPECT_TRUE(scan.out.ends_with("\n0 files unchanged\n")) << scan.out;

    const auto list = nlohmann::ordered_json::parse(Logbook(dir, "lb", "list --format json").out);
    ASSERT_EQ(list.size(), 2u);
    std::string keys;
    for (const auto& item : list[1].items()) keys += item.key() + " ";
    EXPECT_EQ(keys.substr(0, keys.find(" touch_and_goes ") + 16),
              "id file date departure arrival takeoff landing air_time_s distance_nm "
              "max_altitude_ft max_ias_kt touchdown_fpm touch_and_goes ");
    EXPECT_EQ(list[0]["departure"], "KTST");
    EXPECT_TRUE(list[0]["arrival"].is_null());  // 25 km north: unknown, as everywhere, is null
    EXPECT_EQ(list.dump().find("\"\""), std::string::npos) << list;
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
    for (const std::string& format : ExportFormatNames()) {
        const Outcome exported = Logbook(dir, "lb", "show 2 --export " + format);
        EXPECT_TRUE(exported.exit_code == 0 && exported.out.size() > 200) << format << exported.err;
    }
    EXPECT_EQ(Logbook(dir, "lb", "show 99").exit_code, 1);

    const Outcome foreign = Logbook(dir, "flights/june/day.DAT", "list");
    EXPECT_EQ(foreign.exit_code, 1);
    EXPECT_NE(foreign.err.find("left unchanged"), std::string::npos) << foreign.err;
}

// An empty logbook says how to fill it: in place of a table, and on
// standard error beside CSV and JSON, which stay what a program expects.
TEST(LogbookCliTest, AnEmptyLogbookSaysHowToFillIt) {
    ScratchDir dir;
    const std::string hint =
        "kestrun-logbook --db " + (dir / "lb").string() + " scan FOLDER-OR-FILE";
    for (const std::string command : {"list", "stats", "list -f csv", "stats -f json"}) {
        const Outcome shown = Logbook(dir, "lb", command);
        const bool table = command.find(" -f ") == std::string::npos;
        EXPECT_TRUE(shown.exit_code == 0 &&
                    (table ? shown.out : shown.err).find(hint) != std::string::npos &&
                    (table || shown.out.find(hint) == std::string::npos))
            << command << ": " << shown.out << shown.err;
    }
    EXPECT_EQ(Logbook(dir, "lb", "list -f json").out, "[]\n");
}

// The h:mm of list and show and the hours of stats round alike: to the
// nearest, halves up, past 99 hours too.
TEST(LogbookCliTest, ListAndStatsRoundTimesAlike) {
    const std::tuple<std::int64_t, std::string, double> cases[] = {
        {17, "0:00", 0},      {18, "0:00", 0.01},       {7169, "1:59", 1.99},
        {7170, "2:00", 1.99}, {359969, "99:59", 99.99}, {359970, "100:00", 99.99}};
    for (const auto& [seconds, shown, hours] : cases) {
        FlightRow f;
        f.takeoff = f.off_block = 1000;
        f.landing = f.on_block = 1000 + seconds;
        EXPECT_NE(
            FormatFlightList({f}, TableFormat::kTable).find(fmt::format(" {0:>6} {0:>6} ", shown)),
            std::string::npos)
            << seconds;
        EXPECT_EQ(
            nlohmann::json::parse(FormatStats({f}, TableFormat::kJson))["total"]["block_hours"],
            hours)
            << seconds;
    }
}

// What the pilot tells about a flight: edited, defaults for flights filed
// later, kept by a re-scan that finds the flight again whole, and written
// into the exports, safe as text in each.
TEST(LogbookCliTest, PilotsFieldsSurviveARescanAndGoIntoExports) {
    ScratchDir dir;
    const std::string day = ADay(), path = (dir / "day.dat").string();
    dir.Write("day.dat", day.substr(0, day.size() * 2 / 3));  // in the second flight
    ASSERT_EQ(Logbook(dir, "lb", "scan --date 2024-06-03 '" + path + "'").exit_code, 0);
    const std::string remark = "Z\u00fcrich <&> \"gusty\", gear down";
    EXPECT_EQ(
        Logbook(dir, "lb", "edit 1 --pilot 'A. Pilot' --aircraft C172 --remarks '" + remark + "'")
            .exit_code,
        0);
    EXPECT_EQ(Logbook(dir, "lb", "edit 2 --registration D-EKST").exit_code, 0);
    EXPECT_EQ(Logbook(dir, "lb", "set aircraft PA28").exit_code, 0);
    EXPECT_EQ(Logbook(dir, "lb", "edit 9 --pilot B").exit_code, 1);
    EXPECT_EQ(Logbook(dir, "lb", "edit 1 --remarks \"$(printf 'a\\tb')\"").exit_code, 2);
    EXPECT_EQ(Logbook(dir, "lb", "edit 1").exit_code, 2);
    EXPECT_NE(Logbook(dir, "lb", "set").out.find("aircraft      PA28"), std::string::npos);

    dir.Write("day.dat", day);  // grown: the second flight is found again whole
    ASSERT_EQ(Logbook(dir, "lb", "scan '" + path + "'").exit_code, 0);
    const auto list = nlohmann::json::parse(Logbook(dir, "lb", "list --format json").out);
    ASSERT_EQ(list.size(), 2u);
    EXPECT_EQ(list[0]["remarks"], remark);
    EXPECT_EQ(list[1]["registration"], "D-EKST");
    EXPECT_EQ(list[1]["aircraft"], nullptr);  // filed before the default was set
    EXPECT_NE(Logbook(dir, "lb", "list --format csv")
                  .out.find("\"Z\u00fcrich <&> \"\"gusty\"\", gear down\""),
              std::string::npos);
    const auto stats = nlohmann::json::parse(Logbook(dir, "lb", "stats --format json").out);
    EXPECT_EQ(stats["by_aircraft"][0]["aircraft"], "?");
    EXPECT_EQ(stats["by_aircraft"][1]["aircraft"], "C172");

    const std::string id = list[0]["id"].dump();
    const Outcome igc = Logbook(dir, "lb", "show " + id + " --export igc");
    EXPECT_NE(igc.out.find("HFPLTPILOTINCHARGE:A. Pilot\r\nHFCM2CREW2:\r\nHFGTYGLIDERTYPE:C172\r\n"
                           "HFGIDGLIDERID:\r\n"),
              std::string::npos)
        << igc.out.substr(0, 300);
    for (const char* format : {"gpx", "kml"}) {
        const Outcome xml = Logbook(dir, "lb", "show " + id + " --export " + format);
        EXPECT_NE(xml.out.find("Z\u00fcrich &lt;&amp;&gt; &quot;gusty&quot;, gear down"),
                  std::string::npos)
            << format;
        EXPECT_NE(xml.out.find("C172, pilot A. Pilot"), std::string::npos) << format;
        if (std::system("command -v xmllint >/dev/null 2>&1") == 0) {
            const std::string file = dir.Write(std::string("flight.") + format, xml.out);
            EXPECT_EQ(testing::Shell(dir, "xmllint --noout '" + file + "'").exit_code, 0);
        }
    }
}

// A landing on KSFO 28R judged by a scan and shown: the show's JSON holds
// the list's keys and the judgement, unknown values null.
TEST(LogbookCliTest, ShowJudgesTheLandingAgainstItsRunway) {
    ScratchDir dir;
    const std::string excerpt = KESTRUN_LOGBOOK_DATA "/apt-excerpt.dat";
    Runway runway;
    int end = 0;
    {
        Database db;
        ASSERT_TRUE(OpenLogbook((dir / "runways").string(), db).ok());
        RunwayImport import;
        ASSERT_TRUE(UpdateRunways(db, excerpt, import).ok());
        LogbookRunways finder(db);
        for (const Runway& r : finder.RunwaysNear({37.619, -122.375}, 5000)) {
            if (r.ends[1].ident == "28R") runway = r, end = 1;
        }
        ASSERT_EQ(runway.airport, "KSFO");
    }
    testing::SyntheticFlight f(runway, end, *runway.airport_elevation_m, -2400, 2, 150, 0, 70);
    f.Sink(400).Steer(75, 70, -400).Steer(5, 70, -400).Steer(10, 20, 0).Steer(10, 0, 0).Steer(30, 0, 0);
    dir.Write("ksfo.dat", testing::RecordBytes(f.points()));
    const Outcome scan = Logbook(dir, "lb", "scan --date 2024-06-03 --runways '" + excerpt + "' '" +
                                                (dir / "ksfo.dat").string() + "'");
    ASSERT_EQ(scan.exit_code, 0) << scan.err;
    EXPECT_NE(scan.out.find("6 runways imported"), std::string::npos) << scan.out;

    const auto list = nlohmann::ordered_json::parse(Logbook(dir, "lb", "list --format json").out);
    ASSERT_EQ(list.size(), 1u);
    EXPECT_EQ(list[0]["runway"], "28R");
    const double truth = f.touchdowns()[0].x_m;
    EXPECT_NEAR(list[0]["touchdown_distance_m"].get<double>(), truth, 20);

    const Outcome shown = Logbook(dir, "lb", "show 1 --format json");
    ASSERT_EQ(shown.exit_code, 0) << shown.err;
    const auto show = nlohmann::ordered_json::parse(shown.out);
    for (const auto& item : list[0].items()) EXPECT_EQ(show[item.key()], item.value()) << item.key();
    EXPECT_EQ(show.dump().find("\"\""), std::string::npos) << show;
    EXPECT_TRUE(show["takeoff_report"].is_null());  // began in the air
    ASSERT_EQ(show["landings"].size(), 1u);
    const auto& landing = show["landings"][0];
    EXPECT_EQ(landing["kind"], "final");
    EXPECT_EQ(landing["airport"], "KSFO");
    EXPECT_NEAR(landing["centreline_offset_m"].get<double>(), 2, 1);
    EXPECT_NEAR(landing["touchdown_fpm"].get<double>(), -400, 40);
    EXPECT_EQ(landing["bounces"], 0);
    EXPECT_TRUE(show["go_arounds"].empty() && show["events"].empty());
    // From 150 m, below both gates' heights: no gate on final, not stable.
    EXPECT_EQ(show["approach"]["runway"], "28R");
    EXPECT_TRUE(show["approach"]["gates"].empty());
    EXPECT_EQ(show["approach"]["stable"], false);

    const std::string text = Logbook(dir, "lb", "show 1").out;
    EXPECT_NE(text.find("Final landing KSFO 28R: touched down at 10:0"), std::string::npos)
        << text;
    EXPECT_NE(text.find("m right of centre"), std::string::npos) << text;
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
