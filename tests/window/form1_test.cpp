#include "window/form1.h"

#include <gtest/gtest.h>

#include <cerrno>
#include <fstream>

#include "host/aircraft_state.h"
#include "platform/posix/posix_file_system.h"
#include "protocol/host_units.h"
#include "tests/support/fake_link_platform.h"
#include "tests/support/recorder_fakes.h"
#include "tests/support/test_files.h"
#include "window/headless_window.h"
#include "window/status_texts.h"

namespace kestrun {
namespace {

// Enabled: Connect, Start, Stop, Set Output File with the check box.
using Buttons = std::array<bool, 4>;
constexpr Buttons kNotConnected{true, false, false, true};
constexpr Buttons kConnectedIdle{false, true, false, true};
constexpr Buttons kRecording{false, false, true, false};

class Form1Test : public ::testing::Test {
  protected:
    void SetUp() override {
        form_.Form_Load();
        form_.FileName = output_.string();
    }
    Buttons Shown() const {
        EXPECT_TRUE(window_.IsEnabled(Control::kDisconnect));
        EXPECT_EQ(window_.IsEnabled(Control::kSetPath), window_.IsEnabled(Control::kOverwrite));
        EXPECT_EQ(window_.timer_enabled(), window_.IsEnabled(Control::kStop));
        return {window_.IsEnabled(Control::kConnect), window_.IsEnabled(Control::kRecord),
                window_.IsEnabled(Control::kStop), window_.IsEnabled(Control::kSetPath)};
    }
    void Ticks(int n) {
        for (int i = 0; i < n; ++i) form_.RecTimer_Timer();
    }
    std::vector<FlightRecord> Records(std::size_t skip = 0) const {
        return testing::ReadFlightRecords(output_, skip);
    }
    std::uintmax_t Size() const { return std::filesystem::file_size(output_); }
    const std::string& Status() const { return window_.status_text(); }

    testing::ScratchDir dir_;
    HeadlessWindow window_;
    FakeLinkPlatform link_;
    PosixFileSystem disk_;
    testing::FaultFileSystem files_{disk_};
    testing::FakeClock clock_;
    std::filesystem::path output_ = dir_ / "flight.dat";
    Form1 form_{window_, link_, files_, clock_, dir_ / "config" / "KestrunFlightRecorder.ini"};
};

TEST_F(Form1Test, ButtonsAndStatusFollowConnectRecordStopDisconnectAndClose) {
    EXPECT_EQ(Shown(), kNotConnected);
    link_.SetWindow("HOSTMAIN", false);  // a failed connect changes no button
    form_.Connect_Click();
    EXPECT_EQ(Status(), "Error: Cannot link to the simulator host or network client");
    EXPECT_EQ(Shown(), kNotConnected);
    form_.Disconnect_Click();
    EXPECT_EQ(Status(), "Not Connected to Flight Simulator");
    link_.SetWindow("HOSTMAIN", true);
    form_.Connect_Click();
    EXPECT_EQ(Status(), "Connected to Flight Simulator (host ver3.280)");
    EXPECT_EQ(Shown(), kConnectedIdle);

    form_.cmdRecord_Click();
    EXPECT_EQ(Status(), "Recording Data ...");
    EXPECT_EQ(Shown(), kRecording);
    EXPECT_EQ(window_.timer_interval(), 1000);
    Ticks(2);
    form_.cmdStop_Click();
    EXPECT_EQ(Status(), "Recording stopped. File Saved.");
    EXPECT_EQ(Shown(), kConnectedIdle);
    EXPECT_EQ(window_.timer_interval(), 0);
    EXPECT_EQ(Size(), 160u);  // overwrite is ticked at start

    form_.cmdRecord_Click();
    Ticks(1);
    form_.Disconnect_Click();  // stops the run first
    EXPECT_FALSE(form_.Recording || form_.Active);
    EXPECT_EQ(Status(), "Not Connected to Flight Simulator");
    EXPECT_EQ(Shown(), kNotConnected);
    EXPECT_EQ(Size(), 80u);
    EXPECT_TRUE(link_.AllReleased());

    form_.Connect_Click();
    form_.cmdRecord_Click();
    Ticks(3);
    form_.Form_Unload();  // closing the window while recording
    EXPECT_EQ(Shown(), kNotConnected);
    EXPECT_EQ(Size(), 240u);
    EXPECT_TRUE(link_.AllReleased());
    EXPECT_EQ(window_.repaint_count(), 3);  // once at each start
}

TEST_F(Form1Test, TicksAppendTheHostsValuesStampedFromOneClockReading) {
    WriteAircraftState({-33.9461, 151.1772, 1234.5, 2.5, -3.25, 271.5, 120.25, 0}, link_.image());
    clock_.now = {12, 59, 58};
    clock_.seconds_per_reading = 1;  // any second reading would show the next second
    std::ofstream(output_, std::ios::binary) << std::string(100, 'x');
    window_.SetOverwriteValue(0);

    // What kestrun-record --until-landed watches: each record as written.
    std::vector<FlightRecordBytes> handed_over;
    form_.SetRecordListener(
        [&](const FlightRecord& record) { handed_over.push_back(EncodeFlightRecord(record)); });
    form_.cmdRecord_Click();  // not connected: a record of header and time only
    EXPECT_EQ(form_.Position, 101);
    EXPECT_EQ(Size(), 100u);  // the first record comes a second after the start
    Ticks(1);
    form_.cmdStop_Click();
    EXPECT_EQ(link_.sends(), 0);
    form_.Connect_Click();
    form_.cmdRecord_Click();
    EXPECT_EQ(form_.Position, 181);
    Ticks(2);
    form_.cmdStop_Click();

    const std::vector<FlightRecord> records = Records(100);
    ASSERT_EQ(records.size(), 3u);
    EXPECT_EQ(clock_.readings, 3);
    EXPECT_EQ(EncodeFlightRecord(records[0]),
              EncodeFlightRecord(testing::MakeRecord({.h = 12, .m = 59, .s = 58})));
    EXPECT_EQ(EncodeFlightRecord(records[1]),
              EncodeFlightRecord(testing::MakeRecord(
                  {12, 59, 59, -33.9461, 151.1772, 1234.5, 2.5, -3.25, 271.5, 120.25})));
    EXPECT_EQ(std::tie(records[2].Hour, records[2].Minute, records[2].Second),
              std::make_tuple(13, 0, 0));
    ASSERT_EQ(handed_over.size(), 3u);
    for (std::size_t i = 0; i < 3; ++i) EXPECT_EQ(handed_over[i], EncodeFlightRecord(records[i]));
}

TEST_F(Form1Test, SamplingFailuresShowOnTheStatusLineWhileRecordsKeepComing) {
    link_.image().SetU64(kOffsetLatitude, 42);
    form_.Connect_Click();
    form_.cmdRecord_Click();
    Ticks(1);
    EXPECT_EQ(Status(), "Recording Data ...");  // success shows nothing
    link_.default_reply = HostReply::TimeOut();
    Ticks(1);
    EXPECT_EQ(Status(), "Processing error: IPC timed out all retries");
    link_.HostGoesAway();
    Ticks(2);
    EXPECT_EQ(Status(), "Processing error: IPC sendmessage failed all retries");
    EXPECT_EQ(window_.repaint_count(), 1 + 3);
    form_.cmdStop_Click();
    // Saved, yet three seconds hold zeros: kestrun-record's status 5.
    EXPECT_TRUE(form_.file_saved());
    EXPECT_EQ(form_.lost_seconds(), 3);

    const std::vector<FlightRecord> records = Records();
    ASSERT_EQ(records.size(), 4u);
    EXPECT_EQ(records[0].Latitude, 42);
    EXPECT_EQ(records[3].Header1, 8);
    EXPECT_EQ(records[3].Latitude, 0);
}

TEST_F(Form1Test, AFailedQueueReadLeavesNothingQueuedForALaterExchange) {
    form_.Connect_Click();
    HostLink& link = form_.link();
    // Fill the block so that only the first two reads of a sample fit.
    LinkResult result = kResultOkay;
    int fits = 0;
    while (link.QueueRead(kOffsetBank, 4, nullptr, result)) ++fits;
    link.DiscardQueue();
    for (int i = 0; i < fits - 2; ++i) ASSERT_TRUE(link.QueueRead(kOffsetBank, 4, nullptr, result));

    form_.cmdRecord_Click();
    Ticks(1);
    EXPECT_EQ(Status(),
              "Read error: Read or Write request cannot be added, memory for Process is full");
    EXPECT_FALSE(link.ProcessQueue(result));
    EXPECT_EQ(result, kResultNothingQueued);
    EXPECT_EQ(Size(), 80u);
}

TEST_F(Form1Test, FileFailuresEndOrRefuseTheRunWithoutClaimingItSaved) {
    form_.Connect_Click();
    form_.FileName = (dir_ / "no such folder" / "x.dat").string();
    form_.cmdRecord_Click();
    EXPECT_EQ(Shown(), kConnectedIdle);
    EXPECT_EQ(Status(),
              "File error: cannot open " + form_.FileName + ": No such file or directory");
    form_.FileName.clear();
    form_.cmdRecord_Click();
    EXPECT_EQ(Status(), "File error: no output file is set");

    form_.FileName = output_.string();
    files_.writes_before_failure = 2;
    files_.bytes_written_on_failure = 50;
    form_.cmdRecord_Click();
    Ticks(3);
    EXPECT_FALSE(form_.Recording);
    EXPECT_EQ(Shown(), kConnectedIdle);
    EXPECT_EQ(Status(), "File error: cannot write: No space left on device");
    EXPECT_EQ(Size(), 160u);  // the torn third record was cut off
    EXPECT_FALSE(form_.file_saved());

    files_.writes_before_failure.reset();
    files_.fail_close = "cannot close: Input/output error";
    form_.cmdRecord_Click();
    form_.cmdStop_Click();
    EXPECT_EQ(Status(), "File error: cannot close: Input/output error");
    EXPECT_FALSE(form_.file_saved());
}

// Without open-file-description locks (some network and FUSE file systems)
// the run goes on unguarded and says so in the status line's tooltip; a lock
// held elsewhere still keeps a second recorder out, and any other lock
// failure still stops the start.
TEST_F(Form1Test, AFileSystemWithoutLocksRecordsAndNotesThatASecondRecorderGoesUnseen) {
    const std::string saved(kRecordingStoppedText);
    const std::tuple<PosixFileSystem::LockCall, std::string, bool> cases[] = {
        {testing::FailingLock<ENOLCK>, saved, true},
        {testing::FailingLock<EINVAL>, saved, true},
        {testing::FailingLock<ENOTSUP>, saved, true},
        {testing::FailingLock<EAGAIN>,
         "File error: another recorder is writing " + output_.string(), false},
        {testing::FailingLock<EIO>,
         "File error: cannot lock " + output_.string() + ": Input/output error", false},
        {PosixFileSystem::LockOpenFile, saved, false},
    };
    for (const auto& [lock, status, unguarded] : cases) {
        PosixFileSystem disk(lock);
        testing::FaultFileSystem files(disk);
        Form1 form(window_, link_, files, clock_, dir_ / "KestrunFlightRecorder.ini");
        form.FileName = output_.string();
        form.SetKeepPrevious(false);
        form.cmdRecord_Click();
        form.RecTimer_Timer();
        EXPECT_EQ(
            window_.status_note().find(UnlockedFileNote(output_.string())) != std::string::npos,
            unguarded)
            << status;
        form.cmdStop_Click();
        EXPECT_EQ(Status(), status);
        EXPECT_EQ(Size(), 80u) << status;  // a refused start empties nothing
    }
}

// The tooltips say what the status line has no room for: its whole text,
// the output file from the root, the run so far, where the previous flight
// went, and where a connect looked for a host and how to start one.
TEST_F(Form1Test, TooltipsSayWhereTheWindowRecordsAndWhatItFound) {
    const std::string where = std::filesystem::current_path() / "checkride.dat";
    form_.FileName = "checkride.dat";
    form_.cmdSetPath_Click();  // cancelled: the name stays
    EXPECT_EQ(window_.output_file_tip(), "Records go to " + where);
    link_.SetWindow("HOSTMAIN", false);
    form_.Connect_Click();
    EXPECT_EQ(
        window_.status_note(),
        "Error: Cannot link to the simulator host or network client\n"
        "Output file: " +
            where +
            "\n"
            "No host listens at /run/kestrun/HOSTMAIN or /run/kestrun/SIMMAIN. Start one with "
            "kestrun-host (a simulated aircraft) or kestrun-host --flightgear (following "
            "FlightGear), then connect again.");

    form_.FileName = output_.string();
    std::ofstream(output_, std::ios::binary) << std::string(880, 'r');
    form_.cmdRecord_Click();
    Ticks(61);
    const std::string kept = form_.kept_as().string();
    EXPECT_EQ(kept.substr(0, kept.size() - 23), (dir_ / "flight-").string());
    EXPECT_EQ(window_.status_note(), "Recording Data ...\nOutput file: " + output_.string() +
                                         "\nRecorded 0:01:01, 61 records"
                                         "\nThe file's previous flight is kept as " +
                                         kept);
    EXPECT_EQ(testing::ReadFile(kept), std::string(880, 'r'));
}

TEST_F(Form1Test, SetOutputFileSavesTheDialogsAnswerOnlyWhenNotRecording) {
    window_.QueueDialogAnswer((dir_ / "b.dat").string());
    form_.cmdSetPath_Click();
    ASSERT_EQ(window_.dialogs_shown().size(), 1u);
    EXPECT_EQ(window_.dialogs_shown()[0].file_name, output_.string());
    EXPECT_EQ(window_.dialogs_shown()[0].filter, "*.DAT");
    form_.FileName.clear();
    form_.Form_Load();  // loads what was saved
    EXPECT_EQ(form_.FileName, (dir_ / "b.dat").string());
    form_.cmdRecord_Click();
    form_.cmdSetPath_Click();
    EXPECT_EQ(window_.dialogs_shown().size(), 1u);
}

TEST_F(Form1Test, ASettingsFileThatCannotBeReadLeavesTheDefaultAndSaysSo) {
    files_.fail_read_text = "cannot open /cfg/k.ini: Permission denied";
    HeadlessWindow window;
    Form1 form(window, link_, files_, clock_, "/cfg/k.ini");
    form.Form_Load();
    EXPECT_EQ(form.FileName, "checkride.dat");
    EXPECT_EQ(
        window.status_text(),
        "Settings file error: cannot open /cfg/k.ini: Permission denied (using checkride.dat)");
}

TEST(ConnectedStatusTextTest, ShowsTheTopFourNibblesAsVersionDigits) {
    EXPECT_EQ(ConnectedStatusText(0x19980005), "Connected to Flight Simulator (host ver1.998)");
    // Nibbles above 9 continue after '9' in code order: 10 is ':', 15 is '?'.
    EXPECT_EQ(ConnectedStatusText(0x3A0F0000), "Connected to Flight Simulator (host ver3.:0?)");
    // A word with its top bit set still shows its own nibbles.
    EXPECT_EQ(ConnectedStatusText(static_cast<std::int32_t>(0xA1000000u)),
              "Connected to Flight Simulator (host ver:.100)");
}

}  // namespace
}  // namespace kestrun
