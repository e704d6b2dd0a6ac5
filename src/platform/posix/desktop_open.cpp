#include "platform/posix/desktop_open.h"

#include <spawn.h>
#include <sys/wait.h>

#include <cerrno>
#include <cstdlib>
#include <string>

#include "platform/posix/posix_error.h"

extern char** environ;

namespace kestrun {

bool HasDesktop() {
    for (const char* name : {"DISPLAY", "WAYLAND_DISPLAY"}) {
        const char* value = std::getenv(name);
        if (value != nullptr && value[0] != '\0') return true;
    }
    return false;
}

Status OpenWithDesktop(const std::filesystem::path& path) {
    std::string program = "xdg-open";
    std::string file = path.string();
    char* argv[] = {program.data(), file.data(), nullptr};
    pid_t pid = 0;
    const int error = ::posix_spawnp(&pid, "xdg-open", nullptr, nullptr, argv, environ);
    if (error != 0) return PosixError("cannot run xdg-open", error);
    int status = 0;
    while (::waitpid(pid, &status, 0) < 0) {
        if (errno != EINTR) return PosixError("cannot wait for xdg-open", errno);
    }
    if (!WIFEXITED(status) || WEXITSTATUS(status) != 0) {
        return Status::Error("xdg-open could not open " + file);
    }
    return Status::Ok();
}

}  // namespace kestrun
