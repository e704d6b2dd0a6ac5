#pragma once
// Every operating-system call the host link makes, behind one interface, so
// that a fake can produce each result code in a unit test. The POSIX
// implementation (posix/) follows the transport of docs/host-protocol.md.
//
// Handles are opaque non-zero integers; 0 always means "none" or "failed".

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

namespace kestrun {

using WindowHandle = std::intptr_t;
using MappingHandleValue = std::intptr_t;

// Win32's ERROR_ALREADY_EXISTS: what LastError() reports after
// CreateMapping found the name already taken.
inline constexpr std::uint32_t kErrorAlreadyExists = 183;

class LinkPlatform {
  public:
    virtual ~LinkPlatform() = default;

    // Finds the host window of `window_class`; 0 when there is none. On POSIX
    // this connects to the class's endpoint, and the connection is the handle.
    virtual WindowHandle FindHostWindow(std::string_view window_class) = 0;
    // Lets go of a window handle found above (closes the connection).
    virtual void ReleaseWindow(WindowHandle window) = 0;

    // The registered message number for `name`; 0 on failure.
    virtual std::uint32_t RegisterMessage(std::string_view name) = 0;
    virtual std::uint32_t CurrentProcessId() = 0;

    // Global atoms: a 16-bit value >= 0xC000 for a string; 0 on failure.
    virtual std::uint16_t AddAtom(std::string_view name) = 0;
    virtual void DeleteAtom(std::uint16_t atom) = 0;

    // Creates a named shared block of `size` bytes. Returns 0 on failure. When
    // the name already exists, returns a handle (or 0) and LastError() then
    // reports kErrorAlreadyExists.
    virtual MappingHandleValue CreateMapping(std::string_view name, std::uint32_t size) = 0;
    // A view of the whole block, in the caller's own memory: the host can
    // resize the block at any moment, so the caller never touches the block
    // itself. Starts zeroed; nullptr on failure.
    virtual std::byte* MapView(MappingHandleValue mapping) = 0;
    virtual void UnmapView(std::byte* view) = 0;
    // Copies the first `length` bytes of the view into the block, before a
    // send. False when the block cannot be written (LastError() says why).
    virtual bool FlushView(std::byte* view, std::size_t length) = 0;
    // Copies the first `length` bytes of the block back into the view, after
    // the host answered. False when the block no longer has the size it was
    // made with, or cannot be read.
    virtual bool RefreshView(std::byte* view, std::size_t length) = 0;
    // Closes a mapping handle; the creator's close also removes the name.
    virtual void CloseMapping(MappingHandleValue mapping) = 0;

    // Sends `message` and waits up to `timeout_ms` for the answer. True when
    // the send succeeded, with the host's answer in `answer`; false on a
    // time-out (LastError() 0) or a failed send (LastError() non-zero).
    virtual bool SendMessageTimeout(WindowHandle window, std::uint32_t message, std::int32_t wparam,
                                    std::int32_t lparam, std::uint32_t timeout_ms,
                                    std::int32_t& answer) = 0;

    // Where FindHostWindow looks for the host and for the simulator, in
    // words for a pilot who found neither ("<path> or <path>").
    virtual std::string WhereHostsListen() = 0;

    // The calling thread's last error code, as set by the calls above.
    virtual std::uint32_t LastError() = 0;
    virtual void Sleep(std::uint32_t milliseconds) = 0;
};

}  // namespace kestrun
