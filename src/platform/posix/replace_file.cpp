#include "platform/posix/replace_file.h"

#include <fcntl.h>
#include <fmt/core.h>
#include <limits.h>
#include <signal.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <charconv>
#include <optional>
#include <string>
#include <system_error>

#include "platform/posix/posix_error.h"
#include "platform/posix/unique_fd.h"

namespace kestrun {
namespace {

constexpr int kNameAttempts = 100;
// As many links as the kernel itself follows in one path.
constexpr int kMaxLinkHops = 40;
constexpr std::string_view kTemporarySuffix = ".new";

Status Refuse(const std::filesystem::path& path, std::string_view why) {
    return Status::Error("cannot replace " + path.string() + ": " + std::string(why));
}

Status Failed(std::string_view what, const std::filesystem::path& path, int error) {
    return PosixError(std::string(what) + " " + path.string(), error);
}

std::filesystem::path FolderOf(const std::filesystem::path& path) {
    return path.has_parent_path() ? path.parent_path() : std::filesystem::path(".");
}

// Where a replace of `path` writes: `path` itself, or the end of the chain of
// symbolic links that starts there. `info` holds the end's lstat and `exists`
// whether there is anything at all; `followed` whether a link was followed.
struct Target {
    std::filesystem::path path;
    bool followed = false;
    bool exists = false;
    struct stat info {};
};

Status FindTarget(const std::filesystem::path& path, Target& target) {
    target.path = path;
    for (int hops = 0;; ++hops) {
        if (::lstat(target.path.c_str(), &target.info) != 0) {
            if (errno != ENOENT) return Failed("cannot look at", target.path, errno);
            target.exists = false;
            return Status::Ok();
        }
        target.exists = true;
        if (!S_ISLNK(target.info.st_mode)) return Status::Ok();
        if (hops == kMaxLinkHops) return Failed("cannot follow", path, ELOOP);
        char buffer[PATH_MAX];
        const ssize_t n = ::readlink(target.path.c_str(), buffer, sizeof buffer);
        if (n < 0) return Failed("cannot follow", target.path, errno);
        if (static_cast<std::size_t>(n) == sizeof buffer) {
            return Failed("cannot follow", target.path, ENAMETOOLONG);
        }
        // A relative link is read from the folder that holds it.
        const std::filesystem::path next(std::string(buffer, static_cast<std::size_t>(n)));
        target.path = next.is_absolute() ? next : target.path.parent_path() / next;
        target.followed = true;
    }
}

// Whether the target may be replaced; `mode` gets its permission bits when
// there is a file to replace.
Status CheckReplaceable(const std::filesystem::path& path, const Target& target,
                        std::optional<mode_t>& mode) {
    const auto refuse = [&](std::string_view why) {
        return Refuse(path, target.followed ? fmt::format("it is a symbolic link to {}, which {}",
                                                          target.path.string(), why)
                                            : fmt::format("it {}", why));
    };
    if (!target.exists) {
        if (!target.followed) return Status::Ok();
        // A dangling link creates its target, but never in a folder where
        // someone else could have aimed it.
        const std::filesystem::path folder = FolderOf(target.path);
        struct stat info {};
        if (::stat(folder.c_str(), &info) != 0) return Failed("cannot look at", folder, errno);
        if (info.st_uid != ::geteuid()) return refuse("is missing, in a folder of another user");
        return Status::Ok();
    }
    if (!S_ISREG(target.info.st_mode)) return refuse("is not a regular file");
    if (target.info.st_uid != ::geteuid()) return refuse("belongs to another user");
    mode = target.info.st_mode & 07777;
    return Status::Ok();
}

// A new file beside `path`, created exclusively and without following links,
// so that nothing planted under the temporary name is written through.
UniqueFd CreateTemporary(const std::filesystem::path& path, std::filesystem::path& temporary) {
    static unsigned counter = 0;
    for (int attempt = 0; attempt < kNameAttempts; ++attempt) {
        temporary = path;
        temporary += fmt::format(".{}-{}{}", ::getpid(), ++counter, kTemporarySuffix);
        const int fd =
            ::open(temporary.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, 0666);
        if (fd >= 0) return UniqueFd(fd);
        if (errno != EEXIST && errno != EINTR) break;
    }
    return UniqueFd();
}

// The process id in a temporary's name, "<file name>.<pid>-<n>.new"; nullopt
// for any other name.
std::optional<pid_t> TemporaryOwner(std::string_view name, std::string_view file_name) {
    if (name.size() <= file_name.size() + 1 || !name.starts_with(file_name) ||
        name[file_name.size()] != '.' || !name.ends_with(kTemporarySuffix)) {
        return std::nullopt;
    }
    name = name.substr(file_name.size() + 1,
                       name.size() - file_name.size() - 1 - kTemporarySuffix.size());
    pid_t pid = 0;
    const auto [after_pid, pid_error] =
        std::from_chars(name.data(), name.data() + name.size(), pid);
    if (pid_error != std::errc() || pid <= 0 || after_pid == name.data() + name.size() ||
        *after_pid != '-') {
        return std::nullopt;
    }
    const char* const end = name.data() + name.size();
    unsigned counter = 0;
    const auto [after_counter, counter_error] = std::from_chars(after_pid + 1, end, counter);
    if (counter_error != std::errc() || after_counter != end || after_pid + 1 == end) {
        return std::nullopt;
    }
    return pid;
}

// This process's own replaces remove their temporaries before they return,
// so a temporary named with its id is an earlier process's under the same id.
bool ProcessRuns(pid_t pid) {
    if (pid == ::getpid()) return false;
    return ::kill(pid, 0) == 0 || errno == EPERM;
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
    Target target;
    if (Status found = FindTarget(path, target); !found.ok()) return found;
    std::optional<mode_t> mode;
    if (Status checked = CheckReplaceable(path, target, mode); !checked.ok()) return checked;

    std::filesystem::path temporary;
    UniqueFd fd = CreateTemporary(target.path, temporary);
    if (!fd.valid()) return Failed("cannot create a file beside", target.path, errno);
    const auto fail = [&](std::string_view what, int error) {
        ::unlink(temporary.c_str());
        return Failed(what, target.path, error);
    };
    if (mode && ::fchmod(fd.get(), *mode) != 0) return fail("cannot set the permissions of", errno);
    if (const int error = WriteAll(fd.get(), contents); error != 0)
        return fail("cannot write", error);
    if (::fsync(fd.get()) != 0) return fail("cannot sync", errno);
    if (::close(fd.Release()) != 0 && errno != EINTR) return fail("cannot close", errno);
    // rename never follows a link at the target's name: whatever was put
    // there since the check is replaced, nothing it points to is written.
    if (::rename(temporary.c_str(), target.path.c_str()) != 0) return fail("cannot replace", errno);
    if (const int error = SyncFolder(FolderOf(target.path)); error != 0)
        return Failed("cannot sync the folder of", target.path, error);
    return Status::Ok();
}

Status RemoveReplaceLeftoversOf(const std::filesystem::path& path) {
    Target target;
    if (Status found = FindTarget(path, target); !found.ok()) return found;
    const std::filesystem::path folder = FolderOf(target.path);
    const std::string file_name = target.path.filename().string();
    std::error_code error;
    std::filesystem::directory_iterator entries(folder, error);
    if (error == std::errc::no_such_file_or_directory) return Status::Ok();
    Status result = Status::Ok();
    for (; !error && entries != std::filesystem::directory_iterator(); entries.increment(error)) {
        const std::filesystem::path& leftover = entries->path();
        const std::optional<pid_t> owner = TemporaryOwner(leftover.filename().native(), file_name);
        if (!owner || ProcessRuns(*owner)) continue;
        struct stat info {};
        if (::lstat(leftover.c_str(), &info) != 0 || !S_ISREG(info.st_mode) ||
            info.st_uid != ::geteuid()) {
            continue;
        }
        if (::unlink(leftover.c_str()) != 0 && errno != ENOENT && result.ok()) {
            result = Failed("cannot remove", leftover, errno);
        }
    }
    if (error) return Failed("cannot list the folder of", target.path, error.value());
    return result;
}

}  // namespace kestrun
