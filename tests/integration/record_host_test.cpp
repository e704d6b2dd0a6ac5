// kestrun-record end to end: a real kestrun-host process, a real recorder
// process, and the file it leaves behind.

#include <gtest/gtest.h>
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cmath>
#include <ctime>
#include <fstream>
#include <thread>

#include "protocol/host_units.h"
#include "recording/flight_record.h"
#include "tests/integration/host_process.h"
#include "tests/integration/runtime_sandbox.h"

extern char** environ;

namespace kestrun {
namespace {

using namespace std::chrono_literals;

// kestrun-record as a child process whose standard output the test reads.
class Recorder {
  public:
    explicit Recorder(std::vector<std::string> args) {
        args.insert(args.begin(), KESTRUN_RECORD_PATH);
        std::vector<char*> argv;
        for (std::string& a : args) argv.push_back(a.data());
        argv.push_back(nullptr);
        int fds[2];
        if (::pipe(fds) != 0) return;
        posix_spawn_file_actions_t actions;
        posix_spawn_file_actions_init(&actions);
        posix_spawn_file_actions_adddup2(&actions, fds[1], STDOUT_FILENO);
        posix_spawn_file_actions_addclose(&actions, fds[0]);
        if (::posix_spawn(&pid_, argv[0], &actions, nullptr, argv.data(), environ) != 0) pid_ = -1;
        posix_spawn_file_actions_destroy(&actions);
        ::close(fds[1]);
        out_ = fds[0];
    }
    ~Recorder() {
        if (pid_ > 0) {
            ::kill(pid_, SIGKILL);
            Wait();
        }
    }
    void Signal(int number) { ::kill(pid_, number); }
    // Reads standard output to its end and returns the exit status.
    int Wait() {
        char buffer[1024];
        for (ssize_t n; (n = ::read(out_, buffer, sizeof buffer)) != 0;) {
            if (n > 0) output.append(buffer, static_cast<std::size_t>(n));
            if (n < 0 && errno != EINTR) break;
        }
        ::close(out_);
        int status = 0;
        ::waitpid(pid_, &status, 0);
        pid_ = -1;
        return WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
    }
    std::string output;

  private:
    pid_t pid_ = -1;
    int out_ = -1;
};

class RecordHostTest : public ::testing::Test {
  protected:
    RecordHostTest() { ::setenv("XDG_CONFIG_HOME", sandbox_.root().c_str(), 1); }

    std::vector<FlightRecord> Records() const {
        std::ifstream in(output_, std::ios::binary);
        std::vector<FlightRecord> records;
        char bytes[kFlightRecordSize];
        while (in.read(bytes, sizeof bytes)) {
            records.push_back(DecodeFlightRecord(reinterpret_cast<const std::byte*>(bytes)));
        }
        EXPECT_EQ(in.gcount(), 0) << "a torn record at the end";
        return records;
    }
    static int SecondOfDay() {
        const std::time_t now = std::time(nullptr);
        std::tm local{};
        localtime_r(&now, &local);
        return local.tm_hour * 3600 + local.tm_min * 60 + local.tm_sec;
    }

    testing::RuntimeSandbox sandbox_;
    testing::HostProcess host_;
    std::string output_ = sandbox_.root() + "/flight.dat";
};

TEST_F(RecordHostTest, RecordsTheSimulatedAircraftRollingOutOfItsHold) {
    ASSERT_TRUE(host_.Start({}));  // holds 5 s at Palo Alto runway 31, then rolls
    const int started = SecondOfDay();
    Recorder recorder({"--seconds", "8", "--output", output_});
    EXPECT_EQ(recorder.Wait(), 0) << recorder.output;
    const int ended = SecondOfDay();
    EXPECT_EQ(recorder.output,
              "Not Connected to Flight Simulator\n"
              "Connected to Flight Simulator (host ver3.280)\n"
              "Recording Data ...\n"
              "Recording stopped. File Saved.\n"
              "Not Connected to Flight Simulator\n" +
                  std::to_string(Records().size()) + " records saved to " + output_ + "\n");

    const std::vector<FlightRecord> records = Records();
    ASSERT_GE(records.size(), 6u);
    ASSERT_LE(records.size(), 8u);
    for (const FlightRecord& r : records) {
        EXPECT_EQ(std::tie(r.Header1, r.Header2, r.Header3, r.Header4),
                  std::make_tuple(8, 0, 1, 0));
        const int second = r.Hour * 3600 + r.Minute * 60 + r.Second;
        if (ended >= started) {  // not across midnight
            EXPECT_TRUE(second >= started && second <= ended) << second;
        }
        EXPECT_NEAR(LatitudeFromHost(r.Latitude), 37.4611, 0.01);
        EXPECT_NEAR(LongitudeFromHost(r.Longitude), -122.1150, 0.01);
        EXPECT_NEAR(AltitudeFromHost({r.AltitudeFraction, r.AltitudeMetres}), 2, 5);
        EXPECT_NEAR(HeadingFromHost(r.Heading), 323, 5);
    }
    EXPECT_NE(records.front().Latitude, records.back().Latitude);
    EXPECT_GT(AirspeedFromHost(records.back().IAS), AirspeedFromHost(records.front().IAS));
}

TEST_F(RecordHostTest, KeepsRecordingWhenTheHostIsKilledMidRun) {
    ASSERT_TRUE(host_.Start({}));
    Recorder recorder({"--seconds", "5", "--output", output_});
    std::this_thread::sleep_for(2500ms);
    host_.Stop(SIGKILL);
    EXPECT_EQ(recorder.Wait(), 5) << recorder.output;  // saved, some seconds unread
    EXPECT_NE(recorder.output.find("\nProcessing error: IPC sendmessage failed all retries\n"),
              std::string::npos)
        << recorder.output;
    EXPECT_NE(recorder.output.find("Recording stopped. File Saved."), std::string::npos);

    const std::vector<FlightRecord> records = Records();
    ASSERT_GE(records.size(), 3u);
    EXPECT_NE(records.front().Latitude, 0);
    EXPECT_EQ(records.back().Header1, 8);
    EXPECT_EQ(records.back().Latitude, 0);
}

TEST_F(RecordHostTest, StopsCleanlyOnSigintAndReportsAMissingHost) {
    Recorder lonely({"--output", output_});
    EXPECT_EQ(lonely.Wait(), 3);
    EXPECT_NE(lonely.output.find("Error: Cannot link to the simulator host or network client"),
              std::string::npos);

    ASSERT_TRUE(host_.Start({}));
    Recorder recorder({"--append"});  // the path saved by the first run
    std::this_thread::sleep_for(2500ms);
    recorder.Signal(SIGINT);
    EXPECT_EQ(recorder.Wait(), 0) << recorder.output;
    EXPECT_NE(recorder.output.find("Recording stopped. File Saved."), std::string::npos);
    EXPECT_GE(Records().size(), 2u);
}

}  // namespace
}  // namespace kestrun
