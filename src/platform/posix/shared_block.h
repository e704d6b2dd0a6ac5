#pragma once
// Named shared blocks: POSIX shared-memory objects named "/" + the block name
// (for example "/HOSTLINK:IPC:1A2B:1"). The client creates one exclusively and
// removes the name when it closes the link; a host opens it by name and maps
// it for as long as it likes.

#include <cstddef>
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

// Removes the block's name; the memory lives on while anyone maps it.
int RemoveSharedBlock(std::string_view name);

// Maps `size` bytes of the block behind `fd`, readable and writable.
SysResult<std::byte*> MapSharedBlock(int fd, std::size_t size);
void UnmapSharedBlock(std::byte* view, std::size_t size);

// A host's mapping of a block that a client made. Owns the mapping and the
// descriptor; moves, never copies.
class MappedBlock {
  public:
    MappedBlock() = default;
    MappedBlock(MappedBlock&& other) noexcept;
    MappedBlock& operator=(MappedBlock&& other) noexcept;
    MappedBlock(const MappedBlock&) = delete;
    MappedBlock& operator=(const MappedBlock&) = delete;
    ~MappedBlock();

    // Opens the existing block `name` read-write and maps its first `size`
    // bytes. EINVAL when the object is smaller than `size`: touching a mapped
    // page past the end of the object would kill the process with SIGBUS.
    static SysResult<MappedBlock> Open(std::string_view name, std::size_t size);

    // True while the object still holds at least size() bytes. A client could
    // shrink its block after the host mapped it; checking before each use
    // keeps a careless client from crashing the host.
    bool StillWhole() const;

    std::byte* data() const { return view_; }
    std::size_t size() const { return size_; }

  private:
    void Release();

    int fd_ = -1;
    std::byte* view_ = nullptr;
    std::size_t size_ = 0;
};

}  // namespace kestrun
