// kestrun-recorder as it runs for a pilot, with the two clicks a pilot makes:
// the same window, link, files and clock as apps/recorder/main.cpp, and
// then "Connect to FS" and "Start Recording" pressed by the program itself,
// so that the window's memory and wake-ups can be measured while it records
// on a display nobody looks at. Closes the window after SECONDS (default 60).
//   recorder_clicked [SECONDS]

#include <QApplication>
#include <QPushButton>
#include <QTimer>
#include <cstdlib>

#include "platform/posix/posix_clock.h"
#include "platform/posix/posix_file_system.h"
#include "platform/posix/posix_link_platform.h"
#include "gui/recorder_window.h"
#include "gui/window_events.h"
#include "settings/settings_file.h"
#include "window/form1.h"

int main(int argc, char** argv) {
    QApplication application(argc, argv);
    kestrun::qt::RecorderWindow window;
    kestrun::PosixLinkPlatform link_platform;
    kestrun::PosixFileSystem files;
    kestrun::PosixClock clock;
    kestrun::Form1 form(window, link_platform, files, clock, kestrun::DefaultSettingsPath());
    kestrun::qt::ForwardEvents<kestrun::Form1> events(form);
    window.SetEvents(&events);
    form.Form_Load();
    window.show();

    const auto click = [&window](const char* name) {
        if (auto* button = window.findChild<QPushButton*>(name)) button->click();
    };
    QTimer::singleShot(200, &window, [&] { click("Connect"); });
    QTimer::singleShot(400, &window, [&] { click("cmdRecord"); });
    const int seconds = argc > 1 ? std::atoi(argv[1]) : 60;
    QTimer::singleShot(seconds * 1000, &window, [&] { window.close(); });
    const int status = QApplication::exec();
    window.Unload();
    window.SetEvents(nullptr);
    return status;
}
