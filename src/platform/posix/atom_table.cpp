#include "platform/posix/atom_table.h"

#include <dirent.h>
#include <fcntl.h>
#include <fmt/core.h>
#include <sys/stat.h>
#include <unistd.h>

#include <atomic>
#include <bitset>
#include <cerrno>
#include <charconv>
#include <optional>

#include "platform/posix/shared_block.h"
#include "platform/posix/unique_fd.h"

namespace kestrun {
namespace {

constexpr std::size_t kAtomCount = 0x10000 - kFirstAtom;

// Parses an atom file name: exactly four upper-case hex digits, C000..FFFF.
bool ParseAtomFileName(const char* name, std::uint16_t& atom) {
    unsigned value = 0;
    for (int i = 0; i < 4; ++i) {
        const char c = name[i];
        unsigned digit = 0;
        if (c >= '0' && c <= '9') {
            digit = static_cast<unsigned>(c - '0');
        } else if (c >= 'A' && c <= 'F') {
            digit = static_cast<unsigned>(c - 'A' + 10);
        } else {
            return false;
        }
        value = value * 16 + digit;
    }
    if (name[4] != '\0' || value < kFirstAtom) return false;
    atom = static_cast<std::uint16_t>(value);
    return true;
}

// Reads a whole small file; one byte more than the longest name is asked for
// so that an overlong file never compares equal to a valid name. Only a
// regular file of ours is read (EPERM otherwise), and the open neither
// follows a link nor waits: a FIFO in the folder would block an open forever.
SysResult<std::string> ReadSmallFile(const std::string& path) {
    UniqueFd fd(::open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NOFOLLOW | O_NONBLOCK));
    if (!fd.valid()) return SysResult<std::string>::Failure(errno);
    struct stat info {};
    if (::fstat(fd.get(), &info) != 0) return SysResult<std::string>::Failure(errno);
    if (!S_ISREG(info.st_mode) || info.st_uid != ::geteuid()) {
        return SysResult<std::string>::Failure(EPERM);
    }
    std::string content;
    char buffer[kMaxAtomName + 1];
    while (content.size() <= kMaxAtomName) {
        const ssize_t n = ::read(fd.get(), buffer, sizeof buffer);
        if (n < 0 && errno == EINTR) continue;
        if (n < 0) return SysResult<std::string>::Failure(errno);
        if (n == 0) break;
        content.append(buffer, static_cast<std::size_t>(n));
    }
    return SysResult<std::string>::Success(std::move(content));
}

bool WriteAll(int fd, std::string_view data) {
    while (!data.empty()) {
        const ssize_t n = ::write(fd, data.data(), data.size());
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0) return false;
        data.remove_prefix(static_cast<std::size_t>(n));
    }
    return true;
}

}  // namespace

std::string AtomFileName(std::uint16_t atom) {
    return fmt::format("{:04X}", atom);
}

SysResult<std::uint16_t> AddAtom(const std::string& directory, std::string_view name) {
    using Result = SysResult<std::uint16_t>;
    if (name.empty()) return Result::Failure(EINVAL);
    if (name.size() > kMaxAtomName) return Result::Failure(ENAMETOOLONG);

    std::bitset<kAtomCount> used;
    {
        DIR* dir = ::opendir(directory.c_str());
        if (dir == nullptr) return Result::Failure(errno);
        std::uint16_t found = 0;
        while (const dirent* entry = ::readdir(dir)) {
            std::uint16_t atom = 0;
            if (!ParseAtomFileName(entry->d_name, atom)) continue;
            used.set(atom - kFirstAtom);
            const auto content = ReadSmallFile(directory + "/" + entry->d_name);
            if (content.ok() && content.value == name && (found == 0 || atom < found)) {
                found = atom;
            }
        }
        ::closedir(dir);
        if (found != 0) return Result::Success(found);
    }

    // Write the name into a private file first, then hard-link it under the
    // chosen number: link() fails when the number was taken meanwhile, and
    // the atom file never exists without its content.
    static std::atomic<unsigned> counter{0};
    const std::string staging =
        fmt::format("{}/.new-{}-{}", directory, ::getpid(), counter.fetch_add(1));
    {
        UniqueFd fd(::open(staging.c_str(),
                           O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC,
                           0600));
        if (!fd.valid()) return Result::Failure(errno);
        if (!WriteAll(fd.get(), name)) {
            const int error = errno != 0 ? errno : EIO;
            ::unlink(staging.c_str());
            return Result::Failure(error);
        }
    }

    Result result = Result::Failure(ENOSPC);
    for (std::size_t i = 0; i < kAtomCount; ++i) {
        if (used.test(i)) continue;
        const auto atom = static_cast<std::uint16_t>(kFirstAtom + i);
        const std::string target = directory + "/" + AtomFileName(atom);
        if (::link(staging.c_str(), target.c_str()) == 0) {
            result = Result::Success(atom);
            break;
        }
        if (errno != EEXIST) {
            result = Result::Failure(errno);
            break;
        }
    }
    ::unlink(staging.c_str());
    return result;
}

int DeleteAtom(const std::string& directory, std::uint16_t atom) {
    if (atom < kFirstAtom) return EINVAL;
    const std::string path = directory + "/" + AtomFileName(atom);
    return ::unlink(path.c_str()) == 0 ? 0 : errno;
}

std::size_t RemoveStaleAtoms(const std::string& directory) {
    DIR* dir = ::opendir(directory.c_str());
    if (dir == nullptr) return 0;
    std::size_t removed = 0;
    while (const dirent* entry = ::readdir(dir)) {
        const std::string path = directory + "/" + entry->d_name;
        std::uint16_t atom = 0;
        std::optional<pid_t> owner;
        if (ParseAtomFileName(entry->d_name, atom)) {
            // An atom names a block, and the block's name its creator.
            const auto content = ReadSmallFile(path);
            if (content.ok()) owner = BlockCreator(content.value);
        } else if (std::string_view name = entry->d_name; name.starts_with(".new-")) {
            // A staging file of an add that was killed half-way: ".new-<pid>-<n>".
            name.remove_prefix(5);
            pid_t pid = 0;
            const auto [end, error] = std::from_chars(name.data(), name.data() + name.size(), pid);
            if (error == std::errc() && end != name.data() && *end == '-') owner = pid;
        }
        if (owner && ProcessGone(*owner) && ::unlink(path.c_str()) == 0) ++removed;
    }
    ::closedir(dir);
    return removed;
}

SysResult<std::string> FindAtom(const std::string& directory, std::uint16_t atom) {
    if (atom < kFirstAtom) return SysResult<std::string>::Failure(ENOENT);
    return ReadSmallFile(directory + "/" + AtomFileName(atom));
}

}  // namespace kestrun
