#include "recording/recording_run.h"

#include <gtest/gtest.h>

#include <chrono>
#include <fstream>
#include <map>

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

// The files in the scratch folder, each with its size.
std::map<std::string, std::uintmax_t> Folder(const std::filesystem::path& dir) {
    std::map<std::string, std::uintmax_t> files;
    for (const auto& entry : std::filesystem::directory_iterator(dir)) {
        files[entry.path().filename().string()] = entry.file_size();
    }
    return files;
}

// Writes `bytes` bytes to `path`, last changed at the fake clock's instant.
void Previous(const std::filesystem::path& path, std::size_t bytes, std::int64_t epoch) {
    std::ofstream(path, std::ios::binary) << std::string(bytes, 'r');
    std::filesystem::last_write_time(
        path,
        std::chrono::file_clock::from_sys(std::chrono::sys_seconds{std::chrono::seconds{epoch}}));
}

TEST_F(RecordingRunTest, StartingAfreshKeepsAWholeFlightBesideTheFileAndEmptiesTheRest) {
    const std::int64_t t = clock_.epoch_seconds;  // 2026-12-07 13:34:35 on the fake's calendar
    struct Case {
        std::size_t held;
        bool keep;
        std::string kept;
        std::map<std::string, std::uintmax_t> after;  // once the run wrote one record
    } const cases[] = {
        {79, true, "", {{"flight.dat", 80}}},
        {880, false, "", {{"flight.dat", 80}}},
        {880,
         true,
         "flight-2026-12-07T13-34-35.dat",
         {{"flight.dat", 80}, {"flight-2026-12-07T13-34-35.dat", 880}}},
        // The same second again: the next free name, nothing overwritten.
        {160,
         true,
         "flight-2026-12-07T13-34-35-1.dat",
         {{"flight.dat", 80},
          {"flight-2026-12-07T13-34-35.dat", 880},
          {"flight-2026-12-07T13-34-35-1.dat", 160}}},
    };
    for (const Case& c : cases) {
        Previous(path_, c.held, t);
        run_.SetKeepPrevious(c.keep);
        ASSERT_TRUE(run_.Start(path_, true).ok());
        EXPECT_EQ(std::filesystem::file_size(path_), 0u);
        // The lock went with the new file: a second recorder is kept out.
        RecordingRun second(disk_, clock_);
        EXPECT_EQ(second.Start(path_, true).message(),
                  "another recorder is writing " + path_.string());
        ASSERT_TRUE(run_.WriteRecord(BlankFlightRecord()).ok());
        ASSERT_TRUE(run_.Stop().ok());
        EXPECT_EQ(Folder(dir_.path()), c.after) << c.held;
        EXPECT_EQ(run_.kept_as().filename().string(), c.kept);
    }
}

// A folder that is read-only keeps the flight from getting its new name; a
// full disk keeps the new file from being made. Either way the start fails
// with the reason and the folder is as it was, the old file free again.
TEST_F(RecordingRunTest, AFailureToKeepThePreviousFlightStopsTheStartAndChangesNothing) {
    Previous(path_, 880, clock_.epoch_seconds);
    const std::map<std::string, std::uintmax_t> before = Folder(dir_.path());
    const std::string read_only = "cannot keep flight.dat: Read-only file system";
    const std::string full = "cannot create a new file beside flight.dat: No space left on device";
    files_.fail_keep = read_only;
    EXPECT_EQ(run_.Start(path_, true).message(), read_only);
    files_.fail_keep.reset();
    files_.fail_replace = full;
    EXPECT_EQ(run_.Start(path_, true).message(), full);
    EXPECT_FALSE(run_.is_open());
    EXPECT_EQ(Folder(dir_.path()), before);
    EXPECT_EQ(testing::ReadFile(path_), std::string(880, 'r'));
    ASSERT_TRUE(run_.Start(path_, false).ok());
}

}  // namespace
}  // namespace kestrun
