#include "platform/posix/runtime_directory.h"

#include <fmt/core.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>

#include "platform/posix/posix_error.h"

namespace kestrun {
namespace {

// How to get past a runtime directory someone else has taken (in a shared
// /tmp, anyone may make /tmp/kestrun-<uid> first).
std::string WayAround(const std::string& path) {
    return fmt::format(
        "; set XDG_RUNTIME_DIR to a private folder of your own (a desktop login sets it to "
        "/run/user/{}), or have {} removed",
        ::geteuid(), path);
}

}  // namespace

std::string RuntimeDirectoryPath() {
    const char* xdg = std::getenv("XDG_RUNTIME_DIR");
    if (xdg != nullptr && *xdg != '\0') return fmt::format("{}/kestrun", xdg);
    return fmt::format("/tmp/kestrun-{}", ::geteuid());
}

Status PreparePrivateDirectory(const std::string& path) {
    if (::mkdir(path.c_str(), 0700) == 0) {
        // A restrictive umask could have taken the owner's own bits away.
        if (::chmod(path.c_str(), 0700) != 0) {
            return PosixError(fmt::format("Cannot set the mode of {}", path), errno);
        }
    } else if (errno != EEXIST) {
        return PosixError(fmt::format("Cannot create the runtime directory {}", path), errno);
    }

    // lstat, so that a symbolic link planted in a shared /tmp is refused
    // rather than followed.
    struct stat info {};
    if (::lstat(path.c_str(), &info) != 0) {
        return PosixError(fmt::format("Cannot inspect the runtime directory {}", path), errno);
    }
    if (S_ISLNK(info.st_mode)) {
        return Status::Error(
            fmt::format("The runtime directory {} is a symbolic link; refusing to use it{}", path,
                        WayAround(path)));
    }
    if (!S_ISDIR(info.st_mode)) {
        return Status::Error(fmt::format("The runtime directory {} is not a directory{}", path,
                                         WayAround(path)));
    }
    if (info.st_uid != ::geteuid()) {
        return Status::Error(
            fmt::format("The runtime directory {} belongs to user {}, not to you (user {}); "
                        "refusing to use it{}",
                        path, info.st_uid, ::geteuid(), WayAround(path)));
    }
    if ((info.st_mode & 077) != 0) {
        return Status::Error(
            fmt::format("The runtime directory {} is open to group or others (mode {:04o}); it "
                        "must be 0700",
                        path, info.st_mode & 07777));
    }
    return Status::Ok();
}

Status PrepareRuntimeDirectory(std::string& path) {
    std::string runtime = RuntimeDirectoryPath();
    if (Status status = PreparePrivateDirectory(runtime); !status.ok()) return status;
    if (Status status = PreparePrivateDirectory(AtomDirectoryPath(runtime)); !status.ok()) {
        return status;
    }
    path = std::move(runtime);
    return Status::Ok();
}

std::string AtomDirectoryPath(const std::string& runtime_directory) {
    return runtime_directory + "/atoms";
}

}  // namespace kestrun
