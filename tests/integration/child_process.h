#pragma once
// Starts a program of the build as a child process with a chosen
// environment, collects its standard output, and waits for or signals it.

#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <cstdlib>
#include <map>
#include <string>
#include <thread>
#include <vector>

extern char** environ;

namespace kestrun::testing {

class ChildProcess {
public:
    // Starts `program` with `args`; `env` is added to (and overrides) this
    // process's environment. With `capture_output` standard output is
    // collected by Wait(); otherwise it is shared with the test, like
    // standard error, so failures show in the test log.
    ChildProcess(const std::string& program, const std::vector<std::string>& args,
                 const std::map<std::string, std::string>& env, bool capture_output) {
        std::map<std::string, std::string> merged;
        for (char** e = environ; *e != nullptr; ++e) {
            const std::string entry(*e);
            const auto eq = entry.find('=');
            if (eq != std::string::npos) merged[entry.substr(0, eq)] = entry.substr(eq + 1);
        }
        for (const auto& [key, value] : env) merged[key] = value;
        std::vector<std::string> env_strings;
        for (const auto& [key, value] : merged) env_strings.push_back(key + "=" + value);

        std::vector<std::string> argv_strings{program};
        argv_strings.insert(argv_strings.end(), args.begin(), args.end());
        std::vector<char*> argv;
        for (auto& s : argv_strings) argv.push_back(s.data());
        argv.push_back(nullptr);
        std::vector<char*> envp;
        for (auto& s : env_strings) envp.push_back(s.data());
        envp.push_back(nullptr);

        int fds[2] = {-1, -1};
        posix_spawn_file_actions_t actions;
        posix_spawn_file_actions_init(&actions);
        if (capture_output) {
            if (::pipe(fds) != 0) std::abort();
            posix_spawn_file_actions_adddup2(&actions, fds[1], STDOUT_FILENO);
            posix_spawn_file_actions_addclose(&actions, fds[0]);
            posix_spawn_file_actions_addclose(&actions, fds[1]);
        }
        // The child starts with no signals blocked, whatever the test runner does.
        posix_spawnattr_t attributes;
        posix_spawnattr_init(&attributes);
        sigset_t none;
        sigemptyset(&none);
        posix_spawnattr_setsigmask(&attributes, &none);
        posix_spawnattr_setflags(&attributes, POSIX_SPAWN_SETSIGMASK);
        if (::posix_spawn(&pid_, program.c_str(), &actions, &attributes, argv.data(),
                          envp.data()) != 0) {
            pid_ = -1;
        }
        posix_spawn_file_actions_destroy(&actions);
        posix_spawnattr_destroy(&attributes);
        if (capture_output) {
            ::close(fds[1]);
            output_fd_ = fds[0];
        }
    }

    ~ChildProcess() {
        if (pid_ > 0 && !exited_) {
            ::kill(pid_, SIGKILL);
            (void)Wait();
        }
        if (output_fd_ >= 0) ::close(output_fd_);
    }
    ChildProcess(const ChildProcess&) = delete;
    ChildProcess& operator=(const ChildProcess&) = delete;

    bool started() const { return pid_ > 0; }
    void Signal(int signal_number) {
        if (pid_ > 0 && !exited_) ::kill(pid_, signal_number);
    }

    // Reads standard output to its end, then reaps the child. Returns the
    // exit status, or 128 + the signal that ended it.
    int Wait() {
        char buffer[4096];
        while (output_fd_ >= 0) {
            const ssize_t n = ::read(output_fd_, buffer, sizeof buffer);
            if (n > 0) {
                output_.append(buffer, static_cast<std::size_t>(n));
                continue;
            }
            if (n < 0 && errno == EINTR) continue;
            break;
        }
        if (pid_ <= 0) return -1;
        int status = 0;
        while (::waitpid(pid_, &status, 0) < 0 && errno == EINTR) {
        }
        exited_ = true;
        return WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
    }

    const std::string& output() const { return output_; }

private:
    pid_t pid_ = -1;
    int output_fd_ = -1;
    bool exited_ = false;
    std::string output_;
};

// Waits up to `timeout` for `path` to exist.
inline bool WaitForPath(const std::string& path, std::chrono::milliseconds timeout) {
    const auto deadline = std::chrono::steady_clock::now() + timeout;
    while (std::chrono::steady_clock::now() < deadline) {
        if (::access(path.c_str(), F_OK) == 0) return true;
        std::this_thread::sleep_for(std::chrono::milliseconds(20));
    }
    return false;
}

}  // namespace kestrun::testing
