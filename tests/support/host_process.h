#pragma once
// Runs kestrun-host, or any program of ours, as a real child process for
// integration tests and benchmarks. Children inherit the environment, so
// create a RuntimeSandbox first.

#include <sys/types.h>

#include <chrono>
#include <functional>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace kestrun::testing {

// Starts `program` (found on PATH unless a path) with `arguments`, its
// standard output and error going to the files `output` and `errors` when
// they are named; -1 when it could not start.
pid_t SpawnProgram(const std::string& program, const std::vector<std::string>& arguments,
                   const std::string& output = "", const std::string& errors = "");
// Waits for `pid` to end and returns its wait status.
int WaitForChild(pid_t pid);
// The exit status a wait status holds; -1 when a signal ended the program.
int ExitStatus(int wait_status);
// Starts `program` as SpawnProgram does and waits for it: its exit status, or
// -1 when it could not start or a signal ended it.
int RunProgram(const std::string& program, const std::vector<std::string>& arguments,
               const std::string& output = "", const std::string& errors = "");
// Waits up to `limit` for `pid` to end; its wait status, or nullopt while it
// still runs.
std::optional<int> WaitForChildWithin(pid_t pid, std::chrono::milliseconds limit);

// Asks `done` every 20 ms until it holds or `limit` has passed; whether it held.
bool Eventually(const std::function<bool()>& done,
                std::chrono::milliseconds limit = std::chrono::seconds(5));
// True when something accepts connections on the socket file `path`.
bool Accepting(const std::string& path);

class HostProcess {
  public:
    HostProcess() = default;
    ~HostProcess();  // kills and reaps a host still running
    HostProcess(const HostProcess&) = delete;
    HostProcess& operator=(const HostProcess&) = delete;

    // Starts the host with `arguments` and waits until it accepts
    // connections on `window_class` (HOSTMAIN, or SIMMAIN for
    // --client-mode). False when it did not come up within five seconds.
    // What it prints goes to the file `output` when one is named.
    bool Start(const std::vector<std::string>& arguments,
               std::string_view window_class = "HOSTMAIN", const std::string& output = "");

    // Sends `signal` and waits for the host to end; returns its wait status.
    int Stop(int signal);
    bool running() const { return pid_ > 0; }
    pid_t pid() const { return pid_; }

  private:
    pid_t pid_ = -1;
};

}  // namespace kestrun::testing
