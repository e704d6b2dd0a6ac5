// kestrun-record end to end: a real kestrun-host process, a real recorder
// process, and the file it leaves behind.

#include <fmt/core.h>
#include <gmock/gmock.h>
#include <gtest/gtest.h>
#include <unistd.h>
#include <signal.h>

#include <chrono>
#include <ctime>
#include <filesystem>
#include <fstream>
#include <optional>
#include <thread>

#include "protocol/host_units.h"
#include "record/flight_record.h"
#include "tests/support/host_process.h"
#include "tests/support/runtime_sandbox.h"
#include "tests/support/test_files.h"

namespace kestrun {
namespace {

using namespace std::chrono_literals;
using ::testing::HasSubstr;
using ::testing::Not;

constexpr const char* kDefaultSettings = "[OutputFile]\r\ncheckride.dat\r\n";

class RecordHostTest : public ::testing::Test {
  protected:
    // Starts kestrun-record with its standard output going to a file.
    void StartRecorder(const std::vector<std::string>& args) {
        recorder_ = testing::SpawnProgram(KESTRUN_RECORD_PATH, args, printed_, errors_);
        ASSERT_GT(recorder_, 0);
    }
    // Waits for the recorder; its exit status, and what it printed.
    std::pair<int, std::string> WaitForRecorder() {
        return {testing::ExitStatus(testing::WaitForChild(recorder_)), testing::ReadFile(printed_)};
    }
    // Waits up to five seconds for the output file to hold `count` records.
    void WaitForRecords(std::uintmax_t count) const {
        testing::Eventually(
            [&] { return testing::ReadFile(output_).size() >= count * kFlightRecordSize; });
    }
    std::vector<FlightRecord> Records() const {
        EXPECT_EQ(std::filesystem::file_size(output_) % kFlightRecordSize, 0u) << "a torn record";
        return testing::ReadFlightRecords(output_);
    }

    testing::RuntimeSandbox sandbox_;
    testing::HostProcess host_;
    std::string output_ = sandbox_.root() + "/flight.dat";
    std::string printed_ = sandbox_.root() + "/printed.txt";
    std::string errors_ = sandbox_.root() + "/errors.txt";
    std::string settings_ = sandbox_.root() + "/KestrunFlightRecorder.ini";
    pid_t recorder_ = -1;
};

int SecondOfDay() {
    const std::time_t now = std::time(nullptr);
    std::tm local{};
    localtime_r(&now, &local);
    return local.tm_hour * 3600 + local.tm_min * 60 + local.tm_sec;
}

// A recorder or host that starts takes away the blocks killed recorders
// left in the shared-memory folder; a block of a living process stays.
TEST_F(RecordHostTest, LeftoverBlocksOfGoneProcessesGoWhenARecorderOrAHostStarts) {
    // Ids past pid_max name no process.
    const auto leftover = [](int n) { return fmt::format("/dev/shm/HOSTLINK:IPC:7FFFFF{:X}:1", n); };
    const std::string living = fmt::format("/dev/shm/HOSTLINK:IPC:{:X}:1", ::getpid());
    for (const std::string& path : {leftover(0xF0), leftover(0xF1), living}) {
        std::ofstream(path) << "32 KiB once";
        std::filesystem::permissions(path, std::filesystem::perms(0600));
    }
    EXPECT_EQ(testing::RunProgram(KESTRUN_RECORD_PATH, {"--seconds", "1"}, printed_, errors_), 3);
    EXPECT_FALSE(std::filesystem::exists(leftover(0xF0)));
    std::ofstream(leftover(0xF1)) << "again";
    ASSERT_TRUE(host_.Start({}));
    EXPECT_FALSE(std::filesystem::exists(leftover(0xF1)));
    EXPECT_TRUE(std::filesystem::exists(living));
    std::filesystem::remove(living);
}

// A runtime folder someone else made first (or a link in its place) is
// explained with the way past it, not as a host that is not running.
TEST_F(RecordHostTest, ARuntimeFolderTakenByAnotherIsExplainedWithTheWayPast) {
    const std::string elsewhere = sandbox_.root() + "/elsewhere";
    std::filesystem::create_directory(elsewhere);
    std::filesystem::create_directory_symlink(elsewhere, sandbox_.runtime());
    EXPECT_EQ(testing::RunProgram(KESTRUN_RECORD_PATH, {"--seconds", "1"}, printed_, errors_), 3);
    const std::string said = testing::ReadFile(errors_);
    EXPECT_THAT(said, HasSubstr("is a symbolic link"));
    EXPECT_THAT(said, HasSubstr("set XDG_RUNTIME_DIR"));
    EXPECT_THAT(said, Not(HasSubstr("start one with kestrun-host")));
}

// What the recorder reads is checked value by value in the FlightGear
// end-to-end test; here, the run itself and a host that dies during it.
TEST_F(RecordHostTest, RecordsEverySecondAndKeepsRecordingWhenTheHostIsKilled) {
    ASSERT_TRUE(host_.Start({}));  // holds 5 s at Palo Alto runway 31
    const int started = SecondOfDay();
    StartRecorder({"--seconds", "5", "--output", output_});
    std::this_thread::sleep_for(2500ms);
    host_.Stop(SIGKILL);
    const auto [status, printed] = WaitForRecorder();
    const int ended = SecondOfDay();
    EXPECT_EQ(status, 5);  // saved, but some seconds were not read
    const std::vector<FlightRecord> records = Records();
    EXPECT_EQ(printed.substr(0, printed.find("Processing error")),
              "Not Connected to Flight Simulator\n"
              "Connected to Flight Simulator (host ver3.280)\n"
              "Recording Data ...\n");
    EXPECT_THAT(printed,
                HasSubstr("\nProcessing error: IPC sendmessage failed all retries\n"
                          "Recording stopped. File Saved.\n"
                          "Not Connected to Flight Simulator\n" +
                          std::to_string(records.size()) + " records saved to " + output_ + "\n"));

    ASSERT_GE(records.size(), 3u);  // failed exchanges take their retries
    ASSERT_LE(records.size(), 5u);
    for (const FlightRecord& r : records) {
        const int second = r.Hour * 3600 + r.Minute * 60 + r.Second;
        if (ended >= started) {  // not across midnight
            EXPECT_TRUE(second >= started && second <= ended) << second;
        }
    }
    EXPECT_NEAR(LatitudeFromHost(records.front().Latitude), 37.4611, 0.01);
    EXPECT_NEAR(LongitudeFromHost(records.front().Longitude), -122.1150, 0.01);
    EXPECT_NEAR(HeadingFromHost(records.front().Heading), 323, 5);
    EXPECT_EQ(records.back().Header1, 8);
    EXPECT_EQ(records.back().Latitude, 0);
    EXPECT_EQ(testing::ReadFile(settings_), kDefaultSettings);  // --output is for this run only
}

TEST_F(RecordHostTest, KeepsOnlyAnOpenedOutputAndLetsOneRecorderWriteAFile) {
    StartRecorder({"--output", output_, "--remember"});
    auto [status, printed] = WaitForRecorder();
    EXPECT_EQ(status, 3);
    EXPECT_THAT(printed, HasSubstr("Error: Cannot link to the simulator host or network client"));
    const std::string runtime = sandbox_.runtime();
    EXPECT_EQ(
        testing::ReadFile(errors_),
        "kestrun-record: could not connect to a simulator host\n"
        "kestrun-record: no host listens at " +
            runtime + "/HOSTMAIN or " + runtime +
            "/SIMMAIN\n"
            "kestrun-record: start one with kestrun-host (a simulated aircraft) or "
            "kestrun-host --flightgear (following FlightGear), then run kestrun-record again\n");
    EXPECT_EQ(testing::ReadFile(settings_), kDefaultSettings);  // never opened: not kept

    ASSERT_TRUE(host_.Start({}));
    StartRecorder({"--output", output_, "--remember"});
    WaitForRecords(1);
    // A second recorder, overwriting the file the first one just remembered.
    const std::string second = sandbox_.root() + "/second.txt";
    EXPECT_EQ(testing::RunProgram(KESTRUN_RECORD_PATH, {"--seconds", "1"}, second, errors_), 4);
    EXPECT_THAT(testing::ReadFile(second),
                HasSubstr("\nFile error: another recorder is writing " + output_ + "\n"));

    EXPECT_EQ(testing::ReadFile(errors_),
              "kestrun-record: could not start recording to " + output_ + "\n");
    WaitForRecords(2);
    ::kill(recorder_, SIGINT);
    std::tie(status, printed) = WaitForRecorder();
    EXPECT_EQ(status, 0);
    const std::vector<FlightRecord> records = Records();
    EXPECT_GE(records.size(), 2u);
    EXPECT_THAT(printed,
                HasSubstr("Recording stopped. File Saved.\nNot Connected to Flight Simulator\n" +
                          std::to_string(records.size()) + " records saved to " + output_));
}

// A host that stops answering makes every tick overrun its second; a stop
// request must still be taken once the exchange in progress gives up, and end
// with the whole file saved.
TEST_F(RecordHostTest, StopsOnSigtermWhileTheHostNeverAnswers) {
    ASSERT_TRUE(host_.Start({}));
    StartRecorder({"--output", output_});
    std::this_thread::sleep_for(1500ms);  // the first record is written
    ::kill(host_.pid(), SIGSTOP);
    std::this_thread::sleep_for(1500ms);  // the next exchange is waiting
    ::kill(recorder_, SIGTERM);
    // One tick, one exchange with all its retries (about 23 s), and room for a
    // loaded machine.
    std::optional<int> ended = testing::WaitForChildWithin(recorder_, 40s);
    ::kill(host_.pid(), SIGCONT);
    if (!ended) {
        ::kill(recorder_, SIGKILL);
        testing::WaitForChild(recorder_);
    }
    const std::string printed = testing::ReadFile(printed_);
    ASSERT_TRUE(ended) << "still recording 40 s after SIGTERM:\n" << printed;
    EXPECT_EQ(testing::ExitStatus(*ended), 5);
    EXPECT_THAT(printed, HasSubstr("Processing error: IPC timed out all retries\n"
                                   "Recording stopped. File Saved.\n"));
    EXPECT_GE(Records().size(), 1u);
}

}  // namespace
}  // namespace kestrun
