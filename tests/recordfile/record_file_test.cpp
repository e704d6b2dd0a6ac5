// The record reader over a file system that fails, cuts reads short and
// changes the file between reads.
#include "recordfile/record_file.h"

#include <gtest/gtest.h>
#include <sys/stat.h>

#include <filesystem>
#include <fstream>

#include "platform/posix/posix_file_system.h"
#include "tests/support/recorder_fakes.h"
#include "tests/support/test_files.h"

namespace kestrun {
namespace {

using Collect = testing::CollectRecords;

std::string Records(int first, int count) {
    std::string bytes;
    for (int s = first; s < first + count; ++s) {
        testing::AppendRecord(
            bytes,
            testing::MakeRecord({.h = 12, .m = s / 60, .s = s % 60, .lat = 10.0 + s, .lon = 20}));
    }
    return bytes;
}

class RecordFileTest : public ::testing::Test {
  protected:
    PosixFileSystem posix_;
    testing::FaultFileSystem files_{posix_};
    testing::ScratchDir dir_;
};

// However the file is cut into reads (chunks smaller than a record, than the
// scanner's lookahead, reads that stop short), the records and counts are
// those of one scan of the bytes in memory; a reader used again for a shorter
// file sees nothing of the one before in its buffer.
TEST_F(RecordFileTest, RecordsSplitAcrossChunksAndShortReads) {
    const std::string bytes = "junk" + Records(0, 30) + Records(30, 1).substr(0, 50) +
                              Records(31, 20) + "tail" + Records(51, 1).substr(0, 33);
    const std::string path = dir_.Write("split.dat", bytes);
    Collect whole;
    const ScanCounts expected =
        ScanBytes({reinterpret_cast<const std::byte*>(bytes.data()), bytes.size()}, whole);
    ASSERT_EQ(whole.seconds.size(), 50u);
    const std::string other = Records(5, 1).substr(0, 70);
    const std::string other_path = dir_.Write("other.dat", other);

    for (const std::size_t chunk : {1u, 7u, 79u, 80u, 81u, 167u, 168u, 4096u}) {
        for (const std::size_t short_reads : {0u, 13u}) {
            SCOPED_TRACE(::testing::Message() << "chunk " << chunk << ", reads " << short_reads);
            files_.max_read = short_reads;
            Collect sink;
            ScanCounts counts;
            RecordFileReader reader(files_, chunk);
            ASSERT_TRUE(reader.Scan(path, sink, counts).ok());
            EXPECT_EQ(sink.offsets, whole.offsets);
            EXPECT_EQ(counts.bytes, expected.bytes);
            EXPECT_EQ(counts.skipped_bytes, expected.skipped_bytes);
            EXPECT_EQ(counts.damaged_bytes, expected.damaged_bytes);
            EXPECT_EQ(counts.truncated_bytes, expected.truncated_bytes);
            Collect again;
            ASSERT_TRUE(reader.Scan(other_path, again, counts).ok());
            EXPECT_TRUE(again.offsets.empty());
            EXPECT_EQ(counts.truncated_bytes, 70u);
        }
    }
}

// Every record read before a failed read reaches the sink, the failure is
// returned with the file named, and the counts cover every byte read.
TEST_F(RecordFileTest, ReadFailingPartWayKeepsWhatWasRead) {
    const std::string path = dir_.Write("bad.dat", Records(0, 40));
    files_.read_fails_at = 10 * 80 + 40;
    for (const std::size_t chunk :
         {std::size_t{64}, std::size_t{1000}, RecordFileReader::kDefaultChunkSize}) {
        SCOPED_TRACE(chunk);
        Collect sink;
        ScanCounts counts;
        const Status status = RecordFileReader(files_, chunk).Scan(path, sink, counts);
        EXPECT_EQ(status.message(), "cannot read " + path + ": Input/output error");
        EXPECT_EQ(sink.seconds.size(), 10u);
        EXPECT_EQ(counts.bytes, 10u * 80 + 40);
        EXPECT_EQ(counts.truncated_bytes, 40u);
    }
}

// A recorder appends while the file is read: a scan to the end takes the new
// records, a scan of a range stops at its end. A file cut short while it is
// read ends where it now ends, its last record counted as cut off.
TEST_F(RecordFileTest, FileGrowingOrShrinkingBetweenReads) {
    const std::string path = dir_.Write("live.dat", Records(0, 20));
    bool changed = false;
    files_.before_read = [&](std::uint64_t offset) {
        if (offset == 0 || changed) return;
        changed = true;
        std::ofstream(path, std::ios::binary | std::ios::app) << Records(20, 5);
    };
    Collect to_end, range;
    ScanCounts counts;
    ASSERT_TRUE(RecordFileReader(files_, 500).Scan(path, to_end, counts).ok());
    EXPECT_EQ(to_end.seconds.size(), 25u);
    changed = false;
    ASSERT_TRUE(RecordFileReader(files_, 500).Scan(path, range, counts, 80, 20 * 80).ok());
    EXPECT_EQ(range.seconds.size(), 19u);
    EXPECT_EQ(range.offsets.front(), 80u);

    files_.before_read = [&](std::uint64_t offset) {
        if (offset > 0) std::filesystem::resize_file(path, 6 * 80 + 30);
    };
    Collect cut;
    ASSERT_TRUE(RecordFileReader(files_, 500).Scan(path, cut, counts).ok());
    EXPECT_EQ(cut.seconds.size(), 6u);
    EXPECT_EQ(counts.bytes, 6u * 80 + 30);
    EXPECT_EQ(counts.truncated_bytes, 30u);
}

TEST_F(RecordFileTest, RefusesWhatIsNotARegularFile) {
    RecordFileFacts facts;
    const std::string fifo = (dir_ / "fifo.dat").string();
    ASSERT_EQ(::mkfifo(fifo.c_str(), 0600), 0);
    EXPECT_EQ(RecordFileReader(files_).ReadFacts(fifo, facts).message(),
              fifo + " is not a regular file");
    const std::string missing = (dir_ / "none.dat").string();
    EXPECT_EQ(RecordFileReader(files_).ReadFacts(missing, facts).message(),
              "cannot open " + missing + ": No such file or directory");
}

}  // namespace
}  // namespace kestrun
