// End-to-end tests of kestrun-export: records made from chosen degrees,
// metres and knots must come back out of every format at the same values.

#include <fcntl.h>
#include <fmt/format.h>
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>
#include <utime.h>

#include <fstream>
#include <limits>

#include "recordfile/civil_date.h"
#include "tests/support/shell_command.h"

namespace kestrun {
namespace {

using namespace testing;

// Runs kestrun-export in the UTC time zone with `args` (already quoted).
Outcome Export(const ScratchDir& dir, const std::string& args) {
    return Shell(dir, std::string("TZ=UTC ") + KESTRUN_EXPORT_BINARY + " " + args);
}

std::size_t Count(const std::string& text, const std::string& what) {
    std::size_t n = 0;
    for (auto at = text.find(what); at != std::string::npos; at = text.find(what, at + 1)) ++n;
    return n;
}

// Checks `xml` with xmllint: well-formed, and valid against `schema` if named.
void CheckXml(const ScratchDir& dir, const std::string& xml, const std::string& schema = "") {
    if (std::system("command -v xmllint >/dev/null 2>&1") != 0) {
        GTEST_SKIP() << "xmllint (Debian package libxml2-utils) is not installed";
    }
    const std::string file = dir.Write("check.xml", xml);
    const std::string against = schema.empty() ? "" : "--schema '" + schema + "' ";
    const Outcome check = Shell(dir, "xmllint --noout " + against + "'" + file + "'");
    EXPECT_EQ(check.exit_code, 0) << check.err;
}

// Flown past midnight into a leap day, with both signs of latitude and
// longitude, a heading just short of 360, a record without a position, a
// longitude that rounds to the antimeridian and a gap.
class ExportFormatsTest : public ::testing::Test {
  protected:
    void SetUp() override {
        std::string bytes;
        for (const Flown& f : kFlight) AppendRecord(bytes, MakeRecord(f));
        AppendRecord(bytes, FlightRecord{.Header1 = 8, .Header3 = 1, .Second = 1});  // link closed
        AppendRecord(bytes, MakeRecord({.s = 2, .lat = 10, .lon = 179.99999999, .alt_m = 100}));
        AppendRecord(bytes, MakeRecord({.s = 30, .lat = 10.001, .lon = -179.9999, .kt = 90}));
        file_ = dir_.Write("flight.dat", bytes);
    }
    Outcome ExportAs(const std::string& format, const std::string& zone = "UTC") {
        const Outcome run = Shell(dir_, "TZ=" + zone + " " + KESTRUN_EXPORT_BINARY +
                                            " --date 2024-02-28 -f " + format + " '" + file_ + "'");
        EXPECT_EQ(run.exit_code, 0) << run.err;
        return run;
    }

    static constexpr Flown kFlight[] = {
        {23, 59, 58, -33.8688, 151.2093, 1234.5, 5.25, 10.5, 359.9999, 123.4},
        {23, 59, 59, 51.47, -0.4543, -12.25, -3, -20, 0.0004, 88.8},
        {0, 0, 0, -54.8019, -68.303, 0.5, 0, 0, 180.25, 0},
    };
    ScratchDir dir_;
    std::string file_;
};

// Every value to its printed decimals: altitude in metres and feet, pitch up
// and bank right positive, 359.9999 rounded round to north, airspeed to the
// host's 1/128 kt, a longitude that rounds to -180, and the position of the
// record of a closed link left empty.
TEST_F(ExportFormatsTest, CsvGivesBackTheFlownValues) {
    EXPECT_EQ(ExportAs("csv").out,
              "date,time,latitude_deg,longitude_deg,altitude_m,altitude_ft,pitch_deg,bank_deg,"
              "heading_deg,airspeed_kt,header1,header2,header3,header4\n"
              "2024-02-28,23:59:58,-33.8688000,151.2093000,1234.50,4050.20,5.250,10.500,0.000,"
              "123.40,8,0,1,0\n"
              "2024-02-28,23:59:59,51.4700000,-0.4543000,-12.25,-40.19,-3.000,-20.000,0.000,88.80,"
              "8,0,1,0\n"
              "2024-02-29,00:00:00,-54.8019000,-68.3030000,0.50,1.64,0.000,0.000,180.250,0.00,8,0,"
              "1,0\n"
              "2024-02-29,00:00:01,,,,,0.000,0.000,0.000,,8,0,1,0\n"
              "2024-02-29,00:00:02,10.0000000,-180.0000000,100.00,328.08,0.000,0.000,0.000,0.00,8,"
              "0,1,0\n"
              "2024-02-29,00:00:30,10.0010000,-179.9999000,0.00,0.00,0.000,0.000,0.000,90.00,8,0,1,"
              "0\n");
}

TEST_F(ExportFormatsTest, GpxIsValidWithUtcTimesAndOneSegmentPerStretch) {
    const std::string gpx = ExportAs("gpx").out;
    EXPECT_EQ(Count(gpx, "<trkseg>"), 3u);
    EXPECT_EQ(Count(gpx, "<trkpt "), 5u);
    for (const char* text :
         {"<trkpt lat=\"-33.8688000\" lon=\"151.2093000\"><ele>1234.50</ele>"
          "<time>2024-02-28T23:59:58Z</time>",
          "<ele>-12.25</ele><time>2024-02-28T23:59:59Z</time>", "<time>2024-02-29T00:00:00Z</time>",
          "2024-02-28, given with --date"}) {
        EXPECT_NE(gpx.find(text), std::string::npos) << text;
    }
    // Local times one hour ahead of UTC.
    EXPECT_NE(ExportAs("gpx", "CET-1").out.find("<time>2024-02-28T22:59:58Z</time>"),
              std::string::npos);
}

// The schema lives beside the repository; KESTRUN_GPX_SCHEMA points elsewhere.
// Without it, ctest lists this test as not run under a name that says why.
TEST_F(ExportFormatsTest, GpxMatchesTheGpx11Schema) {
    const char* override_path = std::getenv("KESTRUN_GPX_SCHEMA");
    const std::string schema = override_path != nullptr ? override_path : GPX_SCHEMA;
    if (!std::filesystem::exists(schema)) GTEST_SKIP() << "GPX 1.1 schema not found at " << schema;
    CheckXml(dir_, ExportAs("gpx").out, schema);
}

// Field by field: UTC time (rolling over with the date of the first fix),
// degrees and thousandths of minutes with the hemisphere, validity, pressure
// and GNSS altitude alike (five characters, minus below sea level), airspeed
// in km/h and heading, CR LF; the record without a position left out.
TEST_F(ExportFormatsTest, IgcHasOneFixPerPositionInUtc) {
    const std::string igc = ExportAs("igc", "CET-1").out;
    const std::string header =
        "AXKR001 Kestrun Digital Flight Recorder\r\nHFDTE280224\r\nHFFXA100\r\n"
        "HFPLTPILOTINCHARGE:\r\n";
    EXPECT_EQ(igc.substr(0, header.size()), header);
    EXPECT_NE(igc.find("\r\nI023638IAS3941HDT\r\n"), std::string::npos);
    EXPECT_EQ(igc.substr(igc.find("\r\nB") + 2),
              "B2259583352128S15112558EA0123501235229000\r\n"
              "B2259595128200N00027258WA-0012-0012164000\r\n"
              "B2300005448114S06818180WA0000100001000180\r\n"
              "B2300021000000N18000000EA0010000100000000\r\n"
              "B2300301000060N17959994WA0000000000167000\r\n");
}

TEST_F(ExportFormatsTest, KmlHasTimedTracksAndAnAbsoluteAltitudePath) {
    const std::string kml = ExportAs("kml").out;
    EXPECT_EQ(Count(kml, "<gx:Track>"), 3u);
    EXPECT_EQ(Count(kml, "<when>"), 5u);
    EXPECT_EQ(Count(kml, "<gx:coord>"), 5u);
    for (const char* text : {"<when>2024-02-28T23:59:58Z</when>\n<when>2024-02-28T23:59:59Z</when>",
                             "<gx:coord>151.2093000 -33.8688000 1234.50</gx:coord>",
                             "<LineString><altitudeMode>absolute</altitudeMode><coordinates>\n"
                             "151.2093000,-33.8688000,1234.50\n"}) {
        EXPECT_NE(kml.find(text), std::string::npos) << text;
    }
    CheckXml(dir_, kml);
}

TEST_F(ExportFormatsTest, SvgIsOnePictureWithLabelledAxes) {
    const std::string svg = ExportAs("svg").out;
    for (const char* text : {">Start<", ">End<", ">Altitude (ft)<", ">Indicated airspeed (kt)<",
                             ">Local time<", "<polyline"}) {
        EXPECT_NE(svg.find(text), std::string::npos) << text;
    }
    CheckXml(dir_, svg);
}

TEST(ExportTest, SummaryOfAMessyFile) {
    ScratchDir dir;
    std::string cut;
    AppendRecord(cut, MakeRecord({.h = 9, .lat = 45, .lon = 7}));
    std::string bytes = "leftover bytes" + cut.substr(0, 50);
    AppendRecord(bytes, MakeRecord({.h = 9, .lat = 45, .lon = 7, .alt_m = 300, .kt = 80}));
    AppendRecord(bytes, MakeRecord({.h = 9, .s = 1, .lat = 46, .lon = 7, .alt_m = 900, .kt = 150}));
    AppendRecord(
        bytes, MakeRecord({.h = 9, .m = 10, .s = 1, .lat = 46, .lon = 7, .alt_m = 500, .kt = 95}));
    bytes += cut.substr(0, 30);
    const std::string file = dir.Write("messy.dat", bytes);

    const Outcome run = Export(dir, "-f summary --date 2023-07-01 '" + file + "'");
    ASSERT_EQ(run.exit_code, 0) << run.err;
    for (const char* line :
         {"Date: 2023-07-01 (given with --date)", "From: 2023-07-01 09:00:00", "Duration: 0:10:01",
          "Records: 3", "Distance flown: 111.2 km (60.0 NM)", "Highest altitude: 900.0 m (2953 ft)",
          "Fastest airspeed: 150.0 kt", "Gaps in time: 1, longest 0:10:00",
          "Damaged records skipped: 1 (50 bytes)", "Other bytes skipped: 14",
          "Truncated last record: 30 bytes, not decoded"}) {
        EXPECT_NE(run.out.find(std::string(line) + "\n"), std::string::npos) << line;
    }
    EXPECT_NE(run.err.find("the last record is cut short"), std::string::npos);
}

TEST(ExportTest, DateComesFromTheModificationTimeUnlessGiven) {
    ScratchDir dir;
    std::string bytes;
    AppendRecord(bytes, MakeRecord({.h = 23, .m = 59, .s = 59, .lat = 1, .lon = 1}));
    AppendRecord(bytes, MakeRecord({.lat = 1, .lon = 1}));
    const std::string file = dir.Write("night.dat", bytes);
    // Written at 00:00:05 UTC on 2021-06-16, so the flight began on the 15th.
    const std::int64_t modified = CivilDate::FromYmd(2021, 6, 16).days * 86400 + 5;
    const struct utimbuf times { modified, modified };
    ASSERT_EQ(::utime(file.c_str(), &times), 0);

    const Outcome csv = Export(dir, "'" + file + "'");
    EXPECT_NE(csv.out.find("\n2021-06-15,23:59:59,1.0000000,"), std::string::npos) << csv.out;
    EXPECT_NE(csv.out.find("\n2021-06-16,00:00:00,1.0000000,"), std::string::npos) << csv.out;
    EXPECT_NE(csv.err.find("2021-06-15, taken from the file's modification time"),
              std::string::npos);
    // The summary needs no date before the records: it is worked out after them.
    EXPECT_NE(Export(dir, "-f summary '" + file + "'")
                  .out.find("Date: 2021-06-15 (taken from the file's modification time)"),
              std::string::npos);
}

// A given date is refused when a flight past midnight would reach the year
// 10000, before anything is written; one that stays in 9999 is taken.
TEST(ExportTest, AGivenDateIsRefusedWhereTheFlightWouldReachTheYear10000) {
    ScratchDir dir;
    std::string bytes;
    AppendRecord(bytes, MakeRecord({.h = 23, .m = 59, .s = 59, .lat = 1, .lon = 1}));
    AppendRecord(bytes, MakeRecord({.lat = 1, .lon = 1}));
    const std::string file = dir.Write("night.dat", bytes);
    for (const char* format : {"gpx", "summary"}) {
        const Outcome late = Export(dir, fmt::format("-f {} -d 9999-12-31 '{}'", format, file));
        EXPECT_TRUE(late.exit_code == 1 && late.out.empty()) << late.out;
        EXPECT_NE(late.err.find("into 10000-01-01, past 9999-12-31"), std::string::npos);
    }
    EXPECT_NE(Export(dir, "-d 9999-12-30 '" + file + "'").out.find("\n9999-12-31,00:00:00,"),
              std::string::npos);
}

// Modification times at the ends of the 64-bit range, and ones just outside
// the years 1 to 9999, are refused with one clear line before anything is
// written; the first and last writable days are taken. Needs a file system
// that keeps such times (tmpfs does; ext4 clamps them).
TEST(ExportTest, ModificationTimesOutsideTheYearsOneTo9999AreRefused) {
    const std::string file = "/dev/shm/kestrun-export-date-" + std::to_string(::getpid()) + ".dat";
    std::string bytes;
    AppendRecord(bytes, MakeRecord({.h = 12, .lat = 1, .lon = 1}));
    ScratchDir dir;
    std::ofstream(file, std::ios::binary) << bytes;
    const std::int64_t first_day = CivilDate::FromYmd(1, 1, 1).days * 86400;
    const std::int64_t after_last_day = CivilDate::FromYmd(10000, 1, 1).days * 86400;
    const struct {
        std::int64_t modified;
        bool refused;
    } cases[] = {
        {std::numeric_limits<std::int64_t>::min(), true},
        {std::numeric_limits<std::int64_t>::max(), true},
        {first_day - 1, true},
        {after_last_day, true},
        {first_day + 13 * 3600, false},
        {after_last_day - 1, false},
    };
    for (const auto& c : cases) {
        const struct timespec times[2] = {{c.modified, 0}, {c.modified, 0}};
        struct stat st {};
        if (::utimensat(AT_FDCWD, file.c_str(), times, 0) != 0 || ::stat(file.c_str(), &st) != 0 ||
            st.st_mtim.tv_sec != c.modified) {
            std::filesystem::remove(file);
            GTEST_SKIP() << "this system does not keep a modification time of " << c.modified;
        }
        for (const char* format : {"gpx", "summary"}) {
            SCOPED_TRACE(fmt::format("{} {}", c.modified, format));
            const Outcome run = Export(dir, fmt::format("-f {} '{}'", format, file));
            EXPECT_EQ(run.exit_code, c.refused ? 1 : 0) << run.err;
            EXPECT_EQ(run.err.find("outside the years 1 to 9999; give the date of its first record "
                                   "with --date") != std::string::npos,
                      c.refused)
                << run.err;
            // Without the schema beside the project the GPX is still checked
            // as well-formed; the schema test reports its own skip.
            if (std::string_view(format) == "gpx" && !c.refused) {
                CheckXml(dir, run.out, std::filesystem::exists(GPX_SCHEMA) ? GPX_SCHEMA : "");
            }
        }
    }
    std::filesystem::remove(file);
}

TEST(ExportTest, BadInputAndBadOptionsNeverCrash) {
    ScratchDir dir;
    const std::string empty = dir.Write("empty.dat", "");
    std::string noise;
    for (int i = 0; i < 100000; ++i) noise += static_cast<char>((i * 7919) % 251);
    const std::string garbage = dir.Write("garbage.dat", noise);
    std::string flight = noise;
    AppendRecord(flight, MakeRecord({}));
    // A name that is not UTF-8 and holds markup must still give valid XML.
    const std::string odd = dir.Write("a&b<\xff.dat", flight);

    // Files without a single record are no flights: no document, no file.
    const Outcome none = Export(
        dir, "-f gpx -o '" + (dir / "out.gpx").string() + "' '" + empty + "' '" + garbage + "'");
    EXPECT_EQ(none.exit_code, 1);
    EXPECT_EQ(none.err, "kestrun-export: " + empty + ": no flight records found\nkestrun-export: " +
                            garbage + ": no flight records found\n");
    EXPECT_FALSE(std::filesystem::exists(dir / "out.gpx"));
    EXPECT_EQ(Export(dir, "-f kml '" + garbage + "'").out, "");

    const struct {
        std::string args;
        int exit_code;
        std::string message;
    } kBad[] = {
        {"-f pdf '" + empty + "'", 2, "--format"},
        {"--date 2023-02-29 '" + empty + "'", 2, "not a date"},
        {"--bogus '" + empty + "'", 2, "bogus"},
        {"", 2, "FILE"},
        {fmt::format("'{}/missing.dat'", dir.path().string()), 1, "missing.dat"},
        {fmt::format("'{}'", dir.path().string()), 1, "not a regular file"},
        {"-o '" + garbage + "' '" + garbage + "'", 2, "is the input"},
        {"-o /dev/full '" + odd + "'", 1, "No space left"},
    };
    for (const auto& bad : kBad) {
        SCOPED_TRACE(bad.args);
        const Outcome run = Export(dir, bad.args);
        EXPECT_EQ(run.exit_code, bad.exit_code);
        EXPECT_NE(run.err.find(bad.message), std::string::npos) << run.err;
    }
    EXPECT_EQ(ReadFile(garbage), noise);

    const Outcome gpx = Export(dir, "-f gpx '" + odd + "'");
    EXPECT_EQ(gpx.exit_code, 0) << gpx.err;
    CheckXml(dir, gpx.out);
}

}  // namespace
}  // namespace kestrun
