#include "gui/close_on_signals.h"

#include <sys/socket.h>
#include <unistd.h>

#include <QApplication>
#include <QSocketNotifier>
#include <array>
#include <cerrno>
#include <csignal>
#include <memory>

namespace kestrun::qt {
namespace {

constexpr std::array kSignals{SIGINT, SIGTERM, SIGHUP};

// The handler may only write to a descriptor; the notifier reads it on the
// window's thread.
int g_signal_pipe[2] = {-1, -1};
std::unique_ptr<QSocketNotifier> g_notifier;

extern "C" void OnSignal(int signal_number) {
    const int saved_errno = errno;
    const char byte = static_cast<char>(signal_number);
    [[maybe_unused]] const ssize_t written = write(g_signal_pipe[1], &byte, 1);
    errno = saved_errno;
}

}  // namespace

CloseOnSignals::CloseOnSignals() {
    if (socketpair(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0, g_signal_pipe) != 0) return;
    g_notifier = std::make_unique<QSocketNotifier>(g_signal_pipe[0], QSocketNotifier::Read);
    QObject::connect(g_notifier.get(), &QSocketNotifier::activated, [] {
        char byte = 0;
        [[maybe_unused]] const ssize_t got = read(g_signal_pipe[0], &byte, 1);
        QApplication::closeAllWindows();
    });

    struct sigaction action {};
    action.sa_handler = OnSignal;
    sigemptyset(&action.sa_mask);
    // SA_RESETHAND: a second Ctrl-C ends a recorder that does not close.
    action.sa_flags = static_cast<int>(SA_RESTART | SA_RESETHAND);
    for (const int signal_number : kSignals) sigaction(signal_number, &action, nullptr);
}

CloseOnSignals::~CloseOnSignals() {
    for (const int signal_number : kSignals) std::signal(signal_number, SIG_DFL);
    g_notifier.reset();
    for (int& fd : g_signal_pipe) {
        if (fd >= 0) close(fd);
        fd = -1;
    }
}

}  // namespace kestrun::qt
