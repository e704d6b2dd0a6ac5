// kestrun-recorder: the recorder's window. Builds the Qt window, hands it to
// Form1 with the POSIX link, files and clock, loads, and runs until the
// window closes; closing it stops any run and closes the link.

#include <QApplication>
#include <QString>
#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <string_view>
#include <vector>

#include "cli/recorder_command_line.h"
#include "platform/posix/posix_clock.h"
#include "platform/posix/posix_file_system.h"
#include "platform/posix/posix_link_platform.h"
#include "gui/close_on_signals.h"
#include "gui/recorder_window.h"
#include "gui/window_events.h"
#include "settings/settings_file.h"
#include "window/form1.h"

namespace {

QtMessageHandler g_qt_handler = nullptr;

bool IsSet(const char* name) {
    const char* value = std::getenv(name);
    return value != nullptr && *value != '\0';
}

// Qt ends a program whose display cannot be reached with an abort; while the
// application starts, that becomes one line and exit status 1 instead.
void ExitWithoutWindow(QtMsgType type, const QMessageLogContext& context, const QString& text) {
    if (type != QtFatalMsg) {
        if (g_qt_handler != nullptr) g_qt_handler(type, context, text);
        return;
    }
    std::fputs(
        "kestrun-recorder: cannot open a window on this display; record with "
        "kestrun-record instead\n",
        stderr);
    std::_Exit(1);
}

}  // namespace

int main(int argc, char** argv) {
    const std::vector<std::string_view> arguments(argv + std::min(argc, 1), argv + argc);
    kestrun::RecorderCommandLine command = kestrun::ReadRecorderCommandLine(
        arguments, IsSet("DISPLAY") || IsSet("WAYLAND_DISPLAY") || IsSet("QT_QPA_PLATFORM"));
    using Action = kestrun::RecorderCommandLine::Action;
    switch (command.action) {
        case Action::kRun:
            break;
        case Action::kHelp:
        case Action::kVersion:
            std::fputs(command.text.c_str(), stdout);
            return 0;
        case Action::kUsageError:
            std::fputs(command.text.c_str(), stderr);
            return 2;
        case Action::kNoDisplay:
            std::fputs(command.text.c_str(), stderr);
            return 1;
    }

    // Qt reads its options as read above, -name=value split in two; it keeps
    // pointers into these for as long as the application lives.
    static char program_name[] = "kestrun-recorder";
    std::vector<char*> qt_argv{argc > 0 ? argv[0] : program_name};
    for (std::string& argument : command.qt_arguments) qt_argv.push_back(argument.data());
    qt_argv.push_back(nullptr);
    int qt_argc = static_cast<int>(qt_argv.size() - 1);

    g_qt_handler = qInstallMessageHandler(ExitWithoutWindow);
    QApplication application(qt_argc, qt_argv.data());
    qInstallMessageHandler(g_qt_handler);
    QApplication::setApplicationName(QStringLiteral("kestrun-recorder"));
    QApplication::setApplicationVersion(
        QString::fromLatin1(kestrun::kRecorderVersion.data(),
                            static_cast<qsizetype>(kestrun::kRecorderVersion.size())));
    // Lets a desktop match the window to its menu entry and icon.
    QGuiApplication::setDesktopFileName(QStringLiteral("org.kestrun.FlightRecorder"));

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
