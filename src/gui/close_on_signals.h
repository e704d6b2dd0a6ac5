#pragma once
// Turns SIGINT, SIGTERM and SIGHUP into a close of every top-level window,
// so that a recorder stopped from a terminal or by the session's end still
// unloads: the run stops, the file keeps whole records, the link closes. The
// close happens on the window's thread once the current handler returns. A
// second signal of the same kind ends the process at once.

namespace kestrun::qt {

class CloseOnSignals {
  public:
    // Installs the signal handlers; one instance per process, created after
    // the QApplication.
    CloseOnSignals();
    // Restores the default handlers.
    ~CloseOnSignals();

    CloseOnSignals(const CloseOnSignals&) = delete;
    CloseOnSignals& operator=(const CloseOnSignals&) = delete;
};

}  // namespace kestrun::qt
