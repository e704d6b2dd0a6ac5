#include "tests/support/host_process.h"

#include <fcntl.h>
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <thread>

#include "platform/posix/endpoint.h"
#include "platform/posix/runtime_directory.h"

extern char** environ;

namespace kestrun::testing {

pid_t SpawnProgram(const std::string& program, const std::vector<std::string>& arguments,
                   const std::string& output, const std::string& errors) {
    std::vector<std::string> all{program};
    all.insert(all.end(), arguments.begin(), arguments.end());
    std::vector<char*> argv;
    for (std::string& a : all) argv.push_back(a.data());
    argv.push_back(nullptr);
    posix_spawn_file_actions_t actions;
    ::posix_spawn_file_actions_init(&actions);
    for (const auto& [fd, path] : {std::pair{1, &output}, std::pair{2, &errors}}) {
        if (path->empty()) continue;
        ::posix_spawn_file_actions_addopen(&actions, fd, path->c_str(),
                                           O_WRONLY | O_CREAT | O_TRUNC, 0600);
    }
    pid_t pid = -1;
    const int failed = ::posix_spawnp(&pid, argv[0], &actions, nullptr, argv.data(), environ);
    ::posix_spawn_file_actions_destroy(&actions);
    return failed != 0 ? -1 : pid;
}

int WaitForChild(pid_t pid) {
    int status = 0;
    while (::waitpid(pid, &status, 0) < 0 && errno == EINTR) {
    }
    return status;
}

int ExitStatus(int wait_status) {
    return WIFEXITED(wait_status) ? WEXITSTATUS(wait_status) : -1;
}

int RunProgram(const std::string& program, const std::vector<std::string>& arguments,
               const std::string& output, const std::string& errors) {
    const pid_t pid = SpawnProgram(program, arguments, output, errors);
    return pid > 0 ? ExitStatus(WaitForChild(pid)) : -1;
}

std::optional<int> WaitForChildWithin(pid_t pid, std::chrono::milliseconds limit) {
    int status = 0;
    if (Eventually([&] { return ::waitpid(pid, &status, WNOHANG) == pid; }, limit)) return status;
    return std::nullopt;
}

bool Eventually(const std::function<bool()>& done, std::chrono::milliseconds limit) {
    for (const auto give_up = std::chrono::steady_clock::now() + limit;;) {
        if (done()) return true;
        if (std::chrono::steady_clock::now() >= give_up) return false;
        std::this_thread::sleep_for(std::chrono::milliseconds(20));
    }
}

bool Accepting(const std::string& path) {
    const auto probe = ConnectEndpoint(path);
    if (probe.ok()) ::close(probe.value);
    return probe.ok();
}

HostProcess::~HostProcess() {
    if (running()) Stop(SIGKILL);
}

bool HostProcess::Start(const std::vector<std::string>& arguments, std::string_view window_class,
                        const std::string& output) {
    pid_ = SpawnProgram(KESTRUN_HOST_PATH, arguments, output, output);
    const std::string endpoint = EndpointPath(RuntimeDirectoryPath(), window_class);
    const bool settled = Eventually([&] {
        int status = 0;
        if (running() && ::waitpid(pid_, &status, WNOHANG) == pid_) pid_ = -1;  // it gave up
        return !running() || Accepting(endpoint);
    });
    return settled && running();
}

int HostProcess::Stop(int signal) {
    if (!running()) return -1;
    ::kill(pid_, signal);
    const int status = WaitForChild(pid_);
    pid_ = -1;
    return status;
}

}  // namespace kestrun::testing
