// SIGKILLs kestrun-record at random moments, recording fresh and appended
// files from a real kestrun-host, and checks after every kill that the file
// holds only whole records past its appended start, that nothing before that
// start changed, and that the settings file is whole.
//
// KESTRUN_CRASH_KILLS sets the number of kills (default 8, a few seconds);
// KESTRUN_CRASH_SEED repeats a run. bench/crash_consistency.sh runs the long
// version.

#include <fmt/format.h>
#include <gtest/gtest.h>
#include <signal.h>
#include <sys/mman.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <random>
#include <string>
#include <thread>

#include "record/flight_record.h"
#include "settings/settings_file.h"
#include "tests/support/host_process.h"
#include "tests/support/runtime_sandbox.h"
#include "tests/support/test_files.h"

namespace kestrun {
namespace {

long EnvNumber(const char* name, long fallback) {
    const char* text = std::getenv(name);
    return text != nullptr && *text != '\0' ? std::strtol(text, nullptr, 10) : fallback;
}

// Headers, a time of day, and zeros in both reserved fields: re-encoding the
// decoded record gives back the same bytes only when those were zero.
bool IsWholeRecord(const char* bytes) {
    const auto* raw = reinterpret_cast<const std::byte*>(bytes);
    const FlightRecord r = DecodeFlightRecord(raw);
    const FlightRecordBytes again = EncodeFlightRecord(r);
    return std::equal(again.begin(), again.end(), raw) && r.Header1 == kHeader1 &&
           r.Header2 == kHeader2 && r.Header3 == kHeader3 && r.Header4 == kHeader4 && r.Hour >= 0 &&
           r.Hour < 24 && r.Minute >= 0 && r.Minute < 60 && r.Second >= 0 && r.Second < 60;
}

TEST(CrashConsistencyTest, KilledRecordersLeaveOnlyWholeRecords) {
    const long kills = EnvNumber("KESTRUN_CRASH_KILLS", 8);
    const auto seed =
        static_cast<unsigned>(EnvNumber("KESTRUN_CRASH_SEED", std::random_device{}()));
    std::mt19937 random(seed);
    testing::RuntimeSandbox sandbox;
    testing::HostProcess host;
    ASSERT_TRUE(host.Start({}));
    const std::string output = sandbox.root() + "/flight.dat";
    const std::filesystem::path settings = sandbox.path() / kSettingsFileName;

    long appended = 0, records = 0, kills_after_a_record = 0;
    for (long kill = 0; kill < kills; ++kill) {
        SCOPED_TRACE("seed " + std::to_string(seed) + ", kill " + std::to_string(kill));
        const bool append = random() % 2 == 0;
        std::string before = testing::ReadFile(output);
        // A start that is not a multiple of 80, so that appended records
        // cannot line up with old ones by chance.
        if (append && before.empty()) before = testing::ReadFile(sandbox.Write("flight.dat", "K"));
        std::vector<std::string> args{"--output", output, "--remember"};
        if (append) args.push_back("--append");
        const pid_t recorder = testing::SpawnProgram(KESTRUN_RECORD_PATH, args, "/dev/null");
        ASSERT_GT(recorder, 0);
        // Up to a little past the second record: kills land in the connect,
        // the waits and the writes alike.
        std::this_thread::sleep_for(std::chrono::milliseconds(random() % 2300));
        ::kill(recorder, SIGKILL);
        testing::WaitForChild(recorder);
        // A killed recorder cannot remove its shared block; this test can.
        ::shm_unlink(fmt::format("/HOSTLINK:IPC:{:X}:1", recorder).c_str());

        appended += append ? 1 : 0;
        const std::string after = testing::ReadFile(output);
        if (after == before) continue;  // killed before the file was opened
        const std::size_t start = append ? before.size() : 0;
        ASSERT_GE(after.size(), start);
        ASSERT_EQ(after.compare(0, start, before, 0, start), 0) << "the appended start changed";
        ASSERT_EQ((after.size() - start) % kFlightRecordSize, 0u) << "a torn record";
        for (std::size_t at = start; at < after.size(); at += kFlightRecordSize) {
            ASSERT_TRUE(IsWholeRecord(after.data() + at)) << "record at byte " << at;
            ++records;
        }
        kills_after_a_record += after.size() > start ? 1 : 0;
        // The settings are replaced whole or not at all.
        if (std::filesystem::exists(settings)) {
            const std::string kept = testing::ReadFile(settings);
            ASSERT_TRUE(kept == FormatSettings(output) ||
                        kept == FormatSettings(kDefaultOutputFile))
                << kept;
        }
    }
    std::printf(
        "%ld kills (%ld appended), %ld after a record was written: %ld records checked, "
        "all whole; seed %u\n",
        kills, appended, kills_after_a_record, records, seed);
}

}  // namespace
}  // namespace kestrun
