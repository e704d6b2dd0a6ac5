#pragma once
// The files the recorder touches, behind one interface, so that a test can
// make any call fail: the output file (written record by record at 64-bit
// byte offsets) and the small settings text file. The POSIX implementation is
// in posix/; a fault-injecting wrapper lives with the test fakes.
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
};

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
    virtual Status OpenOutputFile(const std::filesystem::path& path, bool truncate,
                                  std::unique_ptr<OutputFile>& file) = 0;

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
    // The names of the entries in the folder `path` (not "." or "..").
    virtual Status ListFolder(const std::filesystem::path& path,
                              std::vector<std::string>& names) = 0;
    // Removes the file `path`; one that is already gone is fine.
    virtual Status RemoveFile(const std::filesystem::path& path) = 0;
};

inline constexpr std::uint64_t kMaxTextFileSize = 1 << 20;

}  // namespace kestrun
