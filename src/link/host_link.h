#pragma once
// Module HostLink: the recorder's single link to a simulator host.
//
// Callers queue reads and writes into the shared block, then ProcessQueue
// hands the whole batch to the host in one blocking message and copies each
// read's data to its destination. Operations return true on success and
// store a LinkResult through `result`; they never throw. Not thread-safe: the
// window's thread is the only caller.

#include <array>
#include <cstddef>
#include <cstdint>

#include "link/link_result.h"
#include "platform/link_platform.h"
#include "protocol/request_block.h"

namespace kestrun {

// The link state: all zero after ResetLink and after CloseLink. The link is
// open exactly when ViewBase is non-null.
struct LinkState {
    WindowHandle HostWindow = 0;
    std::uint32_t MessageId = 0;
    std::int32_t MappingAtom = 0;  // the 16-bit atom, sign-extended
    MappingHandleValue MappingHandle = 0;
    std::byte* ViewBase = nullptr;
    std::byte* WriteCursor = nullptr;
};

class HostLink {
  public:
    explicit HostLink(LinkPlatform& platform) : platform_(platform) {}
    HostLink(const HostLink&) = delete;
    HostLink& operator=(const HostLink&) = delete;

    // Zeroes the link state without releasing anything.
    void ResetLink();

    // Finds the host, creates and maps the shared block and runs the version
    // handshake. `requested_simulator` 0 accepts any simulator.
    bool OpenLink(std::int32_t requested_simulator, LinkResult& result);
    // Releases atom, view and mapping in that order; safe on a closed link.
    void CloseLink();

    // Queues a read of `size` bytes at host `offset`, copied to `destination`
    // (if non-null) by the next successful ProcessQueue. `destination` must
    // hold `size` bytes and stay valid until then.
    bool QueueRead(std::int32_t offset, std::int32_t size, void* destination, LinkResult& result);
    // Queues a write of `size` bytes from `source` to host `offset`.
    bool QueueWrite(std::int32_t offset, std::int32_t size, const void* source, LinkResult& result);
    // Exchanges the queued batch with the host. The queue is empty afterwards
    // whatever the outcome, except for results 9 and 10. Destinations are
    // written only on success, all of them at once.
    bool ProcessQueue(LinkResult& result);

    // Discards queued requests without sending them (after a failed queue).
    void DiscardQueue();

    const LinkState& state() const { return state_; }
    bool IsOpen() const { return state_.ViewBase != nullptr; }

    std::int32_t HostVersion = 0;
    std::int32_t SimulatorVersion = 0;
    std::int16_t LibraryVersion = 0;

  private:
    // Walks the block the host handed back, checking that it holds exactly
    // the `reads` reads queued, and copies each read's data to its
    // destination when `copy` is set. False when the block is damaged.
    bool ScanReply(std::size_t reads, bool copy);

    LinkPlatform& platform_;
    LinkState state_;
    // Destinations of the queued reads in queue order: the 4-byte field in
    // the block holds a token, the address itself stays here.
    struct Destination {
        void* address = nullptr;
        std::uint32_t count = 0;
    };
    static constexpr std::size_t kMaxReads = kBlockCapacity / kReadHeaderSize;
    std::array<Destination, kMaxReads> destinations_{};
    std::size_t queued_reads_ = 0;
};

}  // namespace kestrun
