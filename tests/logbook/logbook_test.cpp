#include <fmt/format.h>
#include <gtest/gtest.h>
#include <sqlite3.h>
#include <sys/stat.h>

#include <algorithm>
#include <chrono>
#include <filesystem>
#include <thread>
#include <tuple>

#include "logbook/airports.h"
#include "logbook/flight_rows.h"
#include "logbook/logbook_output.h"
#include "logbook/logbook_scan.h"
#include "logbook/logbook_store.h"
#include "tests/support/synthetic_flight.h"
#include "tests/support/test_files.h"

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

TEST_F(LogbookTest, AFirstVersionLogbookIsBroughtUpToDate) {
    {
        Database db;
        ASSERT_TRUE(
            db.Open((dir_ / "old.sqlite").string(), SQLITE_OPEN_READWRITE | SQLITE_OPEN_CREATE)
                .ok());
        ASSERT_TRUE(MigrateLogbook(db, 1).ok());
        ASSERT_TRUE(
            db.Exec("INSERT INTO files VALUES (7, '/old.dat', 1, 2, 3, 4, 5, 0, 0, NULL)").ok());
    }
    Database db;
    Open("old.sqlite", db);
    std::int64_t version = 0, files = 0;
    ASSERT_TRUE(db.QueryInt("PRAGMA user_version", version).ok() &&
                db.QueryInt("SELECT count(*) FROM files WHERE id = 7", files).ok());
    EXPECT_EQ(version, kLogbookSchemaVersion);
    EXPECT_EQ(files, 1);
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

// Made by the logbook: its folders, the file, its WAL and shared memory are
// the owner's alone, whatever the umask.
TEST_F(LogbookTest, IsCreatedForItsOwnerAloneWhateverTheUmask) {
    const std::filesystem::path path = dir_ / "new" / "logbook.sqlite";
    const mode_t umask_before = ::umask(0);
    Database db;
    ASSERT_TRUE(OpenLogbook(path.string(), db).ok());
    ::umask(umask_before);
    for (const auto& [made, mode] :
         {std::pair{dir_ / "new", 0700u}, {path, 0600u}, {path.string() + "-wal", 0600u}}) {
        struct stat st {};
        EXPECT_EQ(::stat(made.c_str(), &st) == 0 ? st.st_mode & 0777 : 0, mode) << made;
    }
}

// Two scans at once: the second waits for the first, within its bound, while
// a reader opens the logbook at once.
TEST_F(LogbookTest, ASecondScanWaitsForTheFirstAndAReaderNotAtAll) {
    using namespace std::chrono_literals;
    Database first, second;
    Open("logbook.sqlite", first);
    LogbookScan holding(first, std::nullopt), waiting(second, std::nullopt);
    ASSERT_TRUE(holding.Begin().ok());
    const auto opening = std::chrono::steady_clock::now();
    Open("logbook.sqlite", second);
    EXPECT_LT(std::chrono::steady_clock::now() - opening, 1s);
    bool told = false;
    second.SetLockWait(300ms, [&] { told = true; });
    EXPECT_NE(waiting.Begin().message().find("another kestrun-logbook"), std::string::npos);
    EXPECT_TRUE(told);
    second.SetLockWait(20s);
    std::thread finish([&] {
        std::this_thread::sleep_for(300ms);
        EXPECT_TRUE(holding.Commit().ok());
    });
    EXPECT_TRUE(waiting.Begin().ok());
    finish.join();
}

// A full disk (here the page limit) is told as such; the scan saves nothing.
TEST_F(LogbookTest, AFullDiskIsToldAsSuchAndTheScanChangesNothing) {
    std::string days;
    for (int i = 0; i < 20; ++i) days += ADay();
    const std::string file = dir_.Write("days.dat", days);
    {
        Database db;
        Open("logbook.sqlite", db);
        std::int64_t pages = 0;
        ASSERT_TRUE(db.QueryInt("PRAGMA page_count", pages).ok());
        ASSERT_TRUE(db.Exec(fmt::format("PRAGMA max_page_count = {}", pages)).ok());
        LogbookScan scan(db, std::nullopt);
        ASSERT_TRUE(scan.Begin().ok());
        EXPECT_EQ(scan.ScanFile(file).message, "the disk is full");
        EXPECT_NE(scan.ScanFile(file).message.find("has stopped"), std::string::npos);
        EXPECT_EQ(scan.Commit().message(), "the disk is full");
    }
    EXPECT_TRUE(Flights().empty());
}

// No record's date passes 9999-12-31, as none comes before 0001-01-01.
TEST_F(LogbookTest, AFlightIntoTheYear10000IsRefused) {
    testing::SyntheticFlight late(kSecondsPerDay - 200);
    const std::string night = dir_.Write("night.dat", late.Depart().Arrive().Bytes());
    Database db;
    Open("logbook.sqlite", db);
    for (const int day : {31, 30}) {
        LogbookScan scan(db, CivilDate::FromYmd(9999, 12, day));
        ASSERT_TRUE(scan.Begin().ok());
        EXPECT_EQ(scan.ScanFile(night).message.find("past 9999-12-31") != std::string::npos,
                  day == 31);
        ASSERT_TRUE(scan.Commit().ok());
    }
}

// Idents and file names come from outside: the tables for people escape
// their control characters, one row a line; CSV keeps them, quoted.
TEST_F(LogbookTest, TablesShowControlCharactersEscaped) {
    FlightRow flight;
    flight.file = "/f/x\x1b[2Jy\nz.dat";
    flight.departure = "\x1b]0;TITLE\a";
    const std::string list = FormatFlightList({flight}, TableFormat::kTable);
    EXPECT_NE(list.find("\\e]0;TITLE\\a"), std::string::npos) << list;
    EXPECT_NE(list.find("/f/x\\e[2Jy\\nz.dat\n"), std::string::npos) << list;
    EXPECT_EQ(std::count(list.begin(), list.end(), '\n'), 2);
    for (const std::string& text :
         {FormatFlight(flight, {}), FormatStats({flight}, TableFormat::kTable)}) {
        EXPECT_EQ(text.find_first_of("\x1b\a"), std::string::npos) << text;
    }
    EXPECT_NE(FormatFlightList({flight}, TableFormat::kCsv).find(flight.departure),
              std::string::npos);
}

}  // namespace
}  // namespace kestrun
