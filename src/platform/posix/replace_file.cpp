#include "platform/posix/replace_file.h"

#include <fcntl.h>
#include <fmt/core.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <optional>
#include <string>

#include "platform/posix/posix_error.h"
#include "platform/posix/unique_fd.h"

namespace kestrun {
namespace {

constexpr int kNameAttempts = 100;

Status Refuse(const std::filesystem::path& path, std::string_view why) {
    return Status::Error("cannot replace " + path.string() + ": " + std::string(why));
}

Status Failed(std::string_view what, const std::filesystem::path& path, int error) {
    return PosixError(std::string(what) + " " + path.string(), error);
}

// Whether `path` may be replaced; `mode` gets its permission bits when there
// is a file to replace.
Status CheckReplaceable(const std::filesystem::path& path, std::optional<mode_t>& mode) {
    struct stat old {};
    if (::lstat(path.c_str(), &old) != 0) {
        return errno == ENOENT ? Status::Ok() : Failed("cannot look at", path, errno);
    }
    if (S_ISLNK(old.st_mode)) return Refuse(path, "it is a symbolic link");
    if (!S_ISREG(old.st_mode)) return Refuse(path, "it is not a regular file");
    if (old.st_uid != ::geteuid()) return Refuse(path, "it belongs to another user");
    mode = old.st_mode & 07777;
    return Status::Ok();
}

// A new file beside `path`, created exclusively and without following links,
// so that nothing planted under the temporary name is written through.
UniqueFd CreateTemporary(const std::filesystem::path& path, std::filesystem::path& temporary) {
    static unsigned counter = 0;
    for (int attempt = 0; attempt < kNameAttempts; ++attempt) {
        temporary = path;
        temporary += fmt::format(".{}-{}.new", ::getpid(), ++counter);
        const int fd =
            ::open(temporary.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, 0666);
        if (fd >= 0) return UniqueFd(fd);
        if (errno != EEXIST && errno != EINTR) break;
    }
    return UniqueFd();
}

int WriteAll(int fd, std::string_view contents) {
    while (!contents.empty()) {
        const ssize_t n = ::write(fd, contents.data(), contents.size());
        if (n < 0) {
            if (errno == EINTR) continue;
            return errno;
        }
        contents.remove_prefix(static_cast<std::size_t>(n));
    }
    return 0;
}

// Makes the rename itself durable. Folders on some file systems cannot be
// synced (EINVAL); the rename has happened then all the same.
int SyncFolder(const std::filesystem::path& folder) {
    const UniqueFd fd(::open(folder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC));
    if (!fd.valid()) return errno;
    if (::fsync(fd.get()) != 0 && errno != EINVAL) return errno;
    return 0;
}

}  // namespace

Status ReplaceFile(const std::filesystem::path& path, std::string_view contents) {
    std::optional<mode_t> mode;
    if (Status checked = CheckReplaceable(path, mode); !checked.ok()) return checked;

    std::filesystem::path temporary;
    UniqueFd fd = CreateTemporary(path, temporary);
    if (!fd.valid()) return Failed("cannot create a file beside", path, errno);
    const auto fail = [&](std::string_view what, int error) {
        ::unlink(temporary.c_str());
        return Failed(what, path, error);
    };
    if (mode && ::fchmod(fd.get(), *mode) != 0) return fail("cannot set the permissions of", errno);
    if (const int error = WriteAll(fd.get(), contents); error != 0)
        return fail("cannot write", error);
    if (::fsync(fd.get()) != 0) return fail("cannot sync", errno);
    if (::close(fd.Release()) != 0 && errno != EINTR) return fail("cannot close", errno);
    if (::rename(temporary.c_str(), path.c_str()) != 0) return fail("cannot replace", errno);
    const std::filesystem::path folder = path.has_parent_path() ? path.parent_path() : ".";
    if (const int error = SyncFolder(folder); error != 0)
        return Failed("cannot sync the folder of", path, error);
    return Status::Ok();
}

}  // namespace kestrun
