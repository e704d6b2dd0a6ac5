#include "platform/posix/posix_file_system.h"

#include <dirent.h>
#include <fcntl.h>
#include <fmt/core.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <limits>
#include <system_error>

#include "platform/posix/posix_error.h"
#include "platform/posix/replace_file.h"

namespace kestrun {
namespace {

// "<what> <path>: <system text>", e.g. "cannot open /data/x.dat: Permission denied".
Status FileError(std::string_view what, int error, const std::filesystem::path& path) {
    std::string context(what);
    context.append(" ").append(path.string());
    return PosixError(context, error);
}

bool FitsOffset(std::uint64_t value) {
    return value <= static_cast<std::uint64_t>(std::numeric_limits<off_t>::max());
}

// Writes all of `data` at `offset`, resuming after short writes and signals.
// Returns 0 or the errno of the failing call.
int WriteFully(int fd, std::uint64_t offset, std::span<const std::byte> data) {
    while (!data.empty()) {
        const ssize_t n = ::pwrite(fd, data.data(), data.size(), static_cast<off_t>(offset));
        if (n < 0) {
            if (errno == EINTR) continue;
            return errno;
        }
        // pwrite only returns 0 for a zero-length request, which the loop
        // condition excludes; guard anyway so a broken device cannot spin us.
        if (n == 0) return EIO;
        offset += static_cast<std::uint64_t>(n);
        data = data.subspan(static_cast<std::size_t>(n));
    }
    return 0;
}

class PosixOutputFile final : public OutputFile {
  public:
    PosixOutputFile(int fd, std::filesystem::path path) : fd_(fd), path_(std::move(path)) {}
    ~PosixOutputFile() override {
        if (fd_ >= 0) ::close(fd_);
    }
    PosixOutputFile(const PosixOutputFile&) = delete;
    PosixOutputFile& operator=(const PosixOutputFile&) = delete;

    Status WriteAt(std::uint64_t offset, std::span<const std::byte> data) override {
        if (fd_ < 0) return FileError("cannot write", EBADF, path_);
        if (!FitsOffset(offset) || !FitsOffset(offset + data.size())) {
            return FileError("cannot write", EFBIG, path_);
        }
        if (const int error = WriteFully(fd_, offset, data); error != 0) {
            return FileError("cannot write", error, path_);
        }
        return Status::Ok();
    }

    Status Length(std::uint64_t& length) override {
        struct stat info {};
        if (fd_ < 0 || ::fstat(fd_, &info) != 0) {
            return FileError("cannot read the length", fd_ < 0 ? EBADF : errno, path_);
        }
        length = static_cast<std::uint64_t>(info.st_size);
        return Status::Ok();
    }

    Status Truncate(std::uint64_t length) override {
        if (fd_ < 0) return FileError("cannot truncate", EBADF, path_);
        if (!FitsOffset(length)) return FileError("cannot truncate", EFBIG, path_);
        while (::ftruncate(fd_, static_cast<off_t>(length)) != 0) {
            if (errno != EINTR) return FileError("cannot truncate", errno, path_);
        }
        return Status::Ok();
    }

    Status Sync() override {
        if (fd_ < 0) return FileError("cannot sync", EBADF, path_);
        while (::fdatasync(fd_) != 0) {
            if (errno != EINTR) return FileError("cannot sync", errno, path_);
        }
        return Status::Ok();
    }

    Status Close() override {
        if (fd_ < 0) return FileError("cannot close", EBADF, path_);
        const int fd = fd_;
        fd_ = -1;
        // Never retry close on EINTR: the descriptor is gone either way.
        if (::close(fd) != 0 && errno != EINTR) return FileError("cannot close", errno, path_);
        return Status::Ok();
    }

    bool locked() const override { return locked_; }
    void set_locked(bool locked) { locked_ = locked; }

  private:
    int fd_;
    std::filesystem::path path_;
    bool locked_ = false;
};

int OpenRetrying(const std::filesystem::path& path, int flags, mode_t mode) {
    // O_NONBLOCK only matters for a FIFO named by mistake: the open then fails
    // at once instead of hanging the recorder until a reader turns up.
    int fd;
    do {
        fd = ::open(path.c_str(), flags | O_CLOEXEC | O_NONBLOCK, mode);
    } while (fd < 0 && errno == EINTR);
    return fd;
}

}  // namespace

// An open-file-description lock on the whole file: it belongs to this open,
// not to the process, so it also keeps out a second recorder in the same
// process, and it goes away with the descriptor however we end.
int PosixFileSystem::LockOpenFile(int fd) {
    struct flock lock {};
    lock.l_type = F_WRLCK;
    lock.l_whence = SEEK_SET;
    while (::fcntl(fd, F_OFD_SETLK, &lock) != 0) {
        if (errno != EINTR) return errno;
    }
    return 0;
}

Status PosixFileSystem::OpenOutputFile(const std::filesystem::path& path, bool truncate,
                                       std::unique_ptr<OutputFile>& file) {
    file.reset();
    // Never O_TRUNC: the file is emptied only once the lock is ours, so a
    // second recorder cannot wipe a file another one is still writing.
    const int fd = OpenRetrying(path, O_WRONLY | O_CREAT, 0666);
    if (fd < 0) return FileError("cannot open", errno, path);
    auto opened = std::make_unique<PosixOutputFile>(fd, path);
    switch (const int error = lock_(fd)) {
        case 0:
            opened->set_locked(true);
            break;
        case EAGAIN:
        case EACCES:
            return Status::Error(fmt::format("another recorder is writing {}", path.string()));
        // No such locks on this file system (some network and FUSE ones):
        // recording goes on there as it always did, only unguarded.
        case ENOLCK:
        case EINVAL:
        case ENOTSUP:
            break;
        default:
            return FileError("cannot lock", error, path);
    }
    if (truncate) {
        if (Status emptied = opened->Truncate(0); !emptied.ok()) return emptied;
    }
    file = std::move(opened);
    return Status::Ok();
}

Status PosixFileSystem::ReadTextFile(const std::filesystem::path& path, std::string& contents,
                                     bool& found) {
    contents.clear();
    found = false;
    const int fd = OpenRetrying(path, O_RDONLY, 0);
    if (fd < 0) {
        if (errno == ENOENT) return Status::Ok();
        return FileError("cannot open", errno, path);
    }
    found = true;
    int error = 0;
    char buffer[4096];
    for (;;) {
        const ssize_t n = ::read(fd, buffer, sizeof buffer);
        if (n < 0) {
            if (errno == EINTR) continue;
            error = errno;
            break;
        }
        if (n == 0) break;
        if (contents.size() + static_cast<std::size_t>(n) > kMaxTextFileSize) {
            error = EFBIG;
            break;
        }
        contents.append(buffer, static_cast<std::size_t>(n));
    }
    ::close(fd);
    if (error != 0) {
        contents.clear();
        return FileError("cannot read", error, path);
    }
    return Status::Ok();
}

Status PosixFileSystem::WriteTextFile(const std::filesystem::path& path,
                                      std::string_view contents) {
    return ReplaceFile(path, contents);
}

Status PosixFileSystem::RemoveReplaceLeftovers(const std::filesystem::path& path) {
    return RemoveReplaceLeftoversOf(path);
}

Status PosixFileSystem::CreateDirectories(const std::filesystem::path& path) {
    std::error_code error;
    std::filesystem::create_directories(path, error);
    if (error) return FileError("cannot create the folder", error.value(), path);
    return Status::Ok();
}

Status PosixFileSystem::CreatePrivateDirectories(const std::filesystem::path& path) {
    // Parents first, each made 0700 as it is created; mkdir's mode is cut by
    // the umask, which can only take permissions away from 0700.
    std::filesystem::path at;
    for (const auto& part : path) {
        at /= part;
        if (::mkdir(at.c_str(), 0700) == 0 || errno == EEXIST) continue;
        return FileError("cannot create the folder", errno, at);
    }
    struct stat info {};
    if (::stat(path.c_str(), &info) != 0) return FileError("cannot create the folder", errno, path);
    if (!S_ISDIR(info.st_mode)) return FileError("cannot create the folder", ENOTDIR, path);
    return Status::Ok();
}

Status PosixFileSystem::ListFolder(const std::filesystem::path& path,
                                   std::vector<std::string>& names) {
    names.clear();
    DIR* folder = ::opendir(path.c_str());
    if (folder == nullptr) return FileError("cannot read the folder", errno, path);
    errno = 0;
    while (const dirent* entry = ::readdir(folder)) {
        const std::string_view name = entry->d_name;
        if (name != "." && name != "..") names.emplace_back(name);
    }
    const int error = errno;
    ::closedir(folder);
    if (error != 0) return FileError("cannot read the folder", error, path);
    return Status::Ok();
}

Status PosixFileSystem::RemoveFile(const std::filesystem::path& path) {
    if (::unlink(path.c_str()) != 0 && errno != ENOENT)
        return FileError("cannot remove", errno, path);
    return Status::Ok();
}

}  // namespace kestrun
