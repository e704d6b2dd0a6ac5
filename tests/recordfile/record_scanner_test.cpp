#include "recordfile/record_scanner.h"

#include <gtest/gtest.h>

#include "tests/support/test_files.h"

namespace kestrun {
namespace {

using namespace std::string_literals;

class Collect final : public RecordSink {
  public:
    void OnRecord(const FlightRecord& record, std::uint64_t offset) override {
        offsets.push_back(offset);
        seconds.push_back(record.Second);
    }
    std::vector<std::uint64_t> offsets;
    std::vector<int> seconds;
};

ScanCounts Scan(const std::string& bytes, Collect& sink) {
    return ScanBytes({reinterpret_cast<const std::byte*>(bytes.data()), bytes.size()}, sink);
}

std::string Bytes(const FlightRecord& record) {
    std::string bytes;
    testing::AppendRecord(bytes, record);
    return bytes;
}

FlightRecord Numbered(int second) {
    return testing::MakeRecord({.h = 12, .s = second, .lat = 10.0 + second, .lon = 20});
}

// Whatever the scanner passes over, its counts account for every byte; the
// fuzz target checks that on damaged files of every shape, and that scanning
// in pieces finds what one scan finds.
TEST(RecordScannerTest, FindsRecordsAmongJunkAndDamage) {
    // Latitude, heading and IAS spell a header inside the data: 08 00 00 00 01 00 00 00.
    FlightRecord lookalike = Numbered(0);
    lookalike.Latitude = 0x0000000100000008;
    lookalike.Heading = 8;
    lookalike.IAS = 1;
    FlightRecord bad_time = Numbered(4);  // in step with its neighbours
    bad_time.Hour = 25;
    const std::string junk = "old contents\x08\x00\x00\x00\x01"s;  // ends like a cut-off header

    std::string bytes = junk + Bytes(lookalike) + Bytes(Numbered(1)) + std::string(37, '\x08');
    // An append after a crash: half a record, and the new records right after it.
    bytes += Bytes(Numbered(2)).substr(0, 50) + Bytes(Numbered(3)) + Bytes(bad_time);
    bytes += Bytes(Numbered(5)) + "trailing" + Bytes(Numbered(6)).substr(0, 50);

    Collect sink;
    const ScanCounts c = Scan(bytes, sink);
    const std::uint64_t at = junk.size();
    EXPECT_EQ(sink.seconds, (std::vector<int>{0, 1, 3, 5}));
    EXPECT_EQ(sink.offsets, (std::vector<std::uint64_t>{at, at + 80, at + 247, at + 407}));
    EXPECT_EQ(c.skipped_bytes, junk.size() + 37 + 8);
    EXPECT_EQ(c.damaged_records, 2u);
    EXPECT_EQ(c.damaged_bytes, 50u + 80u);
    EXPECT_EQ(c.truncated_bytes, 50u);
}

TEST(RecordScannerTest, TinyInputs) {
    const std::string record = Bytes(Numbered(0));
    for (const std::size_t length : {0u, 1u, 7u, 8u, 79u, 80u}) {
        SCOPED_TRACE(length);
        Collect sink;
        const ScanCounts c = Scan(record.substr(0, length), sink);
        EXPECT_EQ(sink.offsets.size(), length == 80 ? 1u : 0u);
        // Half a record is reported from its full header on; less is junk.
        EXPECT_EQ(c.truncated_bytes, length >= 8 && length < 80 ? length : 0u);
        EXPECT_EQ(c.skipped_bytes, length < 8 ? length : 0u);
    }
}

}  // namespace
}  // namespace kestrun
