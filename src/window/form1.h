#pragma once
// Form1: the recorder's main window as plain C++. It owns the window
// variables, the link and the recording run, and its handlers are what the
// window's events call. Controls, status line, timer and dialog are reached
// only through WindowOps, so the same handlers run under Qt, headless in
// tests and in the command-line recorder.
//
// Single-threaded: call every handler from one thread, one at a time.

#include <filesystem>
#include <string>
#include <string_view>

#include "link/general.h"
#include "link/host_link.h"
#include "platform/clock.h"
#include "platform/file_system.h"
#include "platform/link_platform.h"
#include "record/flight_record.h"
#include "recording/recording_run.h"
#include "window/window_ops.h"

namespace kestrun {

inline constexpr int kRecordTimerIntervalMs = 1000;
inline constexpr std::string_view kOutputFileFilter = "*.DAT";

class Form1 {
  public:
    // Everything passed in must outlive the window. `settings_path` is the
    // settings file (normally DefaultSettingsPath()).
    Form1(WindowOps& window, LinkPlatform& link_platform, FileSystem& files, Clock& clock,
          std::filesystem::path settings_path);
    Form1(const Form1&) = delete;
    Form1& operator=(const Form1&) = delete;

    // Fills the result texts, resets the link, loads the output path. A
    // settings file that cannot be read or written leaves "checkride.dat" and
    // says so on the status line.
    void Form_Load();
    // Stops any recording and disconnects.
    void Form_Unload();
    // Opens a fresh link; shows the host version or "Error: " and the reason.
    void Connect_Click();
    // Stops any recording, closes the link, shows "Not Connected ...".
    void Disconnect_Click();
    // Starts a run when not recording. When the output file cannot be opened
    // nothing starts and the status line says "File error: " and why. A file
    // that could not be locked is noted beside the status line.
    void cmdRecord_Click();
    // Ends a run: "Recording stopped. File Saved." only when the file was
    // written and closed without error, otherwise "File error: ...".
    void cmdStop_Click();
    // Shows the save dialog and saves the chosen path, when not recording.
    void cmdSetPath_Click();
    // One second of a run: sample, stamp, write. A failed write ends the run
    // as Stop would, with "File error: ..." on the status line.
    void RecTimer_Timer();
    // Fills the host fields of `record` when the link is active; failures go
    // to the status line and the window is repainted at once.
    void SampleFlightData(FlightRecord& record);

    bool Active = false;
    bool Recording = false;
    // 1-based byte position of the next record (exact up to 2^53).
    double Position = 0;
    std::string FileName;

    HostLink& link() { return link_; }
    const General& general() const { return general_; }
    const std::filesystem::path& settings_path() const { return settings_path_; }

    // Whether the last run's file was saved: every record whole, synced and
    // closed. False while recording and after a failed write or stop.
    bool file_saved() const { return run_.saved(); }
    // Seconds of the current or last run whose sample failed; their records
    // hold zeros where the host's values belong.
    int lost_seconds() const { return lost_seconds_; }
    // Where the last start kept the file's previous flight; empty for none.
    const std::filesystem::path& kept_as() const { return run_.kept_as(); }
    // Whether the run's file holds its lock (false on file systems without).
    bool file_locked() const { return run_.locked(); }
    // Whether an overwriting start keeps the flight the file held (the
    // default) or simply empties the file.
    void SetKeepPrevious(bool keep) { run_.SetKeepPrevious(keep); }
    // Hands each record to `listener` once it is written whole.
    void SetRecordListener(RecordingRun::RecordListener listener) {
        run_.SetRecordListener(std::move(listener));
    }

  private:
    // Shows `text` on the status line and brings its tooltip up to date.
    void ShowStatus(std::string_view text);
    // The tooltips: the status line's (its whole text, the output file, the
    // run so far, and what else a pilot should know) and Set Output File's.
    void RefreshTips();
    // The control states of a run, and of connected-not-recording.
    void ShowRecordingControls(bool recording);
    // Ends the run's window state after the file was closed, showing `text`.
    void EndRun(std::string_view text);

    WindowOps& window_;
    LinkPlatform& link_platform_;
    HostLink link_;
    General general_;
    FileSystem& files_;
    std::filesystem::path settings_path_;
    RecordingRun run_;
    std::string status_;
    int lost_seconds_ = 0;
};

}  // namespace kestrun
