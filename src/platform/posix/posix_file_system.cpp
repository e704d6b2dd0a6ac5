#include "platform/posix/posix_file_system.h"

#include <fcntl.h>
#include <fmt/core.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <limits>
#include <system_error>

#include "platform/posix/file_facts.h"
#include "platform/posix/posix_error.h"
#include "platform/posix/private_files.h"
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

    Status Facts(FileFacts& facts) override {
        struct stat info {};
        if (fd_ < 0 || ::fstat(fd_, &info) != 0) {
            return FileError("cannot examine", fd_ < 0 ? EBADF : errno, path_);
        }
        facts = FactsOf(info);
        return Status::Ok();
    }

    int fd() const { return fd_; }

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

// Takes the lock of a freshly opened output file; `name` is the path the
// user knows it by.
Status LockOutputFile(PosixFileSystem::LockCall lock, PosixOutputFile& file,
                      const std::filesystem::path& name) {
    switch (const int error = lock(file.fd())) {
        case 0:
            file.set_locked(true);
            return Status::Ok();
        case EAGAIN:
        case EACCES:
            return Status::Error(fmt::format("another recorder is writing {}", name.string()));
        // No such locks on this file system (some network and FUSE ones):
        // recording goes on there as it always did, only unguarded.
        case ENOLCK:
        case EINVAL:
        case ENOTSUP:
            return Status::Ok();
        default:
            return FileError("cannot lock", error, name);
    }
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
    // A recorder that starts afresh moves the old file aside and lets go of
    // its lock only once a new locked file holds the path. An open that
    // raced with that would lock the file that was moved aside: so the lock
    // only counts while the path still names the locked file, and otherwise
    // the path is opened again (and then meets the new file's lock).
    constexpr int kAttempts = 3;
    for (int attempt = 1;; ++attempt) {
        // Never O_TRUNC: the file is emptied only once the lock is ours, so a
        // second recorder cannot wipe a file another one is still writing.
        const int fd = OpenRetrying(path, O_WRONLY | O_CREAT, 0666);
        if (fd < 0) return FileError("cannot open", errno, path);
        auto opened = std::make_unique<PosixOutputFile>(fd, path);
        if (Status locked = LockOutputFile(lock_, *opened, path); !locked.ok()) return locked;
        struct stat held {
        }, named{};
        if (::fstat(fd, &held) != 0) return FileError("cannot examine", errno, path);
        const bool same = ::stat(path.c_str(), &named) == 0 && named.st_dev == held.st_dev &&
                          named.st_ino == held.st_ino;
        if (!same) {
            if (attempt < kAttempts) continue;
            return Status::Error(fmt::format("another recorder is writing {}", path.string()));
        }
        if (truncate) {
            if (Status emptied = opened->Truncate(0); !emptied.ok()) return emptied;
        }
        file = std::move(opened);
        return Status::Ok();
    }
}

Status PosixFileSystem::ReplaceWithOutputFile(const std::filesystem::path& path,
                                              std::unique_ptr<OutputFile>& file) {
    file.reset();
    // The new file keeps the permissions of the one it replaces.
    struct stat old {};
    const bool replacing = ::stat(path.c_str(), &old) == 0 && S_ISREG(old.st_mode);
    static unsigned counter = 0;
    std::filesystem::path temporary;
    int fd = -1;
    constexpr int kNameAttempts = 100;
    for (int attempt = 0; attempt < kNameAttempts && fd < 0; ++attempt) {
        temporary = path;
        temporary += fmt::format(".{}-{}.part", ::getpid(), ++counter);
        fd = OpenRetrying(temporary, O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW, 0666);
        if (fd < 0 && errno != EEXIST) break;
    }
    if (fd < 0) return FileError("cannot create a new file beside", errno, path);
    auto created = std::make_unique<PosixOutputFile>(fd, path);
    Status done = LockOutputFile(lock_, *created, path);
    if (done.ok() && replacing && ::fchmod(fd, old.st_mode & 07777) != 0) {
        done = FileError("cannot create a new file beside", errno, path);
    }
    if (done.ok() && ::rename(temporary.c_str(), path.c_str()) != 0) {
        done = FileError("cannot put a new file in place of", errno, path);
    }
    if (!done.ok()) {
        ::unlink(temporary.c_str());
        return done;
    }
    file = std::move(created);
    return Status::Ok();
}

Status PosixFileSystem::KeepAs(const std::filesystem::path& path, const std::filesystem::path& kept,
                               Kept& result) {
    const std::string what = fmt::format("cannot keep {} as", path.string());
    if (::link(path.c_str(), kept.c_str()) == 0) {
        result = Kept::kLinked;
        return Status::Ok();
    }
    int error = errno;
    // FAT and some FUSE file systems have no hard links; a rename that
    // refuses to replace anything keeps the file all the same.
    if (error == EPERM || error == ENOTSUP || error == EOPNOTSUPP) {
        if (::renameat2(AT_FDCWD, path.c_str(), AT_FDCWD, kept.c_str(), RENAME_NOREPLACE) == 0) {
            result = Kept::kMoved;
            return Status::Ok();
        }
        error = errno;
    }
    if (error == EEXIST) {
        result = Kept::kTaken;
        return Status::Ok();
    }
    return FileError(what, error, kept);
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

std::filesystem::path PosixFileSystem::AbsolutePath(const std::filesystem::path& path) {
    std::error_code error;
    std::filesystem::path absolute = std::filesystem::absolute(path, error);
    return error ? path : absolute;
}

Status PosixFileSystem::CreateDirectories(const std::filesystem::path& path) {
    std::error_code error;
    std::filesystem::create_directories(path, error);
    if (error) return FileError("cannot create the folder", error.value(), path);
    return Status::Ok();
}

Status PosixFileSystem::CreatePrivateDirectories(const std::filesystem::path& path) {
    return ::kestrun::CreatePrivateDirectories(path);
}

}  // namespace kestrun
