#include "recording/recording_run.h"

#include <gtest/gtest.h>

#include <fstream>

#include "platform/posix/posix_file_system.h"
#include "protocol/little_endian.h"
#include "tests/support/recorder_fakes.h"
#include "tests/support/test_files.h"

namespace kestrun {
namespace {

TEST(FlightRecordTest, EncodesEightyLittleEndianBytesAtTheirOffsets) {
    FlightRecord record = BlankFlightRecord();
    record.Second = 58;
    record.Latitude = 0x0102030405060708;
    record.AltitudeFraction = 0x80000000u;
    record.AltitudeMetres = -12;
    record.Heading = 0xFFFFFFFEu;
    record.IAS = 0x7F00;
    const FlightRecordBytes bytes = EncodeFlightRecord(record);
    EXPECT_TRUE(HasRecordHeader(bytes.data()));
    EXPECT_EQ(LoadU16(&bytes[12]), 58);
    EXPECT_EQ(bytes[14], std::byte{0x08});  // least significant byte first
    EXPECT_EQ(LoadU32(&bytes[30]), 0x80000000u);
    EXPECT_EQ(LoadI32(&bytes[34]), -12);
    EXPECT_EQ(LoadU32(&bytes[46]), 0xFFFFFFFEu);
    EXPECT_EQ(LoadI32(&bytes[54]), 0x7F00);
    for (std::size_t at : {50u, 51u, 52u, 53u, 58u, 79u}) EXPECT_EQ(bytes[at], std::byte{0}) << at;
}

class RecordingRunTest : public ::testing::Test {
  protected:
    testing::ScratchDir dir_;
    PosixFileSystem disk_;
    testing::FaultFileSystem files_{disk_};
    testing::FakeClock clock_;
    RecordingRun run_{files_, clock_};
    std::filesystem::path path_ = dir_ / "flight.dat";
};

TEST_F(RecordingRunTest, SyncsEveryTenRecordsAndAtStop) {
    ASSERT_TRUE(run_.Start(path_, true).ok());
    for (int i = 1; i <= 20; ++i) {
        ASSERT_TRUE(run_.WriteRecord(BlankFlightRecord()).ok());
        EXPECT_EQ(files_.syncs, i / 10) << i;
    }
    ASSERT_TRUE(run_.Stop().ok());
    EXPECT_EQ(files_.syncs, 3);
}

TEST_F(RecordingRunTest, AppendsPastFourGibibytesWithoutWrapping) {
    constexpr std::uint64_t kFiveGiB = 5ull << 30;
    std::ofstream{path_};
    std::filesystem::resize_file(path_, kFiveGiB);  // sparse: takes no real space
    ASSERT_TRUE(run_.Start(path_, false).ok());
    ASSERT_TRUE(run_.WriteRecord(BlankFlightRecord()).ok());
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
