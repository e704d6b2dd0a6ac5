#pragma once
// The files the programs touch, behind one interface, so that a test can
// make any call fail: the recorder's output file (written record by record at
// 64-bit byte offsets), the small settings text file, the files the readers
// read (record files, airport lists) and the folders they search, and the
// files an export writes. The POSIX implementation is in posix/; a
// fault-injecting wrapper lives with the test fakes.
//
// Every call that can fail returns a Status whose message names what failed,
// the path, and why, e.g. "cannot open /data/x.dat: Permission denied".

#include <cstdint>
#include <filesystem>
#include <memory>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "platform/status.h"

namespace kestrun {

struct FileFacts;

// An open binary file written at explicit offsets. Not buffered: each
// successful WriteAt has handed its bytes to the operating system.
class OutputFile {
  public:
    virtual ~OutputFile() = default;

    // Writes all of `data` at byte `offset`, growing the file as needed. On
    // failure some leading part of `data` may have been written; the caller
    // decides whether to cut it off with Truncate.
    virtual Status WriteAt(std::uint64_t offset, std::span<const std::byte> data) = 0;
    // The file's current length in bytes.
    virtual Status Length(std::uint64_t& length) = 0;
    // Cuts (or extends with zeros) the file to `length` bytes.
    virtual Status Truncate(std::uint64_t length) = 0;
    // Flushes the file's data to the storage device.
    virtual Status Sync() = 0;
    // Closes the file; reports errors the system only notices at close.
    // Calls other than Close after a Close fail.
    virtual Status Close() = 0;
    // Whether this open holds the file's lock (see OpenOutputFile).
    virtual bool locked() const = 0;
    // The facts of the open file itself, whatever its path names by now.
    virtual Status Facts(FileFacts& facts) = 0;
};

// What the system says about a file.
struct FileFacts {
    enum class Kind { kRegular, kDirectory, kOther };
    Kind kind = Kind::kOther;
    std::uint64_t size = 0;
    // Last modification: seconds since the epoch, and nanoseconds past them.
    std::int64_t modified_seconds = 0;
    std::int64_t modified_nanoseconds = 0;
    bool link = false;  // from Stat: the path itself is a symbolic link (the rest is its target's)
    // Which file it is: two paths with the same device and inode name one file.
    std::uint64_t device = 0;
    std::uint64_t inode = 0;

    // The modification time in one number, as the logbook keeps it; wraps
    // round for times centuries away rather than overflowing.
    std::int64_t modified_ns() const {
        return static_cast<std::int64_t>(static_cast<std::uint64_t>(modified_seconds) *
                                             1'000'000'000u +
                                         static_cast<std::uint64_t>(modified_nanoseconds));
    }
};

// An open regular file, read at explicit byte offsets, so that a reader never
// depends on a shared file position. One thread at a time.
class InputFile {
  public:
    virtual ~InputFile() = default;

    // Reads at most `into.size()` bytes at `offset`; `got` says how many. A
    // read may return fewer bytes than asked for; `got` is 0 only at the end
    // of the file (which may move while the file is open).
    virtual Status ReadAt(std::uint64_t offset, std::span<std::byte> into, std::size_t& got) = 0;
    // The facts of the open file itself, whatever its path names by now.
    virtual Status Facts(FileFacts& facts) = 0;
};

// Bytes written front to back: a file an export makes, or standard output.
class OutputStream {
  public:
    virtual ~OutputStream() = default;
    // Writes all of `data` after what was written before.
    virtual Status Write(std::span<const std::byte> data) = 0;
    // True when the stream throws away what is written (the null device):
    // a write costs its call and nothing more, so nothing gains from writing
    // on a thread of its own.
    virtual bool Discards() const { return false; }
    // Closes the stream; reports errors the system only notices at close.
    virtual Status Close() = 0;
};

// An anonymous temporary file for data a program needs again later: written
// front to back, read back at offsets, gone when it is destroyed or the
// process ends.
class ScratchFile : public OutputStream {
  public:
    virtual Status ReadAt(std::uint64_t offset, std::span<std::byte> into, std::size_t& got) = 0;
    // Empties the file; the next Write starts at offset 0.
    virtual Status Clear() = 0;
};

// One entry of a folder. `kind` is what the entry names once symbolic links
// are followed (kOther for a dangling link); `link` says it is one.
struct FolderEntry {
    std::string name;
    FileFacts::Kind kind = FileFacts::Kind::kOther;
    bool link = false;
};

// What KeepAs did with a file.
enum class Kept {
    kLinked,  // the file has its new name as well as its old one
    kMoved,   // no hard links there: the file was renamed, its old name is free
    kTaken,   // the new name was taken; nothing changed
};

// Whether opening a file for reading follows a symbolic link in its last
// component. Files found in a folder that others can write to are opened
// with kRefuse; a path the user named is the user's choice.
enum class Links { kRefuse, kFollow };

class FileSystem {
  public:
    virtual ~FileSystem() = default;

    // Opens `path` for writing at offsets, creating it when missing, and holds
    // an exclusive lock on it until the file is closed. With `truncate` the
    // file starts empty, otherwise its contents are kept. When another open
    // file holds the lock, nothing is changed and the message reads
    // "another recorder is writing <path>". On a file system without such
    // locks (some network and FUSE ones) the file opens all the same, with
    // locked() false: a second recorder cannot be kept out there.
    // The open is only handed out while `path` still names the file it
    // locked, so a file another recorder has just moved aside is never taken.
    virtual Status OpenOutputFile(const std::filesystem::path& path, bool truncate,
                                  std::unique_ptr<OutputFile>& file) = 0;
    // Puts a new, empty, locked output file in the place of `path` in one
    // step: it is created and locked under a name of its own beside `path`
    // and then renamed over it, so whoever opens `path` meets either the old
    // file or the new one, never none and never an unlocked one. Nothing is
    // left behind when this fails.
    virtual Status ReplaceWithOutputFile(const std::filesystem::path& path,
                                         std::unique_ptr<OutputFile>& file) = 0;
    // Gives the file `path` the further name `kept`, in one step and never
    // replacing anything that `kept` names (then `result` is kTaken). On a
    // file system without hard links the file is renamed instead (kMoved).
    virtual Status KeepAs(const std::filesystem::path& path, const std::filesystem::path& kept,
                          Kept& result) = 0;

    // Reads the whole of a small file (at most kMaxTextFileSize bytes) as raw
    // bytes. A missing file is not an error: `found` is false and `contents`
    // empty.
    virtual Status ReadTextFile(const std::filesystem::path& path, std::string& contents,
                                bool& found) = 0;
    // Replaces the contents of `path` with `contents`, creating the file when
    // missing. Line ends are written as given. The file is replaced whole, so
    // a crash leaves the old contents or the new. A symbolic link is followed
    // to a regular file of the user's, which is replaced in its own folder (or,
    // for a dangling link into a folder of the user's, created there); anything
    // else (a FIFO, a device, a folder, another user's file or folder) is
    // refused and left as it is.
    virtual Status WriteTextFile(const std::filesystem::path& path, std::string_view contents) = 0;
    // Removes what replaces of `path` (or of the file its link leads to) left
    // behind when their process died: the user's own "<name>.<pid>-<n>.new"
    // files whose process no longer runs. Nothing to remove is fine.
    virtual Status RemoveReplaceLeftovers(const std::filesystem::path& path) = 0;
    // Creates `path` and any missing parents; an existing directory is fine.
    virtual Status CreateDirectories(const std::filesystem::path& path) = 0;
    // As CreateDirectories, but every folder it creates is readable by this
    // user only (0700); folders that exist are left as they are.
    virtual Status CreatePrivateDirectories(const std::filesystem::path& path) = 0;

    // Opens `path` for reading without blocking (a FIFO named by mistake
    // does not hang the reader) and refuses anything but a regular file
    // ("<path> is not a regular file"). With Links::kRefuse a symbolic link
    // is refused too.
    virtual Status OpenInputFile(const std::filesystem::path& path, Links links,
                                 std::unique_ptr<InputFile>& file) = 0;
    // The facts of what `path` names, links followed. A missing path is not
    // an error: `found` is false.
    virtual Status Stat(const std::filesystem::path& path, FileFacts& facts, bool& found) = 0;
    // The entries of the folder `path`, without "." and "..", in no order.
    virtual Status ListFolder(const std::filesystem::path& path,
                              std::vector<FolderEntry>& entries) = 0;

    // Creates a new, empty file in the folder of `target`, under a name of
    // its own (`temporary`), so that the target is only replaced once the
    // new contents are complete. Nothing planted under the temporary name is
    // written through.
    virtual Status CreateBeside(const std::filesystem::path& target,
                                std::unique_ptr<OutputStream>& file,
                                std::filesystem::path& temporary) = 0;
    // Opens `path` for writing from its start, creating or emptying it: for
    // targets that cannot be replaced by a rename (a device, a FIFO).
    virtual Status OpenOutputStream(const std::filesystem::path& path,
                                    std::unique_ptr<OutputStream>& file) = 0;
    // The process's standard output as a stream; closing it leaves it open.
    virtual Status OpenStandardOutput(std::unique_ptr<OutputStream>& file) = 0;
    // Renames `from` to `to` in one step, replacing `to`.
    virtual Status Rename(const std::filesystem::path& from, const std::filesystem::path& to) = 0;
    // Removes the file `path`.
    virtual Status Remove(const std::filesystem::path& path) = 0;
    // `path` from the root, resolved against the current folder; as it stands
    // when that folder cannot be told.
    virtual std::filesystem::path AbsolutePath(const std::filesystem::path& path) = 0;
    // Creates an anonymous temporary file.
    virtual Status CreateScratchFile(std::unique_ptr<ScratchFile>& file) = 0;
};

inline constexpr std::uint64_t kMaxTextFileSize = 1 << 20;

}  // namespace kestrun
