// kestrun-recorder: the recorder's window. Builds the Qt window, hands it to
// Form1 with the POSIX link, files and clock, loads, and runs until the
// window closes; closing it stops any run and closes the link.

#include <QApplication>
#include <QString>

#include "platform/posix/posix_clock.h"
#include "platform/posix/posix_file_system.h"
#include "platform/posix/posix_link_platform.h"
#include "platform/qt/close_on_signals.h"
#include "platform/qt/recorder_window.h"
#include "platform/qt/window_events.h"
#include "settings/settings_file.h"
#include "window/form1.h"

int main(int argc, char** argv) {
    QApplication application(argc, argv);
    QApplication::setApplicationName(QStringLiteral("kestrun-recorder"));
    QApplication::setApplicationVersion(QStringLiteral("1.0"));
    // Lets a desktop match the window to its menu entry and icon.
    QGuiApplication::setDesktopFileName(QStringLiteral("kestrun-recorder"));

    kestrun::qt::RecorderWindow window;
    kestrun::PosixLinkPlatform link_platform;
    kestrun::PosixFileSystem files;
    kestrun::PosixClock clock;
    kestrun::Form1 form(window, link_platform, files, clock, kestrun::DefaultSettingsPath());
    kestrun::qt::ForwardEvents<kestrun::Form1> events(form);
    window.SetEvents(&events);

    form.Form_Load();
    const kestrun::qt::CloseOnSignals close_on_signals;
    window.show();
    const int status = QApplication::exec();

    // Normally done by the close already; this covers an event loop that
    // ended some other way, while Form1 still exists.
    window.Unload();
    window.SetEvents(nullptr);
    return status;
}
