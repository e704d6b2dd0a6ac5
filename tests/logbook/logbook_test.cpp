#include <gtest/gtest.h>
#include <sqlite3.h>

#include <filesystem>
#include <tuple>

#include "flights/runway_geometry.h"
#include "logbook/airports.h"
#include "recordfile/track_length.h"
#include "logbook/judgement_rows.h"
#include "logbook/runways.h"
#include "logbook/logbook_scan.h"
#include "logbook/logbook_store.h"
#include "tests/support/synthetic_flight.h"
#include "tests/support/test_files.h"
#include "logbook/flight_rows.h"

namespace kestrun {
namespace {

using Outcome = FileScanResult::Outcome;

class LogbookTest : public ::testing::Test {
  protected:
    void Open(const std::string& name, Database& db) {
        ASSERT_TRUE(OpenLogbook((dir_ / name).string(), db).ok()) << name;
    }
    // A plain SQLite database `name` here, made by running `sql`.
    std::string Sqlite(const std::string& name, const char* sql) {
        Database db;
        const std::string path = (dir_ / name).string();
        EXPECT_TRUE(db.Open(path, SQLITE_OPEN_READWRITE | SQLITE_OPEN_CREATE).ok());
        EXPECT_TRUE(db.Exec(sql).ok()) << sql;
        return path;
    }
    FileScanResult Scan(const std::string& file, const std::string& db_name = "logbook.sqlite") {
        Database db;
        Open(db_name, db);
        LogbookScan scan(db, CivilDate::FromYmd(2024, 6, 3));
        EXPECT_TRUE(scan.Begin().ok());
        const FileScanResult result = scan.ScanFile(file);
        EXPECT_TRUE(scan.Commit().ok());
        return result;
    }
    std::vector<FlightRow> Flights(const std::string& db_name = "logbook.sqlite") {
        Database db;
        Open(db_name, db);
        std::vector<FlightRow> rows;
        EXPECT_TRUE(LoadFlights(db, {}, rows).ok());
        return rows;
    }

    testing::ScratchDir dir_;
};

// Two whole flights and the departure of a third.
std::string ADay() {
    testing::SyntheticFlight day;
    return day.Depart().Arrive().Depart().Arrive().Depart().Bytes();
}

TEST_F(LogbookTest, ScansReadOnlyWhatWasAppendedAndIndexAgainWhatChanged) {
    const std::string bytes = ADay();
    const std::size_t cut = bytes.size() / 2;  // in the second flight's cruise
    const std::string path = dir_.Write("day.dat", bytes.substr(0, cut));
    EXPECT_EQ(Scan(path).outcome, Outcome::kNew);
    auto flights = Flights();
    ASSERT_EQ(flights.size(), 2u);
    EXPECT_FALSE(flights[1].complete);
    EXPECT_FALSE(flights[1].landing);

    EXPECT_EQ(Scan(path).outcome, Outcome::kUnchanged);

    dir_.Write("day.dat", bytes);
    const FileScanResult grown = Scan(path);
    EXPECT_EQ(grown.outcome, Outcome::kGrown);
    EXPECT_LT(grown.records * 80, bytes.size() - cut + 80 * 2000);
    EXPECT_GT(grown.records * 80, bytes.size() - cut);

    // The flight in progress is completed as if the whole file were indexed at once.
    Scan(dir_.Write("whole.dat", bytes), "whole.sqlite");
    flights = Flights();
    const auto whole = Flights("whole.sqlite");
    ASSERT_TRUE(flights.size() == 3 && whole.size() == 3) << flights.size() << ", " << whole.size();
    const auto key = [](const FlightRow& r) {
        return std::tuple(r.begin_offset, r.takeoff, r.landing, r.on_block, r.complete);
    };
    for (std::size_t i = 0; i < 3; ++i) EXPECT_EQ(key(flights[i]), key(whole[i])) << i;
    EXPECT_TRUE(flights[1].complete);

    // Shrunk; then changed before its end, though longer than it was.
    for (const std::string& changed :
         {bytes.substr(0, bytes.size() / 3), std::string(80, 'x') + bytes.substr(80)}) {
        dir_.Write("day.dat", changed);
        const FileScanResult result = Scan(path);
        EXPECT_EQ(result.outcome, Outcome::kReindexed);
        EXPECT_GT(result.flights, 0u);
        EXPECT_EQ(Flights().size(), result.flights);
    }
    EXPECT_EQ(Scan(dir_.Write("empty.dat", "no records here")).outcome, Outcome::kNoRecords);
    EXPECT_EQ(Scan((dir_ / "missing.dat").string()).outcome, Outcome::kFailed);
}

TEST_F(LogbookTest, RefusesWhatIsNotItsLogbookWithoutChangingIt) {
    Scan(dir_.Write("day.dat", ADay()), "damaged.sqlite");
    std::string damaged = testing::ReadFile(dir_ / "damaged.sqlite");
    ASSERT_GT(damaged.size(), 8192u);
    damaged.replace(4096, 4096, std::string(4096, '\xA5'));
    const std::vector<std::string> refused = {
        dir_.Write("notes.sqlite", "a text file, not a database, long enough to look at........"),
        Sqlite("other.sqlite", "CREATE TABLE accounts(name TEXT)"),
        Sqlite("newer.sqlite",
               "PRAGMA application_id = 1263292231; PRAGMA user_version = 99;"
               "CREATE TABLE files(id INTEGER)"),
        dir_.Write("damaged.sqlite", damaged),
    };
    for (const std::string& path : refused) {
        const std::string before = testing::ReadFile(path);
        Database db;
        const Status status = OpenLogbook(path, db);
        // Refused, and saying so.
        EXPECT_NE(status.message().find("left unchanged"), std::string::npos)
            << path << ": " << status.message();
        EXPECT_EQ(testing::ReadFile(path), before) << path;
    }
}

// Logbooks of the first version and of the one before the runways, with a
// flight as those versions wrote it, keep it and gain the runways' tables.
TEST_F(LogbookTest, OlderLogbooksAreBroughtUpToDate) {
    for (const int old : {1, 2}) {
        const std::string name = "old" + std::to_string(old) + ".sqlite";
        {
            Database db;
            ASSERT_TRUE(
                db.Open((dir_ / name).string(), SQLITE_OPEN_READWRITE | SQLITE_OPEN_CREATE).ok());
            ASSERT_TRUE(MigrateLogbook(db, old).ok());
            ASSERT_TRUE(
                db.Exec("INSERT INTO files VALUES (7, '/old.dat', 1, 2, 3, 4, 5, 0, 0, NULL);"
                        "INSERT INTO flights VALUES (3, 7, 0, 800, 1, 100, 200, 100, 110, 190, "
                        "200, 5000, 300, 90, 47, 8, 47.1, 8, -400, 60, 3, 0, 0, 'KTST', 'KTST')")
                    .ok());
        }
        Database db;
        Open(name, db);
        std::int64_t version = 0, files = 0;
        ASSERT_TRUE(db.QueryInt("PRAGMA user_version", version).ok() &&
                    db.QueryInt("SELECT count(*) FROM files WHERE id = 7", files).ok());
        EXPECT_EQ(version, kLogbookSchemaVersion);
        EXPECT_EQ(files, 1);
        std::vector<FlightRow> rows;
        ASSERT_TRUE(LoadFlights(db, {}, rows).ok());
        ASSERT_EQ(rows.size(), 1u);
        EXPECT_EQ(rows[0].touchdown_fpm, -400);
        EXPECT_EQ(rows[0].runway, "");
        FlightJudgement judgement;
        ASSERT_TRUE(LoadJudgement(db, 3, judgement).ok());
        EXPECT_TRUE(judgement.touchdowns.empty() && !judgement.approach && !judgement.takeoff);
        RunwayImport import;
        EXPECT_TRUE(UpdateRunways(db, KESTRUN_LOGBOOK_DATA "/apt-excerpt.dat", import).ok());
    }
}

TEST_F(LogbookTest, AirportsAreTheNearestWithinFiveKilometresOrNone) {
    // 0.01 degree of latitude is 1.11 km.
    const std::string csv = dir_.Write("airports.csv",
                                       "ident,latitude,longitude,elevation_ft\r\nNEAR,47.04,8,"
                                       "300\nFAR,47.046,8,\nEAST,0,179.99,0\n");
    Database db;
    Open("logbook.sqlite", db);
    bool imported = false;
    ASSERT_TRUE(UpdateAirports(db, csv, imported).ok());
    EXPECT_TRUE(imported);
    ASSERT_TRUE(UpdateAirports(db, csv, imported).ok());
    EXPECT_FALSE(imported);  // the same file is not read again

    const struct {
        double lat, lon;
        const char* ident;
    } cases[] = {{47.0, 8, "NEAR"},   {47.09, 8, "FAR"},    {47.1, 8, ""},
                 {47.042, 8, "NEAR"}, {0, -179.99, "EAST"}, {-47.04, 8, ""}};
    for (const auto& c : cases) {
        std::string ident;
        ASSERT_TRUE(NearestAirport(db, c.lat, c.lon, ident).ok());
        EXPECT_EQ(ident, c.ident) << c.lat << "," << c.lon;
    }

    const std::string bad =
        dir_.Write("bad.csv", "ident,latitude,longitude,elevation_ft\nA,1,2,3\nB,91,2,3\n");
    const Status status = UpdateAirports(db, bad, imported);
    EXPECT_FALSE(status.ok());
    EXPECT_NE(status.message().find("bad.csv:3:"), std::string::npos) << status.message();
}

}  // namespace
}  // namespace kestrun

namespace kestrun {
namespace {

// The open airport data's runways.csv: quoted fields, columns in its order
// among others, runways without a position skipped and counted.
TEST_F(LogbookTest, RunwaysFromACsvOfRunwayEnds) {
    const std::string header =
        "\"id\",\"airport_ident\",\"width_ft\",\"le_ident\",\"le_latitude_deg\","
        "\"le_longitude_deg\",\"le_elevation_ft\",\"le_displaced_threshold_ft\",\"he_ident\","
        "\"he_latitude_deg\",\"he_longitude_deg\",\"he_elevation_ft\",\"he_displaced_threshold_ft\"\n";
    const std::string csv = dir_.Write(
        "runways.csv", header +
                           "1,\"KPAO\",75,\"13\",37.463752,-122.117660,5,,\"31\",37.458026,"
                           "-122.111985,4,213\n"
                           "2,\"X \"\"Y\"\"\",,\"H1\",,,,,\"H2\",,,,\n");
    Database db;
    Open("logbook.sqlite", db);
    RunwayImport import;
    ASSERT_TRUE(UpdateRunways(db, csv, import).ok());
    EXPECT_TRUE(import.imported);
    EXPECT_EQ(import.runways, 1);
    EXPECT_EQ(import.skipped, 1);
    LogbookRunways finder(db);
    const auto near = finder.RunwaysNear({37.46, -122.115}, 2000);
    ASSERT_EQ(near.size(), 1u);
    EXPECT_NEAR(near[0].width_m, 75 * 0.3048, 1e-9);
    EXPECT_EQ(near[0].ends[1].ident, "31");
    EXPECT_NEAR(near[0].ends[1].displaced_m, 213 * 0.3048, 1e-9);
    EXPECT_NEAR(*near[0].ends[0].elevation_m, 5 * 0.3048, 1e-9);
    EXPECT_NEAR(RunwayFrame(near[0], 1).length_m(),
                GreatCircleMetres(37.463752, -122.117660, 37.458026, -122.111985), 0.5);
    EXPECT_TRUE(finder.RunwaysNear({37.6, -122.115}, 2000).empty());

    const std::string bad = dir_.Write("bad.csv", header + "1,\"KPAO\",75,\"13\",37.4,-122.1,5,,\"31\",37.5,-122.1,x,\n");
    // In the scan's transaction, which a failure rolls back.
    ASSERT_TRUE(db.Exec("BEGIN").ok());
    const Status status = UpdateRunways(db, bad, import);
    ASSERT_TRUE(db.Exec("ROLLBACK").ok());
    EXPECT_NE(status.message().find("bad.csv:2:"), std::string::npos) << status.message();
    EXPECT_EQ(finder.RunwaysNear({37.46, -122.115}, 2000).size(), 1u);  // as they were
}

}  // namespace
}  // namespace kestrun
