// PosixFileSystem's reading side: files opened without blocking and checked
// with fstat before a byte is read, stat, and folder listings.
#include <dirent.h>
#include <fcntl.h>
#include <fmt/core.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <limits>

#include "platform/posix/file_facts.h"
#include "platform/posix/posix_error.h"
#include "platform/posix/posix_file_system.h"
#include "platform/posix/unique_fd.h"

namespace kestrun {
namespace {

Status PathError(std::string_view what, const std::filesystem::path& path, int error) {
    return PosixError(fmt::format("{} {}", what, path.string()), error);
}

// "<path>: cannot read the folder: <system text>", as the folder searches say it.
Status FolderError(const std::filesystem::path& path, int error) {
    return PosixError(fmt::format("{}: cannot read the folder", path.string()), error);
}

class PosixInputFile final : public InputFile {
  public:
    PosixInputFile(UniqueFd fd, std::filesystem::path path)
        : fd_(std::move(fd)), path_(std::move(path)) {}

    Status ReadAt(std::uint64_t offset, std::span<std::byte> into, std::size_t& got) override {
        got = 0;
        if (offset > static_cast<std::uint64_t>(std::numeric_limits<off_t>::max())) {
            return PathError("cannot read", path_, EINVAL);
        }
        ssize_t n = 0;
        do {
            n = ::pread(fd_.get(), into.data(), into.size(), static_cast<off_t>(offset));
        } while (n < 0 && errno == EINTR);
        if (n < 0) return PathError("cannot read", path_, errno);
        got = static_cast<std::size_t>(n);
        return Status::Ok();
    }

    Status Facts(FileFacts& facts) override {
        struct stat info {};
        if (::fstat(fd_.get(), &info) != 0) return PathError("cannot examine", path_, errno);
        facts = FactsOf(info);
        return Status::Ok();
    }

  private:
    UniqueFd fd_;
    std::filesystem::path path_;
};

}  // namespace

Status PosixFileSystem::OpenInputFile(const std::filesystem::path& path, Links links,
                                      std::unique_ptr<InputFile>& file) {
    file.reset();
    const int no_follow = links == Links::kRefuse ? O_NOFOLLOW : 0;
    UniqueFd fd;
    do {
        fd.Reset(::open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NONBLOCK | no_follow));
    } while (!fd.valid() && errno == EINTR);
    if (!fd.valid()) {
        if (errno == ELOOP && no_follow != 0) {
            return Status::Error(fmt::format("{} is a symbolic link", path.string()));
        }
        return PathError("cannot open", path, errno);
    }
    auto opened = std::make_unique<PosixInputFile>(std::move(fd), path);
    FileFacts facts;
    if (Status examined = opened->Facts(facts); !examined.ok()) return examined;
    if (facts.kind != FileFacts::Kind::kRegular) {
        return Status::Error(fmt::format("{} is not a regular file", path.string()));
    }
    file = std::move(opened);
    return Status::Ok();
}

Status PosixFileSystem::Stat(const std::filesystem::path& path, FileFacts& facts, bool& found) {
    facts = FileFacts{};
    found = false;
    struct stat info {};
    if (::lstat(path.c_str(), &info) != 0) {
        if (errno == ENOENT) return Status::Ok();
        return PathError("cannot examine", path, errno);
    }
    const bool link = S_ISLNK(info.st_mode);
    if (link && ::stat(path.c_str(), &info) != 0) {
        if (errno == ENOENT) return Status::Ok();  // a dangling link names nothing
        return PathError("cannot examine", path, errno);
    }
    found = true;
    facts = FactsOf(info);
    facts.link = link;
    return Status::Ok();
}

Status PosixFileSystem::ListFolder(const std::filesystem::path& path,
                                   std::vector<FolderEntry>& entries) {
    entries.clear();
    UniqueFd fd(::open(path.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC | O_NONBLOCK));
    if (!fd.valid()) return FolderError(path, errno);
    DIR* folder = ::fdopendir(fd.get());
    if (folder == nullptr) return FolderError(path, errno);
    const int dir_fd = fd.Release();  // closedir closes it
    int error = 0;
    for (;;) {
        errno = 0;
        const dirent* entry = ::readdir(folder);
        if (entry == nullptr) {
            error = errno;
            break;
        }
        const std::string_view name = entry->d_name;
        if (name == "." || name == "..") continue;
        FolderEntry found{std::string(name)};
        struct stat info {};
        if (::fstatat(dir_fd, entry->d_name, &info, AT_SYMLINK_NOFOLLOW) == 0) {
            found.link = S_ISLNK(info.st_mode);
            if (found.link && ::fstatat(dir_fd, entry->d_name, &info, 0) != 0) {
                info.st_mode = 0;  // a dangling link names nothing
            }
            found.kind = FactsOf(info).kind;
        }
        entries.push_back(std::move(found));
    }
    ::closedir(folder);
    if (error != 0) return FolderError(path, error);
    return Status::Ok();
}

}  // namespace kestrun
