#pragma once
// Runs kestrun-host as a real child process for integration tests and
// benchmarks. The child inherits the environment, so create a RuntimeSandbox
// first.

#include <sys/types.h>

#include <string>
#include <string_view>
#include <vector>

namespace kestrun::testing {

class HostProcess {
  public:
    HostProcess() = default;
    ~HostProcess();  // kills and reaps a host still running
    HostProcess(const HostProcess&) = delete;
    HostProcess& operator=(const HostProcess&) = delete;

    // Starts the host with `arguments` and waits until it accepts
    // connections on `window_class` (HOSTMAIN, or SIMMAIN for
    // --client-mode). False when it did not come up within five seconds.
    bool Start(const std::vector<std::string>& arguments,
               std::string_view window_class = "HOSTMAIN");

    // Runs a host that is expected to end by itself (a refusal) and returns
    // its wait status; -1 when it was still running after five seconds.
    static int RunToEnd(const std::vector<std::string>& arguments);

    // Sends `signal` and waits for the host to end; returns its wait status.
    int Stop(int signal);
    bool running() const { return pid_ > 0; }

  private:
    pid_t pid_ = -1;
};

}  // namespace kestrun::testing
