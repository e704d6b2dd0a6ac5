// A flight's output must not depend on where the exporter kept things on the
// way: records held in memory or the file read twice, spooled KML text held
// in memory or spilled to its temporary file.

#include <fcntl.h>
#include <gtest/gtest.h>
#include <unistd.h>
#include <utime.h>

#include <string>

#include "export/csv_format.h"
#include "export/export_run.h"
#include "export/kml_format.h"
#include "platform/posix/posix_file_system.h"
#include "tests/support/test_files.h"

namespace kestrun {
namespace {

using namespace testing;

struct Keeping {
    std::size_t record_spool;  // bytes of records held before reading twice
    std::size_t text_spool;    // bytes of KML text held before the file
};

std::string ExportWith(const ScratchDir& dir, const std::string& input, const std::string& format,
                       Keeping keeping) {
    const std::string path = (dir / "out.txt").string();
    PosixFileSystem files;
    std::unique_ptr<OutputStream> stream;
    EXPECT_TRUE(files.OpenOutputStream(path, stream).ok());
    {
        OutputBuffer out(stream.get());
        CsvFormat csv(out);
        KmlFormat kml(out, keeping.text_spool);
        FlightFormat& writer = format == "csv" ? static_cast<FlightFormat&>(csv) : kml;
        ExportDriver driver(writer, std::nullopt, keeping.record_spool);
        writer.BeginDocument();
        FlightReport report;
        EXPECT_TRUE(driver.ExportFile(input, report).ok());
        writer.EndDocument();
        EXPECT_TRUE(out.Flush());
    }
    EXPECT_TRUE(stream->Close().ok());
    return ReadFile(path);
}

TEST(ExportSpoolTest, OutputIsTheSameWhereverTheFlightWasKept) {
    ::setenv("TZ", "UTC", 1);
    ScratchDir dir;
    // Two stretches of 200 records across a midnight, a gap between them.
    std::string bytes;
    for (int i = 0; i < 400; ++i) {
        const int of_day = (86300 + i + (i >= 200 ? 30 : 0)) % 86400;
        AppendRecord(bytes, MakeRecord({.h = of_day / 3600,
                                        .m = of_day / 60 % 60,
                                        .s = of_day % 60,
                                        .lat = 47 + i * 1e-4,
                                        .lon = 8,
                                        .alt_m = 500.0 + i,
                                        .kt = 90}));
    }
    const std::string input = dir.Write("flight.dat", bytes);
    const utimbuf written{1717287000, 1717287000};  // 2024-06-02 00:10 UTC
    ASSERT_EQ(::utime(input.c_str(), &written), 0);

    for (const std::string format : {"csv", "kml"}) {
        const std::string kept = ExportWith(dir, input, format, {std::size_t{1} << 20, 1 << 20});
        EXPECT_NE(kept.find("2024-06-01"), std::string::npos) << format;
        EXPECT_NE(kept.find("2024-06-02"), std::string::npos) << format;
        // No room for a single record, and KML text spilled many times over.
        EXPECT_EQ(ExportWith(dir, input, format, {0, 4096}), kept) << format;
    }
}

}  // namespace
}  // namespace kestrun
