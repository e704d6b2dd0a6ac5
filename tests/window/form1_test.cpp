#include "window/form1.h"

#include <gtest/gtest.h>

#include <fstream>

#include "platform/posix/posix_file_system.h"
#include "protocol/host_units.h"
#include "tests/support/fake_clock.h"
#include "tests/support/fake_link_platform.h"
#include "tests/support/fault_file_system.h"
#include "tests/support/scratch_dir.h"
#include "window/headless_window.h"

namespace kestrun {
namespace {

constexpr char kConnected[] = "Connected to Flight Simulator (host ver3.280)";

// Connect, Record, Stop, SetPath, Overwrite enabled? (Disconnect is always on.)
struct Buttons {
    bool connect, record, stop, set_path_and_overwrite;
    bool operator==(const Buttons&) const = default;
};
constexpr Buttons kNotConnected{true, false, false, true};
constexpr Buttons kConnectedIdle{false, true, false, true};
constexpr Buttons kRecording{false, false, true, false};

std::ostream& operator<<(std::ostream& out, const Buttons& b) {
    return out << "{connect " << b.connect << ", record " << b.record << ", stop " << b.stop
               << ", set path/overwrite " << b.set_path_and_overwrite << "}";
}

std::vector<FlightRecord> ReadRecords(const std::filesystem::path& path) {
    std::ifstream in(path, std::ios::binary);
    std::vector<FlightRecord> records;
    char bytes[kFlightRecordSize];
    while (in.read(bytes, sizeof bytes)) {
        records.push_back(DecodeFlightRecord(reinterpret_cast<const std::byte*>(bytes)));
    }
    return records;
}

class Form1Test : public ::testing::Test {
  protected:
    void SetUp() override {
        form_.Form_Load();
        form_.FileName = output_.string();
    }

    Buttons Shown() const {
        EXPECT_TRUE(window_.IsEnabled(Control::kDisconnect));
        EXPECT_EQ(window_.IsEnabled(Control::kSetPath), window_.IsEnabled(Control::kOverwrite));
        return {window_.IsEnabled(Control::kConnect), window_.IsEnabled(Control::kRecord),
                window_.IsEnabled(Control::kStop), window_.IsEnabled(Control::kSetPath)};
    }
    void Ticks(int n) {
        for (int i = 0; i < n; ++i) form_.RecTimer_Timer();
    }

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
    EXPECT_EQ(window_.status_text(), "Not Connected to Flight Simulator");

    form_.Connect_Click();
    EXPECT_TRUE(form_.Active);
    EXPECT_EQ(window_.status_text(), kConnected);
    EXPECT_EQ(Shown(), kConnectedIdle);

    form_.cmdRecord_Click();
    EXPECT_TRUE(form_.Recording);
    EXPECT_EQ(form_.Position, 1);
    EXPECT_EQ(window_.status_text(), "Recording Data ...");
    EXPECT_EQ(window_.repaint_count(), 1);
    EXPECT_EQ(Shown(), kRecording);
    EXPECT_TRUE(window_.timer_enabled());
    EXPECT_EQ(window_.timer_interval(), 1000);
    // The first record comes with the first tick, a second after the start.
    EXPECT_EQ(std::filesystem::file_size(output_), 0u);

    Ticks(2);
    form_.cmdStop_Click();
    EXPECT_FALSE(form_.Recording);
    EXPECT_EQ(window_.status_text(), "Recording stopped. File Saved.");
    EXPECT_EQ(Shown(), kConnectedIdle);
    EXPECT_FALSE(window_.timer_enabled());
    EXPECT_EQ(window_.timer_interval(), 0);
    EXPECT_EQ(std::filesystem::file_size(output_), 160u);

    // Disconnect while recording stops the run first.
    form_.cmdRecord_Click();
    Ticks(1);
    form_.Disconnect_Click();
    EXPECT_FALSE(form_.Recording);
    EXPECT_FALSE(form_.Active);
    EXPECT_EQ(window_.status_text(), "Not Connected to Flight Simulator");
    EXPECT_EQ(Shown(), kNotConnected);
    EXPECT_EQ(std::filesystem::file_size(output_), 80u);
    EXPECT_TRUE(link_.AllReleased());

    // Closing the window while recording leaves whole records and no link.
    form_.Connect_Click();
    form_.cmdRecord_Click();
    Ticks(3);
    form_.Form_Unload();
    EXPECT_EQ(Shown(), kNotConnected);
    EXPECT_EQ(std::filesystem::file_size(output_), 240u);
    EXPECT_TRUE(link_.AllReleased());
    // Repainted only where "Recording Data ..." was shown.
    EXPECT_EQ(window_.repaint_count(), 3);
}

TEST_F(Form1Test, FailedConnectShowsTheReasonAndChangesNoButton) {
    link_.SetWindow("HOSTMAIN", false);
    link_.SetWindow("SIMMAIN", false);
    form_.Connect_Click();
    EXPECT_FALSE(form_.Active);
    EXPECT_EQ(window_.status_text(), "Error: Cannot link to the simulator host or network client");
    EXPECT_EQ(Shown(), kNotConnected);

    window_.SetStatusText("something else");
    form_.Disconnect_Click();  // while not connected
    EXPECT_EQ(window_.status_text(), "Not Connected to Flight Simulator");
    EXPECT_EQ(Shown(), kNotConnected);
}

TEST_F(Form1Test, TicksRecordTheHostsValuesWithOneClockReading) {
    link_.image().SetU64(kOffsetLatitude, 0x1122334455667788);
    link_.image().SetU64(kOffsetLongitude, 0x0102030405060708);
    link_.image().SetU32(kOffsetAltitudeFraction, 0x80000000u);
    link_.image().SetU32(kOffsetAltitudeMetres, 1234);
    link_.image().SetU32(kOffsetPitch, 0xFFFFFFF0u);
    link_.image().SetU32(kOffsetBank, 77);
    link_.image().SetU32(kOffsetHeading, 0xC0000000u);
    link_.image().SetU32(kOffsetIndicatedAirspeed, 120 * 128);
    clock_.now = {12, 59, 59};
    clock_.seconds_per_reading = 1;

    form_.Connect_Click();
    form_.cmdRecord_Click();
    Ticks(2);
    EXPECT_EQ(form_.Position, 161);
    form_.cmdStop_Click();

    const std::vector<FlightRecord> records = ReadRecords(output_);
    ASSERT_EQ(records.size(), 2u);
    const FlightRecord& r = records[0];
    EXPECT_EQ(r.Header1, 8);
    EXPECT_EQ(r.Header3, 1);
    EXPECT_EQ(r.Hour, 12);
    EXPECT_EQ(r.Minute, 59);
    EXPECT_EQ(r.Second, 59);
    EXPECT_EQ(records[1].Hour, 13);
    EXPECT_EQ(records[1].Minute, 0);
    EXPECT_EQ(r.Latitude, 0x1122334455667788);
    EXPECT_EQ(r.Longitude, 0x0102030405060708);
    EXPECT_EQ(r.AltitudeFraction, 0x80000000u);
    EXPECT_EQ(r.AltitudeMetres, 1234);
    EXPECT_EQ(r.Pitch, -16);
    EXPECT_EQ(r.Bank, 77);
    EXPECT_EQ(r.Heading, 0xC0000000u);
    EXPECT_EQ(r.IAS, 120 * 128);
    EXPECT_EQ(window_.status_text(), "Recording stopped. File Saved.");
}

TEST_F(Form1Test, RecordWhileTheLinkIsClosedHoldsOnlyHeaderAndTime) {
    link_.image().SetU64(kOffsetLatitude, 42);
    form_.cmdRecord_Click();  // never connected
    Ticks(1);
    form_.cmdStop_Click();
    const std::vector<FlightRecord> records = ReadRecords(output_);
    ASSERT_EQ(records.size(), 1u);
    EXPECT_EQ(records[0].Header1, 8);
    EXPECT_EQ(records[0].Hour, 12);
    EXPECT_EQ(records[0].Latitude, 0);
    EXPECT_EQ(records[0].IAS, 0);
    EXPECT_EQ(link_.sends(), 0);
    EXPECT_EQ(window_.status_history().end()[-2], "Recording Data ...");  // nothing in between
}

TEST_F(Form1Test, SamplingFailuresShowOnTheStatusLineWhileRecordsKeepComing) {
    link_.image().SetU64(kOffsetLatitude, 42);
    form_.Connect_Click();
    form_.cmdRecord_Click();
    Ticks(1);
    EXPECT_EQ(window_.status_text(), "Recording Data ...");  // success shows nothing

    link_.default_reply = HostReply::TimeOut();
    Ticks(1);
    EXPECT_EQ(window_.status_text(), "Processing error: IPC timed out all retries");
    link_.HostGoesAway();
    Ticks(2);
    EXPECT_EQ(window_.status_text(), "Processing error: IPC sendmessage failed all retries");
    EXPECT_EQ(window_.repaint_count(), 1 + 3);
    EXPECT_TRUE(form_.Recording);
    form_.cmdStop_Click();

    const std::vector<FlightRecord> records = ReadRecords(output_);
    ASSERT_EQ(records.size(), 4u);
    EXPECT_EQ(records[0].Latitude, 42);
    for (std::size_t i = 1; i < 4; ++i) {
        EXPECT_EQ(records[i].Header1, 8);
        EXPECT_EQ(records[i].Latitude, 0) << i;
    }
}

TEST_F(Form1Test, AFailedQueueReadLeavesNothingQueuedForALaterExchange) {
    form_.Connect_Click();
    HostLink& link = form_.link();
    // Fill the block so that exactly the first two reads of a sample fit.
    LinkResult result = kResultOkay;
    int fits = 0;
    while (link.QueueRead(kOffsetBank, 4, nullptr, result)) ++fits;
    link.DiscardQueue();
    for (int i = 0; i < fits - 2; ++i) ASSERT_TRUE(link.QueueRead(kOffsetBank, 4, nullptr, result));

    form_.cmdRecord_Click();
    Ticks(1);
    EXPECT_EQ(window_.status_text(),
              "Read error: Read or Write request cannot be added, memory for Process is full");
    EXPECT_EQ(window_.repaint_count(), 2);
    EXPECT_EQ(link_.sends(), 1);  // only the handshake: nothing was exchanged
    result = kResultOkay;
    EXPECT_FALSE(link.ProcessQueue(result));
    EXPECT_EQ(result, kResultNothingQueued);

    // The next second samples normally again.
    window_.SetStatusText("Recording Data ...");
    Ticks(1);
    EXPECT_EQ(window_.status_text(), "Recording Data ...");
    EXPECT_EQ(std::filesystem::file_size(output_), 160u);
}

TEST_F(Form1Test, AnOutputFileThatCannotBeOpenedStartsNoRun) {
    form_.Connect_Click();
    form_.FileName = (dir_ / "no such folder" / "x.dat").string();
    form_.cmdRecord_Click();
    EXPECT_FALSE(form_.Recording);
    EXPECT_EQ(Shown(), kConnectedIdle);
    EXPECT_FALSE(window_.timer_enabled());
    EXPECT_EQ(window_.repaint_count(), 0);
    EXPECT_EQ(window_.status_text(),
              "File error: cannot open: No such file or directory: " + form_.FileName);

    form_.FileName.clear();
    form_.cmdRecord_Click();
    EXPECT_FALSE(form_.Recording);
    EXPECT_EQ(window_.status_text(), "File error: no output file is set");
}

TEST_F(Form1Test, AWriteThatFailsEndsTheRunKeepingEveryWholeRecord) {
    files_.writes_before_failure = 2;
    files_.bytes_written_on_failure = 50;
    form_.Connect_Click();
    form_.cmdRecord_Click();
    Ticks(3);
    EXPECT_FALSE(form_.Recording);
    EXPECT_EQ(Shown(), kConnectedIdle);
    EXPECT_FALSE(window_.timer_enabled());
    EXPECT_EQ(window_.status_text(), "File error: cannot write: No space left on device");
    EXPECT_EQ(std::filesystem::file_size(output_), 160u);
    Ticks(1);  // a late tick after the run ended does nothing
    EXPECT_EQ(std::filesystem::file_size(output_), 160u);
}

TEST_F(Form1Test, SavedIsClaimedOnlyWhenTheFileClosedWithoutError) {
    files_.fail_close = "cannot close: Input/output error: " + output_.string();
    form_.Connect_Click();
    form_.cmdRecord_Click();
    Ticks(1);
    form_.cmdStop_Click();
    EXPECT_EQ(window_.status_text(), "File error: " + *files_.fail_close);
    EXPECT_EQ(Shown(), kConnectedIdle);
}

TEST_F(Form1Test, AppendingStartsAfterTheExistingContents) {
    std::ofstream(output_, std::ios::binary) << std::string(100, 'x');
    window_.SetOverwriteValue(0);
    form_.Connect_Click();
    form_.cmdRecord_Click();
    EXPECT_EQ(form_.Position, 101);
    Ticks(2);
    EXPECT_EQ(form_.Position, 261);
    form_.cmdStop_Click();
    EXPECT_EQ(std::filesystem::file_size(output_), 260u);
}

TEST_F(Form1Test, SetOutputFileShowsTheDialogAndSavesTheAnswerWhenNotRecording) {
    window_.QueueDialogAnswer((dir_ / "b.dat").string());
    form_.cmdSetPath_Click();
    ASSERT_EQ(window_.dialogs_shown().size(), 1u);
    EXPECT_EQ(window_.dialogs_shown()[0].file_name, output_.string());
    EXPECT_EQ(window_.dialogs_shown()[0].filter, "*.DAT");
    EXPECT_EQ(form_.FileName, (dir_ / "b.dat").string());

    // A new window loads what was saved; a cancelled dialog keeps the name.
    HeadlessWindow second_window;
    Form1 second(second_window, link_, files_, clock_, form_.settings_path());
    second.Form_Load();
    EXPECT_EQ(second.FileName, (dir_ / "b.dat").string());
    second.cmdSetPath_Click();
    EXPECT_EQ(second.FileName, (dir_ / "b.dat").string());

    form_.cmdRecord_Click();
    form_.cmdSetPath_Click();  // while recording: nothing happens
    EXPECT_EQ(window_.dialogs_shown().size(), 1u);
    form_.cmdStop_Click();
}

TEST_F(Form1Test, ASettingsFileThatCannotBeReadLeavesTheDefaultAndSaysSo) {
    files_.fail_read_text = "cannot open: Permission denied: /cfg/KestrunFlightRecorder.ini";
    HeadlessWindow window;
    Form1 form(window, link_, files_, clock_, "/cfg/KestrunFlightRecorder.ini");
    form.Form_Load();
    EXPECT_EQ(form.FileName, "checkride.dat");
    EXPECT_EQ(window.status_text(),
              "Settings file error: cannot open: Permission denied: "
              "/cfg/KestrunFlightRecorder.ini (using checkride.dat)");
}

}  // namespace
}  // namespace kestrun
