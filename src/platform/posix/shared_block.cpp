#include "platform/posix/shared_block.h"

#include <dirent.h>
#include <fcntl.h>
#include <limits.h>
#include <signal.h>
#include <sys/mman.h>
#include <sys/stat.h>
#include <sys/syscall.h>
#include <unistd.h>

#include <cerrno>
#include <charconv>
#include <mutex>
#include <set>
#include <utility>

#include "platform/posix/unique_fd.h"

namespace kestrun {
namespace {

// Where Linux keeps POSIX shared-memory objects; used only to learn who holds
// a name, never to open one.
constexpr std::string_view kSharedMemoryDirectory = "/dev/shm";

// Names of the blocks this process has made and not yet removed: a name that
// carries the id of this process, or of one of its threads (a relay names its
// links after the threads that serve them), is a leftover of an earlier
// process or thread with the same id only when this process does not hold it
// itself.
std::mutex held_mutex;
std::set<std::string, std::less<>>& HeldNames() {
    static std::set<std::string, std::less<>> names;
    return names;
}

bool HeldHere(std::string_view name) {
    const std::lock_guard lock(held_mutex);
    return HeldNames().contains(name);
}

// True when `id` is this process's or one of its living threads'.
bool OwnId(pid_t id) {
    return id == ::getpid() || ::syscall(SYS_tgkill, ::getpid(), id, 0) == 0;
}

}  // namespace

SysResult<std::string> SharedBlockObjectName(std::string_view name) {
    using Result = SysResult<std::string>;
    if (name.empty() || name.find('/') != std::string_view::npos) return Result::Failure(EINVAL);
    if (name.size() + 1 > NAME_MAX) return Result::Failure(ENAMETOOLONG);
    std::string object;
    object.reserve(name.size() + 1);
    object += '/';
    object += name;
    return Result::Success(std::move(object));
}

SysResult<int> CreateSharedBlock(std::string_view name, std::size_t size) {
    const auto object = SharedBlockObjectName(name);
    if (!object.ok()) return SysResult<int>::Failure(object.error);
    // Held from before the object exists, so that a sweep on another thread
    // never takes a block being made for a leftover.
    bool reserved = false;
    {
        const std::lock_guard lock(held_mutex);
        reserved = HeldNames().emplace(name).second;
    }
    const auto release = [&] {
        const std::lock_guard lock(held_mutex);
        if (reserved) HeldNames().erase(HeldNames().find(name));
    };
    UniqueFd fd(::shm_open(object.value.c_str(),
                           O_RDWR | O_CREAT | O_EXCL | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC, 0600));
    if (!fd.valid()) {
        const int error = errno;
        release();
        return SysResult<int>::Failure(error);
    }
    if (::ftruncate(fd.get(), static_cast<off_t>(size)) != 0) {
        const int error = errno;
        ::shm_unlink(object.value.c_str());
        release();
        return SysResult<int>::Failure(error);
    }
    return SysResult<int>::Success(fd.Release());
}

int RemoveSharedBlock(std::string_view name) {
    const auto object = SharedBlockObjectName(name);
    if (!object.ok()) return object.error;
    {
        const std::lock_guard lock(held_mutex);
        if (const auto it = HeldNames().find(name); it != HeldNames().end()) HeldNames().erase(it);
    }
    return ::shm_unlink(object.value.c_str()) == 0 ? 0 : errno;
}

std::optional<pid_t> BlockCreator(std::string_view name) {
    const auto last = name.rfind(':');
    if (last == std::string_view::npos || last == 0) return std::nullopt;
    const auto before = name.rfind(':', last - 1);
    if (before == std::string_view::npos) return std::nullopt;
    const std::string_view digits = name.substr(before + 1, last - before - 1);
    pid_t pid = 0;
    const auto [end, error] =
        std::from_chars(digits.data(), digits.data() + digits.size(), pid, 16);
    if (digits.empty() || error != std::errc() || end != digits.data() + digits.size() ||
        pid <= 0) {
        return std::nullopt;
    }
    return pid;
}

bool ProcessGone(pid_t pid) {
    // EPERM means a living process of another user.
    return pid > 0 && pid != ::getpid() && ::kill(pid, 0) != 0 && errno == ESRCH;
}

SysResult<BlockHolder> InspectSharedBlock(std::string_view name) {
    const auto object = SharedBlockObjectName(name);
    if (!object.ok()) return SysResult<BlockHolder>::Failure(object.error);
    const std::string path = std::string(kSharedMemoryDirectory) + object.value;
    struct stat info {};
    if (::lstat(path.c_str(), &info) != 0) return SysResult<BlockHolder>::Failure(errno);
    BlockHolder holder;
    holder.uid = info.st_uid;
    if (info.st_uid == ::geteuid() && !HeldHere(name)) {
        const auto creator = BlockCreator(name);
        holder.stale = creator && (OwnId(*creator) || ProcessGone(*creator));
    }
    return SysResult<BlockHolder>::Success(holder);
}

std::size_t RemoveStaleSharedBlocks(std::string_view prefix) {
    DIR* dir = ::opendir(std::string(kSharedMemoryDirectory).c_str());
    if (dir == nullptr) return 0;
    std::size_t removed = 0;
    while (const dirent* entry = ::readdir(dir)) {
        const std::string_view name = entry->d_name;
        if (!name.starts_with(prefix)) continue;
        const auto holder = InspectSharedBlock(name);
        if (!holder.ok() || holder.value.uid != ::geteuid() || !holder.value.stale) continue;
        // Built by append: g++ 12 at -O3 misreads "/" + string as an overlapping copy.
        std::string object = "/";
        object.append(name);
        if (::shm_unlink(object.c_str()) == 0) ++removed;
    }
    ::closedir(dir);
    return removed;
}

SysResult<int> OpenClientBlock(std::string_view name, uid_t owner) {
    const auto object = SharedBlockObjectName(name);
    if (!object.ok()) return SysResult<int>::Failure(object.error);
    UniqueFd fd(::shm_open(object.value.c_str(), O_RDWR | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC, 0));
    if (!fd.valid()) return SysResult<int>::Failure(errno);
    struct stat info {};
    if (::fstat(fd.get(), &info) != 0) return SysResult<int>::Failure(errno);
    if (!S_ISREG(info.st_mode) || info.st_uid != owner || (info.st_mode & 07777) != 0600) {
        return SysResult<int>::Failure(EPERM);
    }
    return SysResult<int>::Success(fd.Release());
}

int ReadBlock(int fd, std::span<std::byte> out) {
    std::size_t done = 0;
    while (done < out.size()) {
        const ssize_t n =
            ::pread(fd, out.data() + done, out.size() - done, static_cast<off_t>(done));
        if (n < 0 && errno == EINTR) continue;
        if (n < 0) return errno;
        if (n == 0) return EIO;
        done += static_cast<std::size_t>(n);
    }
    return 0;
}

int WriteBlock(int fd, std::span<const std::byte> in) {
    std::size_t done = 0;
    while (done < in.size()) {
        const ssize_t n =
            ::pwrite(fd, in.data() + done, in.size() - done, static_cast<off_t>(done));
        if (n < 0 && errno == EINTR) continue;
        if (n < 0) return errno;
        if (n == 0) return EIO;
        done += static_cast<std::size_t>(n);
    }
    return 0;
}

}  // namespace kestrun
