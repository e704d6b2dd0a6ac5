#include "recording/recording_run.h"

#include <gtest/gtest.h>

#include <fstream>
#include <iterator>
#include <vector>

#include "platform/posix/posix_file_system.h"
#include "protocol/little_endian.h"
#include "tests/support/fake_clock.h"
#include "tests/support/fault_file_system.h"
#include "tests/support/scratch_dir.h"

namespace kestrun {
namespace {

std::vector<std::byte> ReadAll(const std::filesystem::path& path) {
    std::ifstream in(path, std::ios::binary);
    std::vector<char> chars((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    std::vector<std::byte> bytes(chars.size());
    for (std::size_t i = 0; i < chars.size(); ++i) bytes[i] = static_cast<std::byte>(chars[i]);
    return bytes;
}

void WriteBytes(const std::filesystem::path& path, std::size_t count, char fill) {
    std::ofstream(path, std::ios::binary) << std::string(count, fill);
}

TEST(FlightRecordTest, EncodesEightyLittleEndianBytesAtTheirOffsets) {
    FlightRecord record = BlankFlightRecord();
    record.Hour = 23;
    record.Minute = 59;
    record.Second = 58;
    record.Latitude = 0x0102030405060708;
    record.Longitude = -2;
    record.AltitudeFraction = 0x80000000u;
    record.AltitudeMetres = -12;
    record.Pitch = 0x11223344;
    record.Bank = -1;
    record.Heading = 0xFFFFFFFEu;
    record.IAS = 0x7F00;

    const FlightRecordBytes bytes = EncodeFlightRecord(record);
    static_assert(sizeof(bytes) == 80);
    EXPECT_TRUE(HasRecordHeader(bytes.data()));
    EXPECT_EQ(LoadU16(bytes.data() + 0), 8);
    EXPECT_EQ(LoadU16(bytes.data() + 4), 1);
    EXPECT_EQ(LoadU16(bytes.data() + 8), 23);
    EXPECT_EQ(LoadU16(bytes.data() + 12), 58);
    EXPECT_EQ(bytes[14], std::byte{0x08});  // latitude, least significant byte first
    EXPECT_EQ(LoadI64(bytes.data() + 22), -2);
    EXPECT_EQ(LoadU32(bytes.data() + 30), 0x80000000u);
    EXPECT_EQ(LoadI32(bytes.data() + 34), -12);
    EXPECT_EQ(LoadU32(bytes.data() + 38), 0x11223344u);
    EXPECT_EQ(LoadU32(bytes.data() + 46), 0xFFFFFFFEu);
    EXPECT_EQ(LoadI32(bytes.data() + 54), 0x7F00);
    for (std::size_t at = 50; at < 54; ++at) EXPECT_EQ(bytes[at], std::byte{0}) << at;
    for (std::size_t at = 58; at < 80; ++at) EXPECT_EQ(bytes[at], std::byte{0}) << at;

    const FlightRecord back = DecodeFlightRecord(bytes.data());
    EXPECT_EQ(back.Latitude, record.Latitude);
    EXPECT_EQ(back.Heading, record.Heading);
    EXPECT_EQ(back.IAS, record.IAS);
}

class RecordingRunTest : public ::testing::Test {
  protected:
    testing::ScratchDir dir_;
    PosixFileSystem disk_;
    testing::FaultFileSystem files_{disk_};
    testing::FakeClock clock_;
    RecordingRun run_{files_, clock_};
    std::filesystem::path path_ = dir_ / "flight.dat";

    void WriteRecords(int n) {
        for (int i = 0; i < n; ++i) ASSERT_TRUE(run_.WriteRecord(BlankFlightRecord()).ok());
    }
};

TEST_F(RecordingRunTest, OverwriteStartsEmptyAndEachRecordReachesTheFileAtOnce) {
    WriteBytes(path_, 1000, 'x');
    ASSERT_TRUE(run_.Start(path_, /*overwrite=*/true).ok());
    EXPECT_EQ(run_.next_offset(), 0u);
    for (int n = 1; n <= 3; ++n) {
        WriteRecords(1);
        // Visible to another reader before Stop: nothing waits in a buffer.
        EXPECT_EQ(std::filesystem::file_size(path_), 80u * static_cast<unsigned>(n));
    }
    ASSERT_TRUE(run_.Stop().ok());
    const std::vector<std::byte> bytes = ReadAll(path_);
    ASSERT_EQ(bytes.size(), 240u);
    for (std::size_t at = 0; at < bytes.size(); at += 80) EXPECT_TRUE(HasRecordHeader(&bytes[at]));
}

TEST_F(RecordingRunTest, AppendFollowsExistingContentsAndAStoppedRunCanResume) {
    WriteBytes(path_, 100, 'x');
    ASSERT_TRUE(run_.Start(path_, /*overwrite=*/false).ok());
    EXPECT_EQ(run_.next_offset(), 100u);
    WriteRecords(2);
    ASSERT_TRUE(run_.Stop().ok());
    ASSERT_TRUE(run_.Start(path_, false).ok());
    WriteRecords(1);
    ASSERT_TRUE(run_.Stop().ok());

    const std::vector<std::byte> bytes = ReadAll(path_);
    ASSERT_EQ(bytes.size(), 340u);
    EXPECT_EQ(bytes[99], std::byte{'x'});
    EXPECT_TRUE(HasRecordHeader(&bytes[100]));
    EXPECT_TRUE(HasRecordHeader(&bytes[180]));
    EXPECT_TRUE(HasRecordHeader(&bytes[260]));
}

TEST_F(RecordingRunTest, TakesHourMinuteAndSecondFromOneClockReading) {
    clock_.now = {12, 59, 59};
    clock_.seconds_per_reading = 1;  // the hour changes right after the first reading
    ASSERT_TRUE(run_.Start(path_, true).ok());
    WriteRecords(1);
    ASSERT_TRUE(run_.Stop().ok());
    EXPECT_EQ(clock_.readings, 1);
    const FlightRecord record = DecodeFlightRecord(ReadAll(path_).data());
    EXPECT_EQ(record.Hour, 12);
    EXPECT_EQ(record.Minute, 59);
    EXPECT_EQ(record.Second, 59);
}

TEST_F(RecordingRunTest, SyncsEveryTenRecordsAndAtStop) {
    ASSERT_TRUE(run_.Start(path_, true).ok());
    WriteRecords(9);
    EXPECT_EQ(files_.syncs, 0);
    WriteRecords(1);
    EXPECT_EQ(files_.syncs, 1);
    WriteRecords(10);
    EXPECT_EQ(files_.syncs, 2);
    ASSERT_TRUE(run_.Stop().ok());
    EXPECT_EQ(files_.syncs, 3);
}

TEST_F(RecordingRunTest, AFailedWriteLeavesOnlyWholeRecordsAndEndsTheRun) {
    WriteBytes(path_, 100, 'x');
    files_.writes_before_failure = 3;
    files_.bytes_written_on_failure = 30;  // a torn record reaches the disk
    ASSERT_TRUE(run_.Start(path_, false).ok());
    WriteRecords(3);
    const Status failed = run_.WriteRecord(BlankFlightRecord());
    EXPECT_FALSE(failed.ok());
    EXPECT_NE(failed.message().find("No space left on device"), std::string::npos);
    EXPECT_FALSE(run_.is_open());
    EXPECT_EQ(files_.closes, 1);
    EXPECT_EQ(run_.next_offset(), 340u);
    EXPECT_EQ(std::filesystem::file_size(path_), 340u);
}

TEST_F(RecordingRunTest, FailsToStartWithNothingOpenForBadPaths) {
    for (const std::filesystem::path& bad :
         {std::filesystem::path(), dir_ / "missing" / "x.dat", dir_.path(),
          std::filesystem::path(std::string("a\0b", 3))}) {
        const Status started = run_.Start(bad, true);
        EXPECT_FALSE(started.ok()) << bad;
        EXPECT_FALSE(started.message().empty());
        EXPECT_FALSE(run_.is_open());
    }
    const Status missing = run_.Start(dir_ / "missing" / "x.dat", false);
    EXPECT_NE(missing.message().find((dir_ / "missing" / "x.dat").string()), std::string::npos);
}

TEST_F(RecordingRunTest, StopReportsAFailedClose) {
    files_.fail_close = "cannot close: Input/output error";
    ASSERT_TRUE(run_.Start(path_, true).ok());
    WriteRecords(1);
    EXPECT_FALSE(run_.Stop().ok());
    EXPECT_FALSE(run_.is_open());
}

TEST_F(RecordingRunTest, WritesPastFourGibibytesWithoutWrapping) {
    constexpr std::uint64_t kFiveGiB = 5ull << 30;
    WriteBytes(path_, 0, 'x');
    std::filesystem::resize_file(path_, kFiveGiB);  // sparse: no real disk space
    ASSERT_TRUE(run_.Start(path_, false).ok());
    EXPECT_EQ(run_.next_offset(), kFiveGiB);
    WriteRecords(1);
    ASSERT_TRUE(run_.Stop().ok());
    EXPECT_EQ(std::filesystem::file_size(path_), kFiveGiB + 80);
    std::ifstream in(path_, std::ios::binary);
    in.seekg(static_cast<std::streamoff>(kFiveGiB));
    char header[8] = {};
    in.read(header, 8);
    EXPECT_TRUE(HasRecordHeader(reinterpret_cast<const std::byte*>(header)));
}

}  // namespace
}  // namespace kestrun
