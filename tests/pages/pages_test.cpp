// The pages folder: what a run rewrites, what it leaves, and what a failure
// leaves behind; the size of a long flight's page.

#include <gtest/gtest.h>
#include <sys/stat.h>

#include <nlohmann/json.hpp>

#include "logbook/airports.h"
#include "logbook/logbook_scan.h"
#include "logbook/logbook_store.h"
#include "pages/flight_samples.h"
#include "pages/page_folder.h"
#include "pages/page_html.h"
#include "platform/posix/posix_file_system.h"
#include "tests/support/recorder_fakes.h"
#include "tests/support/shell_command.h"
#include "tests/support/synthetic_flight.h"
#include "tests/support/test_files.h"

namespace kestrun {
namespace {

using testing::ScratchDir;

std::string Pattern() {
    testing::SyntheticFlight day;
    day.Depart().Arrive().Fly(5, 0, 100).Depart().Arrive();
    return day.Bytes();
}

class PagesTest : public ::testing::Test {
  protected:
    void SetUp() override { ASSERT_TRUE(OpenLogbook((dir_ / "lb").string(), db_).ok()); }

    void Scan(const std::string& file) {
        LogbookScan scan(db_, CivilDate::FromYmd(2024, 6, 3), [](std::uint64_t) {});
        ASSERT_TRUE(scan.Begin().ok());
        ASSERT_NE(scan.ScanFile(file).outcome, FileScanResult::Outcome::kFailed);
        ASSERT_TRUE(scan.Commit().ok());
    }

    PagesWritten Write(FileSystem& files) {
        PagesWritten written;
        const Status status = WritePagesFolder(db_, files, dir_ / "pages", written);
        EXPECT_TRUE(status.ok()) << status.message();
        return written;
    }

    std::vector<std::string> Names() {
        std::vector<FolderEntry> entries;
        EXPECT_TRUE(posix_.ListFolder(dir_ / "pages", entries).ok());
        std::vector<std::string> names;
        for (const FolderEntry& entry : entries) names.push_back(entry.name);
        std::sort(names.begin(), names.end());
        return names;
    }

    ScratchDir dir_;
    Database db_;
    PosixFileSystem posix_;
};

TEST_F(PagesTest, RewritesOnlyNewAndRescannedFlightsAndRemovesGoneOnes) {
    const std::string file = dir_.Write("day.dat", Pattern());
    Scan(file);
    PagesWritten w = Write(posix_);
    EXPECT_EQ(w.written, 2);
    struct stat info {};
    ASSERT_EQ(::stat((dir_ / "pages").c_str(), &info), 0);
    EXPECT_EQ(info.st_mode & 0777, 0700u);
    EXPECT_EQ(Names(), (std::vector<std::string>{".kestrun-pages", "flight-1.html", "flight-2.html",
                                                 "index.html"}));

    w = Write(posix_);
    EXPECT_EQ(w.written, 0);
    EXPECT_EQ(w.unchanged, 2);

    // A page the pilot deleted comes back; the pilot's own files stay.
    std::filesystem::remove(dir_ / "pages" / "flight-2.html");
    dir_.Write("pages/flight-notes.html", "mine");
    EXPECT_EQ(Write(posix_).written, 1);

    // The recorder appended a third flight; the scan finds the file changed.
    testing::SyntheticFlight more(20 * 3600);
    more.Depart().Arrive();
    dir_.Write("day.dat", Pattern() + more.Bytes());
    Scan(file);
    w = Write(posix_);
    EXPECT_EQ(w.written + w.unchanged, 3);
    EXPECT_GE(w.written, 1);

    // A file that shrank is indexed again: flights gone lose their pages.
    dir_.Write("day.dat", more.Bytes());
    Scan(file);
    w = Write(posix_);
    EXPECT_GE(w.removed, 2);
    const auto names = Names();
    EXPECT_EQ(std::count_if(names.begin(), names.end(),
                            [](const std::string& n) { return n.rfind("flight-", 0) == 0; }),
              2);  // the new flight's page and the pilot's notes
    EXPECT_EQ(testing::ReadFile(dir_ / "pages" / "flight-notes.html"), "mine");
}

TEST_F(PagesTest, AFailedWriteLeavesWholePagesAndRedoesTheRestNextTime) {
    Scan(dir_.Write("day.dat", Pattern()));
    testing::FaultFileSystem failing(posix_);
    failing.text_writes_before_failure = 1;
    PagesWritten written;
    const Status status = WritePagesFolder(db_, failing, dir_ / "pages", written);
    EXPECT_FALSE(status.ok());
    EXPECT_NE(status.message().find("flight-2.html"), std::string::npos) << status.message();
    EXPECT_EQ(Names(), (std::vector<std::string>{"flight-1.html"}));  // no temporary left
    EXPECT_EQ(Write(posix_).written, 2);

    // A folder that cannot be made: one line naming it, nothing written.
    dir_.Write("plain", "a file");
    const Status refused = WritePagesFolder(db_, posix_, dir_ / "plain" / "pages", written);
    EXPECT_EQ(refused.message(),
              "cannot create the folder " + (dir_ / "plain").string() + "/pages: Not a directory");
    const Status unknown = WriteFlightPage(db_, posix_, 42, dir_ / "one.html");
    EXPECT_EQ(unknown.message(), "there is no flight 42 in the logbook");
    EXPECT_FALSE(std::filesystem::exists(dir_ / "one.html"));
}

// The data goes into <script> elements: a file name holding "</script>"
// must not end one early; a page on its own links to no index.
TEST_F(PagesTest, AStandAlonePageKeepsItsDataInsideItsScripts) {
    std::filesystem::create_directories(dir_ / "a</script><b>");
    Scan(dir_.Write("a</script><b>/day.dat", Pattern()));
    ASSERT_TRUE(WriteFlightPage(db_, posix_, 1, dir_ / "one.html").ok());
    const std::string page = testing::ReadFile(dir_ / "one.html");
    std::size_t closings = 0;
    for (std::size_t at = 0; (at = page.find("</script>", at)) != std::string::npos; ++at)
        ++closings;
    EXPECT_EQ(closings, 3u);
    EXPECT_EQ(page.find("index.html"), std::string::npos);
}

TEST_F(PagesTest, ATenHourFlightStaysUnderAHundredBytesARecord) {
    testing::SyntheticFlight flight(6 * 3600);
    flight.Depart().Fly(35000, 110, 1200).Fly(300, 100, 500).Arrive();
    Scan(dir_.Write("long.dat", flight.Bytes()));
    ASSERT_TRUE(WriteFlightPage(db_, posix_, 1, dir_ / "long.html").ok());
    const auto bytes = std::filesystem::file_size(dir_ / "long.html");
    const auto records = flight.points().size();
    EXPECT_GT(records, 36000u);
    EXPECT_LT(static_cast<double>(bytes) / static_cast<double>(records), 100.0)
        << bytes << " bytes for " << records << " records";
}

// Each number of the page's data keeps only the digits it needs: no
// trailing zeros after the point, none lost before it, never "-0".
TEST(FlightSamplesTest, NumbersKeepOnlyTheDigitsTheyNeed) {
    ScratchDir dir;
    std::string bytes;
    testing::AppendRecord(bytes, testing::MakeRecord({.h = 12,
                                                      .lat = 47.5,
                                                      .lon = -8.25,
                                                      .alt_m = 3048,
                                                      .bank_right = -0.04,
                                                      .heading = 90,
                                                      .kt = 120}));
    testing::AppendRecord(bytes, testing::MakeRecord({.h = 12,
                                                      .s = 1,
                                                      .lat = 47.0000012,
                                                      .lon = 8.1,
                                                      .pitch_up = -1.26,
                                                      .bank_right = 0.5,
                                                      .heading = 359.7,
                                                      .kt = 99.96}));
    FlightRow flight;
    flight.file = dir.Write("flight.dat", bytes);
    flight.end_offset = static_cast<std::int64_t>(bytes.size());
    std::string json;
    ASSERT_TRUE(FlightSamplesJson(flight, json).ok());
    EXPECT_EQ(json,
              "{\"start\":43200,\"t\":[0,1],\"lat\":[47.5,47.000001],\"lon\":[-8.25,8.1],"
              "\"alt_ft\":[10000,0],\"ias_kt\":[120,100],\"pitch_deg\":[0,-1.3],"
              "\"bank_deg\":[0,0.5],\"heading_deg\":[90,360]}");
}

// The commands as a pilot types them: one line for each thing that went
// wrong, and `open` without a desktop says where the page is.
TEST_F(PagesTest, CommandsSayWhatWentWrongInOneLine) {
    const std::string file = dir_.Write("day.dat", Pattern());
    Scan(file);
    const std::string logbook = std::string("env -u DISPLAY -u WAYLAND_DISPLAY ") +
                                KESTRUN_LOGBOOK_BINARY + " --db '" + (dir_ / "lb").string() + "' ";
    testing::Outcome run = testing::Shell(dir_, logbook + "html 9 --output one.html");
    EXPECT_EQ(run.exit_code, 1);
    EXPECT_EQ(run.err, "kestrun-logbook: there is no flight 9 in the logbook\n");
    dir_.Write("plain", "a file");
    run = testing::Shell(dir_, logbook + "html --output '" + (dir_ / "plain").string() + "/p'");
    EXPECT_EQ(run.exit_code, 1);
    EXPECT_EQ(std::count(run.err.begin(), run.err.end(), '\n'), 1) << run.err;
    run =
        testing::Shell(dir_, "XDG_DATA_HOME='" + dir_.path().string() + "' " + logbook + "open 2");
    EXPECT_EQ(run.exit_code, 0) << run.err;
    EXPECT_EQ(run.out, (dir_ / "kestrun" / "pages" / "flight-2.html").string() + "\n");
}

}  // namespace
}  // namespace kestrun
