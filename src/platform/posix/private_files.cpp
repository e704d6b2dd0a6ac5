#include "platform/posix/private_files.h"

#include <fcntl.h>
#include <fmt/core.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>

#include "platform/posix/posix_error.h"
#include "platform/posix/unique_fd.h"

namespace kestrun {

Status CreatePrivateDirectories(const std::filesystem::path& path) {
    // The folder of a bare file name is the current one, which exists.
    if (path.empty()) return Status::Ok();
    std::filesystem::path made;
    for (const std::filesystem::path& part : path) {
        made /= part;
        if (::mkdir(made.c_str(), 0700) == 0) {
            // The umask may have taken bits away; the mode says exactly 0700.
            if (::chmod(made.c_str(), 0700) != 0) {
                return PosixError(fmt::format("cannot set the mode of {}", made.string()), errno);
            }
        } else if (errno != EEXIST) {
            return PosixError(fmt::format("cannot create the folder {}", made.string()), errno);
        }
    }
    struct stat info {};
    if (::stat(path.c_str(), &info) != 0) {
        return PosixError(fmt::format("cannot create the folder {}", path.string()), errno);
    }
    if (!S_ISDIR(info.st_mode)) {
        return PosixError(fmt::format("cannot create the folder {}", path.string()), ENOTDIR);
    }
    return Status::Ok();
}

Status CreatePrivateFile(const std::filesystem::path& path) {
    const UniqueFd fd(::open(path.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0600));
    if (!fd.valid()) {
        if (errno == EEXIST) return Status::Ok();
        return PosixError(fmt::format("cannot create {}", path.string()), errno);
    }
    if (::fchmod(fd.get(), 0600) != 0) {
        return PosixError(fmt::format("cannot set the mode of {}", path.string()), errno);
    }
    return Status::Ok();
}

}  // namespace kestrun
