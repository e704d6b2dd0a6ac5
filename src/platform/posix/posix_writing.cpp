// PosixFileSystem's streams: files an export makes beside its target and
// renames into place, standard output, and anonymous scratch files.
#include <fcntl.h>
#include <fmt/core.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>

#include "platform/posix/posix_error.h"
#include "platform/posix/posix_file_system.h"
#include "platform/posix/unique_fd.h"

namespace kestrun {
namespace {

constexpr int kNameAttempts = 100;

// Writes all of `data` at the descriptor's position; 0 or the errno.
int WriteAll(int fd, std::span<const std::byte> data) {
    while (!data.empty()) {
        const ssize_t n = ::write(fd, data.data(), data.size());
        if (n < 0) {
            if (errno == EINTR) continue;
            return errno;
        }
        if (n == 0) return EIO;
        data = data.subspan(static_cast<std::size_t>(n));
    }
    return 0;
}

// A stream over a descriptor. Messages name `name`: the file the user asked
// for, also while the bytes go to a temporary beside it.
class PosixOutputStream final : public OutputStream {
  public:
    PosixOutputStream(UniqueFd fd, std::string name, bool owned)
        : fd_(std::move(fd)), name_(std::move(name)), owned_(owned), discards_(IsNullDevice(fd_)) {}
    ~PosixOutputStream() override {
        if (!owned_) static_cast<void>(fd_.Release());
    }
    PosixOutputStream(const PosixOutputStream&) = delete;
    PosixOutputStream& operator=(const PosixOutputStream&) = delete;

    Status Write(std::span<const std::byte> data) override {
        if (!fd_.valid()) return Failed(EBADF);
        if (const int error = WriteAll(fd_.get(), data); error != 0) return Failed(error);
        return Status::Ok();
    }

    bool Discards() const override { return discards_; }

    Status Close() override {
        if (!fd_.valid()) return Failed(EBADF);
        const int fd = fd_.Release();
        if (!owned_) return Status::Ok();
        // Never retry close on EINTR: the descriptor is gone either way.
        if (::close(fd) != 0 && errno != EINTR) return Failed(errno);
        return Status::Ok();
    }

  private:
    Status Failed(int error) const { return PosixError("cannot write " + name_, error); }

    // The same character device as /dev/null.
    static bool IsNullDevice(const UniqueFd& fd) {
        struct stat open {};
        struct stat null {};
        return fd.valid() && ::fstat(fd.get(), &open) == 0 && S_ISCHR(open.st_mode) &&
               ::stat("/dev/null", &null) == 0 && S_ISCHR(null.st_mode) &&
               open.st_rdev == null.st_rdev;
    }

    UniqueFd fd_;
    std::string name_;
    bool owned_;
    bool discards_;
};

class PosixScratchFile final : public ScratchFile {
  public:
    explicit PosixScratchFile(UniqueFd fd) : fd_(std::move(fd)) {}

    Status Write(std::span<const std::byte> data) override {
        if (const int error = WriteAll(fd_.get(), data); error != 0) return Failed("write", error);
        return Status::Ok();
    }
    Status Close() override { return Status::Ok(); }  // the descriptor goes with the object

    Status ReadAt(std::uint64_t offset, std::span<std::byte> into, std::size_t& got) override {
        got = 0;
        ssize_t n = 0;
        do {
            n = ::pread(fd_.get(), into.data(), into.size(), static_cast<off_t>(offset));
        } while (n < 0 && errno == EINTR);
        if (n < 0) return Failed("read", errno);
        got = static_cast<std::size_t>(n);
        return Status::Ok();
    }

    Status Clear() override {
        if (::ftruncate(fd_.get(), 0) != 0 || ::lseek(fd_.get(), 0, SEEK_SET) < 0) {
            return Failed("reuse", errno);
        }
        return Status::Ok();
    }

  private:
    static Status Failed(std::string_view what, int error) {
        return PosixError(fmt::format("cannot {} a temporary file", what), error);
    }

    UniqueFd fd_;
};

}  // namespace

Status PosixFileSystem::CreateBeside(const std::filesystem::path& target,
                                     std::unique_ptr<OutputStream>& file,
                                     std::filesystem::path& temporary) {
    file.reset();
    // A file that is replaced keeps its permissions; a new one gets what
    // O_CREAT gives (0644 less the umask).
    struct stat old {};
    const bool replacing = ::stat(target.c_str(), &old) == 0 && S_ISREG(old.st_mode);
    static unsigned counter = 0;
    UniqueFd fd;
    for (int attempt = 0; attempt < kNameAttempts && !fd.valid(); ++attempt) {
        temporary = target;
        temporary += fmt::format(".{}-{}.part", ::getpid(), ++counter);
        fd.Reset(::open(temporary.c_str(),
                        O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC, 0644));
        if (!fd.valid() && errno != EEXIST && errno != EINTR) break;
    }
    if (!fd.valid()) return PosixError("cannot create " + target.string(), errno);
    if (replacing && ::fchmod(fd.get(), old.st_mode & 07777) != 0) {
        const int error = errno;
        ::unlink(temporary.c_str());
        return PosixError("cannot create " + target.string(), error);
    }
    file = std::make_unique<PosixOutputStream>(std::move(fd), target.string(), true);
    return Status::Ok();
}

Status PosixFileSystem::OpenOutputStream(const std::filesystem::path& path,
                                         std::unique_ptr<OutputStream>& file) {
    file.reset();
    UniqueFd fd;
    do {
        fd.Reset(::open(path.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644));
    } while (!fd.valid() && errno == EINTR);
    if (!fd.valid()) return PosixError("cannot create " + path.string(), errno);
    file = std::make_unique<PosixOutputStream>(std::move(fd), path.string(), true);
    return Status::Ok();
}

Status PosixFileSystem::OpenStandardOutput(std::unique_ptr<OutputStream>& file) {
    file = std::make_unique<PosixOutputStream>(UniqueFd(STDOUT_FILENO), "standard output", false);
    return Status::Ok();
}

Status PosixFileSystem::Rename(const std::filesystem::path& from, const std::filesystem::path& to) {
    if (::rename(from.c_str(), to.c_str()) != 0) {
        return PosixError("cannot replace " + to.string(), errno);
    }
    return Status::Ok();
}

Status PosixFileSystem::Remove(const std::filesystem::path& path) {
    if (::unlink(path.c_str()) != 0) return PosixError("cannot remove " + path.string(), errno);
    return Status::Ok();
}

Status PosixFileSystem::CreateScratchFile(std::unique_ptr<ScratchFile>& file) {
    file.reset();
    // Unnamed from the start where the file system allows it, else named
    // and unlinked at once: either way nothing is left when the process ends.
    UniqueFd fd(::open(P_tmpdir, O_TMPFILE | O_RDWR | O_CLOEXEC, 0600));
    if (!fd.valid()) {
        std::string name = std::string(P_tmpdir) + "/kestrun-spool-XXXXXX";
        fd.Reset(::mkostemp(name.data(), O_CLOEXEC));
        if (fd.valid()) ::unlink(name.c_str());
    }
    if (!fd.valid()) return PosixError("cannot create a temporary file", errno);
    file = std::make_unique<PosixScratchFile>(std::move(fd));
    return Status::Ok();
}

}  // namespace kestrun
