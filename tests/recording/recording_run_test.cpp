#include "recording/recording_run.h"

#include <gtest/gtest.h>

#include <fstream>

#include "platform/posix/posix_file_system.h"
#include "tests/support/recorder_fakes.h"
#include "tests/support/test_files.h"

namespace kestrun {
namespace {

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
