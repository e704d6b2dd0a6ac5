#pragma once
// The window operations the recorder's handlers use, and nothing more: the
// controls, the status line, the repaint, the timer and the save dialog. The
// Qt window implements them over widgets; HeadlessWindow implements them for
// tests and the command-line recorder. No flight logic lives behind them.

#include <string>
#include <string_view>

namespace kestrun {

// The controls whose enabled state the handlers change.
enum class Control { kConnect, kDisconnect, kRecord, kStop, kSetPath, kOverwrite };

class WindowOps {
  public:
    virtual ~WindowOps() = default;

    // lblStatus.
    virtual void SetStatusText(std::string_view text) = 0;
    // The status line's tooltip, lines ended by '\n'; empty for none.
    virtual void SetStatusNote(std::string_view text) = 0;
    // cmdSetPath's tooltip.
    virtual void SetOutputFileTip(std::string_view text) = 0;
    // Paints the whole window before returning, so a text set just before a
    // blocking exchange is visible during it.
    virtual void RepaintNow() = 0;

    virtual void SetEnabled(Control control, bool enabled) = 0;
    // chkOverwrite: 0 when clear, non-zero when ticked.
    virtual int OverwriteValue() = 0;

    // RecTimer. Interval 0 with the timer disabled means stopped.
    virtual void SetTimerInterval(int milliseconds) = 0;
    virtual void SetTimerEnabled(bool enabled) = 0;

    // Dialog: shows the save dialog with `file_name` preset and the single
    // filter `filter`; returns the chosen name, or `file_name` unchanged
    // when the user cancels.
    virtual std::string ShowSaveDialog(const std::string& file_name, std::string_view filter) = 0;
};

}  // namespace kestrun
