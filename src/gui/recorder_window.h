#pragma once
// The recorder's window in Qt Widgets: the controls at their designed places,
// the status line, RecTimer and the save dialog. It implements WindowOps for
// the handlers and forwards every click, tick and the unload to a
// WindowEvents; it holds no flight logic of its own.

#include <QWidget>
#include <functional>
#include <optional>
#include <string>
#include <string_view>
#include <utility>

#include "gui/rec_timer.h"
#include "gui/window_events.h"
#include "window/window_ops.h"

class QCheckBox;
class QCloseEvent;
class QLabel;
class QPushButton;

namespace kestrun::qt {

class RecorderWindow final : public QWidget, public WindowOps {
  public:
    // Shows a save dialog; nullopt when cancelled. Tests replace the
    // platform's modal dialog with their own answer.
    using SaveDialogRunner = std::function<std::optional<std::string>(
        QWidget* parent, const std::string& file_name, std::string_view filter)>;

    // Builds every control in its starting state. The window's controls are
    // named after their roles (objectName "Connect", "cmdRecord", ...).
    RecorderWindow();
    ~RecorderWindow() override;

    RecorderWindow(const RecorderWindow&) = delete;
    RecorderWindow& operator=(const RecorderWindow&) = delete;

    // Where clicks, ticks and the unload go; nullptr drops them. `events`
    // must outlive the window or be replaced first.
    void SetEvents(WindowEvents* events) { events_ = events; }
    void SetSaveDialogRunner(SaveDialogRunner runner) { run_save_dialog_ = std::move(runner); }

    // Delivers Form_Unload unless it has been delivered already. Closing the
    // window calls this; a program that ends its event loop by other means
    // calls it before tearing the handlers down.
    void Unload();

    // WindowOps.
    void SetStatusText(std::string_view text) override;
    // Shown as the status line's tooltip.
    void SetStatusNote(std::string_view text) override;
    // Shown as Set Output File's tooltip.
    void SetOutputFileTip(std::string_view text) override;
    void RepaintNow() override;
    void SetEnabled(Control control, bool enabled) override;
    int OverwriteValue() override;
    void SetTimerInterval(int milliseconds) override;
    void SetTimerEnabled(bool enabled) override;
    std::string ShowSaveDialog(const std::string& file_name, std::string_view filter) override;

  protected:
    void closeEvent(QCloseEvent* event) override;

  private:
    void Deliver(void (WindowEvents::*handler)());
    QWidget* ControlWidget(Control control) const;

    WindowEvents* events_ = nullptr;
    SaveDialogRunner run_save_dialog_;
    bool unloaded_ = false;

    QPushButton* connect_;
    QPushButton* disconnect_;
    QPushButton* cmd_record_;
    QPushButton* cmd_stop_;
    QCheckBox* chk_overwrite_;
    QPushButton* cmd_set_path_;
    QLabel* lbl_status_;
    RecTimer rec_timer_;
};

}  // namespace kestrun::qt
