#pragma once
// Named shared blocks: POSIX shared-memory objects named "/" + the block name
// (for example "/HOSTLINK:IPC:1A2B:1"). The client creates one exclusively and
// removes the name when it closes the link; a host opens it by name.
//
// Neither side maps a block: the other process could shrink it at any moment,
// and touching a mapped page past the new end kills the toucher with SIGBUS.
// Each side reads the block into its own memory with pread and writes back
// with pwrite, so a shrunk block is only a short read.

#include <sys/types.h>

#include <cstddef>
#include <optional>
#include <span>
#include <string>
#include <string_view>

#include "platform/posix/sys_result.h"

namespace kestrun {

// "/" + name. EINVAL for an empty name or one holding '/' (which the
// shared-memory namespace does not allow), ENAMETOOLONG past NAME_MAX.
SysResult<std::string> SharedBlockObjectName(std::string_view name);

// Creates the block exclusively with mode 0600 and `size` bytes and returns
// its descriptor. EEXIST when the name is already taken; on any later failure
// the half-made object is removed again.
SysResult<int> CreateSharedBlock(std::string_view name, std::size_t size);

// Removes the block's name; the memory lives on while anyone holds it open.
int RemoveSharedBlock(std::string_view name);

// The process that made a block, from its name: block names carry their
// creator's process id in hexadecimal between their last two colons
// ("HOSTLINK:IPC:1A2B:1"). nullopt for a name without one.
std::optional<pid_t> BlockCreator(std::string_view name);

// True when `pid` names no living process, so that whatever it left behind
// may be taken back. This process never counts as gone.
bool ProcessGone(pid_t pid);

// What stands under an existing block name, looked up without opening it (an
// object of another user could not be opened, and a FIFO would block).
struct BlockHolder {
    uid_t uid = 0;
    // True when the name is ours, made by a process that is gone (or by an
    // earlier process or thread with the id of this process or one of its
    // threads), and may be removed and made again.
    bool stale = false;
};
SysResult<BlockHolder> InspectSharedBlock(std::string_view name);

// Removes the blocks of ours whose names start with `prefix` and that
// InspectSharedBlock counts as stale: a process killed before it could close
// its link leaves its block behind. Returns how many went.
std::size_t RemoveStaleSharedBlocks(std::string_view prefix);

// Opens a client's block for a host: without following links or blocking, and
// only a regular file owned by `owner` with mode 0600, so that nobody can
// make the host serve someone else's block or a block others can read. EPERM
// when the object is not such a file.
SysResult<int> OpenClientBlock(std::string_view name, uid_t owner);

// Reads exactly `out.size()` bytes at offset 0. 0, EIO for a short read (the
// block was shrunk), or the errno of the failing call.
int ReadBlock(int fd, std::span<std::byte> out);
// Writes all of `in` at offset 0; 0 or the errno of the failing call.
int WriteBlock(int fd, std::span<const std::byte> in);

}  // namespace kestrun
