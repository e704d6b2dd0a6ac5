#pragma once
// The window without a screen: keeps every control state, the status line,
// the timer settings and the save dialog's answers in memory. Tests inspect
// it; the command-line recorder listens to its status line.

#include <array>
#include <deque>
#include <functional>
#include <string>
#include <vector>

#include "window/window_ops.h"

namespace kestrun {

class HeadlessWindow final : public WindowOps {
  public:
    // Starts as the window does: "Not Connected to Flight Simulator", Connect,
    // Disconnect, Set Output File and the ticked check box enabled, Start and
    // Stop Recording disabled, the timer off with interval 0. Without
    // `keep_status_history` (long unattended runs) the history stays empty.
    explicit HeadlessWindow(bool keep_status_history = true);

    void SetStatusText(std::string_view text) override;
    void SetStatusNote(std::string_view text) override { status_note_ = text; }
    void SetOutputFileTip(std::string_view text) override { output_file_tip_ = text; }
    void RepaintNow() override { ++repaint_count_; }
    void SetEnabled(Control control, bool enabled) override;
    int OverwriteValue() override { return overwrite_value_; }
    void SetTimerInterval(int milliseconds) override { timer_interval_ = milliseconds; }
    void SetTimerEnabled(bool enabled) override { timer_enabled_ = enabled; }
    // Returns the next queued answer, or `file_name` (a cancel) when none is
    // queued. Records what the dialog was shown with.
    std::string ShowSaveDialog(const std::string& file_name, std::string_view filter) override;

    // What a user would set.
    void SetOverwriteValue(int value) { overwrite_value_ = value; }
    void QueueDialogAnswer(std::string file_name) {
        dialog_answers_.push_back(std::move(file_name));
    }
    // Called with every text the status line is given, in order.
    void SetStatusListener(std::function<void(const std::string&)> listener) {
        status_listener_ = std::move(listener);
    }

    // What a user would see.
    const std::string& status_text() const { return status_text_; }
    const std::string& status_note() const { return status_note_; }
    const std::string& output_file_tip() const { return output_file_tip_; }
    // Every text given to the status line since construction.
    const std::vector<std::string>& status_history() const { return status_history_; }
    bool IsEnabled(Control control) const { return enabled_[Index(control)]; }
    int repaint_count() const { return repaint_count_; }
    int timer_interval() const { return timer_interval_; }
    bool timer_enabled() const { return timer_enabled_; }

    struct DialogShown {
        std::string file_name;
        std::string filter;
    };
    const std::vector<DialogShown>& dialogs_shown() const { return dialogs_shown_; }

  private:
    static std::size_t Index(Control control) { return static_cast<std::size_t>(control); }

    std::string status_text_;
    std::string status_note_;
    std::string output_file_tip_;
    bool keep_status_history_;
    std::vector<std::string> status_history_;
    std::array<bool, 6> enabled_{};
    int overwrite_value_ = 1;
    int timer_interval_ = 0;
    bool timer_enabled_ = false;
    int repaint_count_ = 0;
    std::deque<std::string> dialog_answers_;
    std::vector<DialogShown> dialogs_shown_;
    std::function<void(const std::string&)> status_listener_;
};

}  // namespace kestrun
