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

// Beside the atom files, an index entry per string: a symbolic link named by
// the string's 64-bit FNV-1a hash that points at the atom's file name, so
// that finding a string's atom reads one link and one file instead of every
// atom file. The atom file stays the truth: an entry is used only when that
// file holds exactly the string.
std::string IndexPath(const std::string& directory, std::string_view name) {
    std::uint64_t hash = 0xCBF29CE484222325u;
    for (const char c : name) {
        hash ^= static_cast<unsigned char>(c);
        hash *= 0x100000001B3u;
    }
    return fmt::format("{}/.name-{:016X}", directory, hash);
}

// The atom an index entry points at; empty when there is no such entry.
std::optional<std::uint16_t> ReadIndex(const std::string& index) {
    char target[8];
    const ssize_t n = ::readlink(index.c_str(), target, sizeof target - 1);
    if (n != 4) return std::nullopt;
    target[4] = '\0';
    std::uint16_t atom = 0;
    if (!ParseAtomFileName(target, atom)) return std::nullopt;
    return atom;
}

// The atom the index gives for `name`, when its file still holds the name.
std::optional<std::uint16_t> IndexedAtom(const std::string& directory, const std::string& index,
                                         std::string_view name) {
    const auto atom = ReadIndex(index);
    if (!atom) return std::nullopt;
    const auto content = ReadSmallFile(directory + "/" + AtomFileName(*atom));
    if (!content.ok() || content.value != name) return std::nullopt;
    return atom;
}

// The lowest atom whose file holds `name`, found by reading every atom file.
std::optional<std::uint16_t> LowestHolding(const std::string& directory, std::string_view name) {
    DIR* dir = ::opendir(directory.c_str());
    if (dir == nullptr) return std::nullopt;
    std::optional<std::uint16_t> found;
    while (const dirent* entry = ::readdir(dir)) {
        std::uint16_t atom = 0;
        if (!ParseAtomFileName(entry->d_name, atom) || (found && *found < atom)) continue;
        const auto content = ReadSmallFile(directory + "/" + entry->d_name);
        if (content.ok() && content.value == name) found = atom;
    }
    ::closedir(dir);
    return found;
}

}  // namespace

std::string AtomFileName(std::uint16_t atom) {
    return fmt::format("{:04X}", atom);
}

SysResult<std::uint16_t> AddAtom(const std::string& directory, std::string_view name) {
    using Result = SysResult<std::uint16_t>;
    if (name.empty()) return Result::Failure(EINVAL);
    if (name.size() > kMaxAtomName) return Result::Failure(ENAMETOOLONG);

    const std::string index = IndexPath(directory, name);
    if (const auto indexed = IndexedAtom(directory, index, name)) return Result::Success(*indexed);

    // Only the names of the folder are listed, not the files read: with
    // hundreds of recorders opening at once, reading every atom for every add
    // cost time in the square of their number.
    std::bitset<kAtomCount> used;
    {
        DIR* dir = ::opendir(directory.c_str());
        if (dir == nullptr) return Result::Failure(errno);
        while (const dirent* entry = ::readdir(dir)) {
            std::uint16_t atom = 0;
            if (ParseAtomFileName(entry->d_name, atom)) used.set(atom - kFirstAtom);
        }
        ::closedir(dir);
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
    if (result.ok()) {
        // A stale entry (its atom deleted by someone else, or the string's
        // hash shared with another name) gives way; a fresh one of a
        // simultaneous add of the same string stays. Without the entry this
        // add still holds its atom; only a later add cannot find it by name.
        ::unlink(index.c_str());
        if (::symlink(AtomFileName(result.value).c_str(), index.c_str()) != 0) {
            // Nothing to undo: the atom file is complete.
        }
    } else if (result.error == ENOSPC) {
        // A full table may still hold the string under an atom that has no
        // index entry (written by hand, or by an add that died half-way).
        if (const auto held = LowestHolding(directory, name)) return Result::Success(*held);
    }
    return result;
}

int DeleteAtom(const std::string& directory, std::uint16_t atom) {
    if (atom < kFirstAtom) return EINVAL;
    const std::string path = directory + "/" + AtomFileName(atom);
    if (const auto content = ReadSmallFile(path); content.ok()) {
        const std::string index = IndexPath(directory, content.value);
        if (ReadIndex(index) == std::optional<std::uint16_t>(atom)) ::unlink(index.c_str());
    }
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
        std::string index;  // the atom's index entry, removed with it
        if (ParseAtomFileName(entry->d_name, atom)) {
            // An atom names a block, and the block's name its creator.
            const auto content = ReadSmallFile(path);
            if (content.ok()) {
                owner = BlockCreator(content.value);
                const std::string entry_path = IndexPath(directory, content.value);
                if (ReadIndex(entry_path) == std::optional<std::uint16_t>(atom)) index = entry_path;
            }
        } else if (std::string_view name = entry->d_name; name.starts_with(".new-")) {
            // A staging file of an add that was killed half-way: ".new-<pid>-<n>".
            name.remove_prefix(5);
            pid_t pid = 0;
            const auto [end, error] = std::from_chars(name.data(), name.data() + name.size(), pid);
            if (error == std::errc() && end != name.data() && *end == '-') owner = pid;
        }
        if (owner && ProcessGone(*owner) && ::unlink(path.c_str()) == 0) {
            ++removed;
            if (!index.empty()) ::unlink(index.c_str());
        }
    }
    ::closedir(dir);
    return removed;
}

SysResult<std::string> FindAtom(const std::string& directory, std::uint16_t atom) {
    if (atom < kFirstAtom) return SysResult<std::string>::Failure(ENOENT);
    return ReadSmallFile(directory + "/" + AtomFileName(atom));
}

}  // namespace kestrun
