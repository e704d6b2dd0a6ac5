#include <fmt/format.h>
#include <gtest/gtest.h>
#include <sqlite3.h>
#include <sys/stat.h>
#include <zlib.h>

#include <algorithm>
#include <chrono>
#include <filesystem>
#include <thread>
#include <tuple>

#include "flights/runway_geometry.h"
#include "logbook/airports.h"
#include "logbook/flight_json.h"
#include "logbook/flight_rows.h"
#include "logbook/judgement_rows.h"
#include "logbook/logbook_output.h"
#include "logbook/logbook_scan.h"
#include "logbook/logbook_store.h"
#include "logbook/runways.h"
#include "platform/posix/posix_file_system.h"
#include "recordfile/track_length.h"
#include "tests/support/recorder_fakes.h"
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
    EXPECT_EQ(Scan((dir_ / "." / "x" / ".." / "day.dat").string()).outcome, Outcome::kUnchanged);

    dir_.Write("day.dat", bytes);
    const FileScanResult grown = Scan(path);
    EXPECT_EQ(grown.outcome, Outcome::kGrown);
    EXPECT_LT(grown.records * 80, bytes.size() - cut + 80 * 2000);
    EXPECT_GT(grown.records * 80, bytes.size() - cut);

    // The flight in progress is completed, not found twice (the logbook's
    // fuzz target compares grown files with whole readings at every cut).
    flights = Flights();
    ASSERT_EQ(flights.size(), 3u);
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
        Status status = OpenLogbook(path, db);
        // Damage deep inside may open for reading; the first change refuses it.
        if (status.ok()) status = db.Exec("DELETE FROM phases");
        // Refused, and saying so.
        EXPECT_NE(status.message().find("left unchanged"), std::string::npos)
            << path << ": " << status.message();
        EXPECT_EQ(testing::ReadFile(path), before) << path;
    }
}

// Logbooks of every older version, with a flight as those versions wrote it,
// keep it and gain the newer tables and columns, empty.
TEST_F(LogbookTest, OlderLogbooksAreBroughtUpToDate) {
    for (const int old : {1, 2, 3}) {
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
        EXPECT_EQ(rows[0].fields, PilotFields{});
        EXPECT_EQ(rows[0].implausible, "");
        FlightJudgement judgement;
        ASSERT_TRUE(LoadJudgement(db, 3, judgement).ok());
        EXPECT_TRUE(judgement.touchdowns.empty() && !judgement.approach && !judgement.takeoff);
        RunwayImport import;
        EXPECT_TRUE(UpdateRunways(db, KESTRUN_LOGBOOK_DATA "/apt-excerpt.dat", import).ok());
    }
}

// A host sped up 8 times still gives one record a real second: every speed
// and rate 8 times as high. Such a flight is marked; no real one is.
TEST_F(LogbookTest, FlightsNoLightAircraftFliesAreMarkedImplausible) {
    testing::SyntheticFlight day;
    day.Depart().Fly(300, 100, 1500).Arrive(400);
    std::vector<FlightPoint> fast;
    for (std::size_t i = 0; i < day.points().size(); i += 8) {
        fast.push_back(day.points()[i]);
        fast.back().seconds = day.points()[0].seconds + static_cast<std::int64_t>(fast.size());
    }
    Scan(dir_.Write("fast.dat", testing::RecordBytes(fast)));
    for (const char* name : {"flightgear-in-air.dat", "flightgear-parked.dat"}) {
        Scan(std::string(KESTRUN_LOGBOOK_DATA "/../../flights/data/") + name);
    }
    Scan(dir_.Write("day.dat", ADay()));
    const auto flights = Flights();
    ASSERT_EQ(flights.size(), 5u);  // sped up, FlightGear in the air, three of the day
    for (const FlightRow& f : flights) {
        const bool sped_up = f.file.ends_with("fast.dat");
        EXPECT_EQ(f.implausible.empty(), !sped_up) << f.file << ": " << f.implausible;
    }
    const auto totals = Json::parse(FormatStats(flights, TableFormat::kJson));
    EXPECT_EQ(totals["total"]["flights"], 4);
    EXPECT_EQ(totals["implausible_left_out"]["flights"], 1);
    EXPECT_NE(FormatStats(flights, TableFormat::kTable).find("1 implausible flight "),
              std::string::npos);
}

TEST_F(LogbookTest, AirportsAreTheNearestWithinFiveKilometresOrNone) {
    // 0.01 degree of latitude is 1.11 km.
    const std::string csv = dir_.Write("airports.csv",
                                       "ident,latitude,longitude,elevation_ft\r\nNEAR,47.04,8,"
                                       "300\nFAR,47.046,8,\nEAST,0,179.99,0\n");
    Database db;
    Open("logbook.sqlite", db);
    AirportImport import;
    ASSERT_TRUE(UpdateAirports(db, csv, import).ok());
    EXPECT_TRUE(import.imported);
    ASSERT_TRUE(UpdateAirports(db, csv, import).ok());
    EXPECT_FALSE(import.imported);  // the same file is not read again

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

}

std::string Gzip(const std::string& text) {
    uLongf size = compressBound(static_cast<uLong>(text.size())) + 32;
    std::string packed(size, '\0');
    z_stream z{};
    EXPECT_EQ(deflateInit2(&z, 9, Z_DEFLATED, 16 + MAX_WBITS, 8, Z_DEFAULT_STRATEGY), Z_OK);
    z.next_in = reinterpret_cast<Bytef*>(const_cast<char*>(text.data()));
    z.avail_in = static_cast<uInt>(text.size());
    z.next_out = reinterpret_cast<Bytef*>(packed.data());
    z.avail_out = static_cast<uInt>(size);
    EXPECT_EQ(deflate(&z, Z_FINISH), Z_STREAM_END);
    packed.resize(z.total_out);
    deflateEnd(&z);
    return packed;
}

// RFC 4180 quoting; every line and field bounded; a bad list, CSV or
// apt.dat, names its file and line and leaves the airports as they were.
TEST_F(LogbookTest, AirportListsAreReadAsWrittenAndBoundedOrRefusedWhole) {
    Database db;
    Open("logbook.sqlite", db);
    const auto idents = [&] {
        Statement query;
        EXPECT_TRUE(db.Prepare("SELECT ident FROM airports ORDER BY id", query).ok());
        std::vector<std::string> all;
        while (query.Step()) all.push_back(query.Text(0));
        return all;
    };
    AirportImport import;
    const std::string quoted = dir_.Write(
        "quoted.csv",
        "\"ident\",latitude,longitude,elevation_ft\r\n\"KQ\"\"X\",1,2,3\r\n\"A,B\",1,2,\n"
        "\"LINE\nBREAK\",1,2,\"\"\n\nLAST,1,2,3");
    ASSERT_TRUE(UpdateAirports(db, quoted, import).ok());
    EXPECT_TRUE(import.imported) << import.refused;
    const std::vector<std::string> good = {"KQ\"X", "A,B", "LINE\nBREAK", "LAST"};
    EXPECT_EQ(idents(), good);

    const std::string header = "ident,latitude,longitude,elevation_ft\n";
    const std::string apt_header = "I\n1000 Version\n\n1 1000 0 0 EDDX Some Field\n"
                                   "1302 datum_lat 50\n1302 datum_lon 8\n";
    const struct {
        std::string name, contents, refused;
    } bad[] = {
        {"range.csv", header + "A,1,2,3\nB,91,2,3\n", "range.csv:3: latitude"},
        {"open.csv", header + "A,1,2,3\n\"B,1,2,3\n\n", "open.csv:3: a quoted field is not closed"},
        {"after.csv", header + "\"A\"x,1,2,3\n", "after.csv:2: a quoted field must end"},
        {"field.csv", header + std::string(300, 'I') + ",1,2,3\n",
         "field.csv:2: a field is longer than 256 bytes"},
        {"ident.csv", header + std::string(65, 'I') + ",1,2,3\n",
         "ident.csv:2: the ident is longer than 64 bytes"},
        {"long.dat.gz", Gzip(apt_header + "99" + std::string(65536, ' ') + "\n"),
         "long.dat.gz:7: the line is longer than 65536 bytes"},
        {"endless.dat.gz", Gzip(apt_header + std::string(std::size_t{64} << 20, 'x')),
         "endless.dat.gz:7: the line is longer than 65536 bytes"},
        {"cut.dat.gz", Gzip(apt_header).substr(0, 20), "cut.dat.gz: unexpected end of file"},
    };
    for (const auto& c : bad) {
        SCOPED_TRACE(c.name);
        ASSERT_TRUE(UpdateAirports(db, dir_.Write(c.name, c.contents), import).ok());
        EXPECT_FALSE(import.imported);
        EXPECT_NE(import.refused.find(c.refused), std::string::npos) << import.refused;
        EXPECT_EQ(idents(), good);
    }
    // Just at the bound, gzip members one after another, a line without its end.
    const std::string fits = Gzip(apt_header + "99" + std::string(65534, ' ') + "\n") +
                             Gzip("1 100 0 0 LAST Field\n1302 datum_lat 1\n1302 datum_lon 2");
    ASSERT_TRUE(UpdateAirports(db, dir_.Write("fits.dat.gz", fits), import).ok());
    EXPECT_TRUE(import.imported) << import.refused;
    EXPECT_EQ(idents(), (std::vector<std::string>{"EDDX", "LAST"}));
}

// A file cut short while the logbook reads it is not indexed from half of it:
// the scan fails and what the logbook held about it stays.
TEST_F(LogbookTest, AFileCutShortWhileReadKeepsItsEntries) {
    const std::string bytes = ADay();
    const std::string path = dir_.Write("day.dat", bytes.substr(0, bytes.size() / 2));
    ASSERT_EQ(Scan(path).outcome, Outcome::kNew);
    const auto before = Flights();
    dir_.Write("day.dat", bytes);

    PosixFileSystem posix;
    testing::FaultFileSystem files(posix);
    files.before_read = [&](std::uint64_t offset) {
        if (offset > bytes.size() / 2) std::filesystem::resize_file(path, bytes.size() * 3 / 4);
    };
    Database db;
    Open("logbook.sqlite", db);
    LogbookScan scan(files, db, std::nullopt);
    ASSERT_TRUE(scan.Begin().ok());
    const FileScanResult result = scan.ScanFile(path);
    EXPECT_EQ(result.outcome, Outcome::kFailed);
    EXPECT_EQ(result.message, "cannot read: the file changed while it was read");
    ASSERT_TRUE(scan.Commit().ok());
    EXPECT_EQ(Flights().size(), before.size());
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
    // A bare file name is a logbook in the current folder.
    const std::filesystem::path here = std::filesystem::current_path();
    std::filesystem::current_path(dir_.path());
    Database bare;
    EXPECT_TRUE(OpenLogbook("bare.sqlite", bare).ok());
    std::filesystem::current_path(here);
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
TEST_F(LogbookTest, TablesShowControlCharactersEscapedAndJsonAnyName) {
    FlightRow flight;
    flight.file = "/f/x\x1b[2Jy\nz.dat";
    flight.departure = "\x1b]0;TITLE\a";
    const std::string list = FormatFlightList({flight}, TableFormat::kTable);
    EXPECT_NE(list.find("\\e]0;TITLE\\a"), std::string::npos) << list;
    EXPECT_NE(list.find("/f/x\\e[2Jy\\nz.dat\n"), std::string::npos) << list;
    EXPECT_EQ(std::count(list.begin(), list.end(), '\n'), 2);
    FlightJudgement judged;  // runway idents too come from a list
    judged.touchdowns.emplace_back().runway = judged.go_arounds.emplace_back().airport =
        judged.takeoff.emplace().runway = judged.approach.emplace().runway = flight.departure;
    for (const std::string& text :
         {FormatFlight(flight, {}, judged), FormatStats({flight}, TableFormat::kTable)}) {
        EXPECT_EQ(text.find_first_of("\x1b\a"), std::string::npos) << text;
    }
    EXPECT_NE(FormatFlightList({flight}, TableFormat::kCsv).find(flight.departure),
              std::string::npos);
    // JSON holds only UTF-8: a name in another encoding is shown, not fatal.
    flight.file = "/f/Z\xfcrich.dat";
    EXPECT_NE(FormatFlightList({flight}, TableFormat::kJson).find("/f/Z\ufffdrich.dat"),
              std::string::npos);
}

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
