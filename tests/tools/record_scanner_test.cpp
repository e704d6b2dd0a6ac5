#include "tools/record_scanner.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>

#include "tests/tools/export_test_support.h"

namespace kestrun {
namespace {

using testing::AppendRecord;
using testing::Flown;
using testing::MakeRecord;

struct Found {
    std::uint64_t offset;
    std::int16_t second;
    std::int64_t latitude;
};

class Collect final : public RecordSink {
  public:
    void OnRecord(const FlightRecord& record, std::uint64_t offset) override {
        found.push_back({offset, record.Second, record.Latitude});
    }
    std::vector<Found> found;
};

std::span<const std::byte> AsBytes(const std::string& s) {
    return {reinterpret_cast<const std::byte*>(s.data()), s.size()};
}

FlightRecord Numbered(int i) {
    return MakeRecord(Flown{.h = 12, .m = i / 60 % 60, .s = i % 60, .lat = 10.0 + i, .lon = 20});
}

void ExpectBalanced(const ScanCounts& c) {
    EXPECT_EQ(c.records * 80 + c.skipped_bytes + c.damaged_bytes + c.truncated_bytes, c.bytes);
}

// Feeds `bytes` in pieces the way a file reader does: unconsumed bytes are
// presented again in front of the next piece.
ScanCounts ScanInPieces(const std::string& bytes, std::size_t piece, Collect& sink) {
    RecordScanner scanner;
    std::string held;
    for (std::size_t at = 0; at < bytes.size(); at += piece) {
        held += bytes.substr(at, piece);
        held.erase(0, scanner.Scan(AsBytes(held), false, sink));
    }
    EXPECT_EQ(scanner.Scan(AsBytes(held), true, sink), held.size());
    return scanner.counts();
}

TEST(RecordScannerTest, SoundFileIsReadRecordByRecordEvenWithHeaderBytesInsideData) {
    std::string bytes;
    for (int i = 0; i < 5; ++i) {
        FlightRecord r = Numbered(i);
        // Latitude and IAS bytes spell a plausible header: 08 00 00 00 01 00 00 00.
        r.Latitude = 0x0000000100000008;
        r.Heading = 8;
        r.IAS = 1;
        AppendRecord(bytes, r);
    }
    Collect sink;
    const ScanCounts c = ScanBytes(AsBytes(bytes), sink);
    ASSERT_EQ(sink.found.size(), 5u);
    for (std::size_t i = 0; i < 5; ++i) EXPECT_EQ(sink.found[i].offset, i * 80);
    EXPECT_EQ(c.skipped_bytes + c.damaged_bytes + c.truncated_bytes, 0u);
}

TEST(RecordScannerTest, JunkBeforeBetweenAndAfterRecordsAndATruncatedLastRecord) {
    using namespace std::string_literals;
    const std::string junk1 = "old contents\x08\x00\x00\x00\x01"s;  // cut-off header look-alike
    const std::string junk2(37, '\x08');
    std::string bytes = junk1;
    AppendRecord(bytes, Numbered(0));
    AppendRecord(bytes, Numbered(1));
    bytes += junk2;
    AppendRecord(bytes, Numbered(2));
    bytes += "trailing";
    std::string last;
    AppendRecord(last, Numbered(3));
    bytes += last.substr(0, 50);

    Collect sink;
    const ScanCounts c = ScanBytes(AsBytes(bytes), sink);
    ASSERT_EQ(sink.found.size(), 3u);
    EXPECT_EQ(sink.found[0].offset, junk1.size());
    EXPECT_EQ(sink.found[2].offset, junk1.size() + 160 + junk2.size());
    EXPECT_EQ(sink.found[2].latitude, Numbered(2).Latitude);
    EXPECT_EQ(c.skipped_bytes, junk1.size() + junk2.size() + 8);
    EXPECT_EQ(c.truncated_bytes, 50u);
    EXPECT_EQ(c.damaged_records, 0u);
    ExpectBalanced(c);
}

TEST(RecordScannerTest, DamagedRecordsAreSkippedWithoutLosingTheirNeighbours) {
    // An append after a crash: the old file ends in half a record, and the
    // new records start right after it.
    std::string cut;
    AppendRecord(cut, Numbered(0));
    std::string bytes = cut.substr(0, 50);
    AppendRecord(bytes, Numbered(1));
    AppendRecord(bytes, Numbered(2));
    // A record with an impossible time, in step with its neighbours.
    FlightRecord bad = Numbered(3);
    bad.Hour = 25;
    AppendRecord(bytes, bad);
    AppendRecord(bytes, Numbered(4));

    Collect sink;
    const ScanCounts c = ScanBytes(AsBytes(bytes), sink);
    ASSERT_EQ(sink.found.size(), 3u);
    EXPECT_EQ(sink.found[0].offset, 50u);
    EXPECT_EQ(sink.found[0].second, 1);
    EXPECT_EQ(sink.found[2].second, 4);
    EXPECT_EQ(c.damaged_records, 2u);
    EXPECT_EQ(c.damaged_bytes, 50u + 80u);
    EXPECT_EQ(c.skipped_bytes, 0u);
    ExpectBalanced(c);
}

TEST(RecordScannerTest, ScanningInPiecesFindsWhatOneScanFinds) {
    std::string bytes = "junk";
    for (int i = 0; i < 40; ++i) {
        AppendRecord(bytes, Numbered(i));
        if (i % 7 == 3) bytes += std::string(static_cast<std::size_t>(i), '\x08');
        if (i % 11 == 5) bytes.resize(bytes.size() - 30);  // cut the record short
    }
    bytes.resize(bytes.size() - 3);

    Collect whole;
    const ScanCounts expected = ScanBytes(AsBytes(bytes), whole);
    ExpectBalanced(expected);
    for (const std::size_t piece : {1u, 7u, 79u, 80u, 81u, 168u, 169u, 4096u}) {
        SCOPED_TRACE(piece);
        Collect pieces;
        const ScanCounts c = ScanInPieces(bytes, piece, pieces);
        ASSERT_EQ(pieces.found.size(), whole.found.size());
        for (std::size_t i = 0; i < whole.found.size(); ++i) {
            EXPECT_EQ(pieces.found[i].offset, whole.found[i].offset);
        }
        EXPECT_EQ(c.skipped_bytes, expected.skipped_bytes);
        EXPECT_EQ(c.damaged_bytes, expected.damaged_bytes);
        EXPECT_EQ(c.truncated_bytes, expected.truncated_bytes);
    }
}

TEST(RecordScannerTest, TinyInputs) {
    std::string header;
    AppendRecord(header, Numbered(0));
    for (const std::size_t length : {0u, 1u, 7u, 8u, 79u, 80u}) {
        SCOPED_TRACE(length);
        Collect sink;
        const ScanCounts c = ScanBytes(AsBytes(header.substr(0, length)), sink);
        EXPECT_EQ(sink.found.size(), length == 80 ? 1u : 0u);
        // Half a record is reported from its full header on; less is junk.
        EXPECT_EQ(c.truncated_bytes, length >= 8 && length < 80 ? length : 0u);
        ExpectBalanced(c);
    }
}

}  // namespace
}  // namespace kestrun
