#include "link/host_link.h"

#include <fmt/format.h>

#include <bit>
#include <cstring>
#include <span>
#include <string>

#include "protocol/frame.h"
#include "protocol/host_units.h"

namespace kestrun {

namespace {

// Reads are copied to their destinations byte for byte, unconverted, as the
// host stored them: little-endian. A big-endian build would need conversions
// here, so refuse to build one rather than record garbage.
static_assert(std::endian::native == std::endian::little);

constexpr std::uint32_t kExchangeTimeoutMs = 2000;
constexpr int kSendAttempts = 11;
constexpr std::uint32_t kRetryPauseMs = 100;
constexpr int kHandshakeAttempts = 5;
constexpr std::uint32_t kHandshakePauseMs = 100;
constexpr std::int32_t kAnswerProcessedByHost = 1;
constexpr std::int32_t kLowestHostVersion = 0x19980005;

// "HOSTLINK:IPC:<pid in upper-case hex>:1"; the platform takes the name
// without a trailing NUL.
std::string BlockName(std::uint32_t process_id) {
    return fmt::format("{}:{:X}:1", kExchangeMessageName, process_id);
}

// True when a request of `size` bytes after its header still leaves room for
// the terminator within the capacity. 64-bit, so that no size can wrap.
bool Fits(const std::byte* view, const std::byte* cursor, std::int32_t size,
          std::size_t header_size) {
    const std::int64_t used = cursor - view;
    const std::int64_t needed = used + static_cast<std::int64_t>(kTerminatorSize) +
                                static_cast<std::int64_t>(header_size) + size;
    return needed <= static_cast<std::int64_t>(kBlockCapacity);
}

}  // namespace

void HostLink::ResetLink() {
    state_ = LinkState{};
    queued_reads_ = 0;
}

bool HostLink::OpenLink(std::int32_t requested_simulator, LinkResult& result) {
    HostVersion = 0;
    SimulatorVersion = 0;

    if (state_.ViewBase != nullptr) {
        result = kResultAlreadyOpen;
        return false;
    }

    // An earlier open that failed to register the message left its window
    // set; on this platform the handle is a connection, so let it go first.
    if (state_.HostWindow != 0) {
        platform_.ReleaseWindow(state_.HostWindow);
        state_.HostWindow = 0;
    }

    bool via_client = false;
    state_.HostWindow = platform_.FindHostWindow(kHostWindowClass);
    if (state_.HostWindow == 0) {
        state_.HostWindow = platform_.FindHostWindow(kSimulatorWindowClass);
        via_client = true;
        if (state_.HostWindow == 0) {
            result = kResultNoHost;
            return false;
        }
    }

    state_.MessageId = platform_.RegisterMessage(kExchangeMessageName);
    if (state_.MessageId == 0) {
        result = kResultRegisterFailed;
        return false;
    }

    const std::string name = BlockName(platform_.CurrentProcessId());
    // Atoms of strings lie at 0xC000 and above; held sign-extended, as the
    // host expects them in the message's parameter.
    const std::uint16_t atom = platform_.AddAtom(name);
    state_.MappingAtom = static_cast<std::int16_t>(atom);
    if (state_.MappingAtom == 0) {
        result = kResultAtomFailed;
        CloseLink();
        return false;
    }

    state_.MappingHandle = platform_.CreateMapping(name, static_cast<std::uint32_t>(kBlockSize));
    // A block of that name that already exists belongs to someone else: never
    // share it, even when the platform handed back a handle.
    const bool already_exists = platform_.LastError() == kErrorAlreadyExists;
    if (state_.MappingHandle == 0 || already_exists) {
        result = kResultMappingFailed;
        CloseLink();
        return false;
    }

    state_.ViewBase = platform_.MapView(state_.MappingHandle);
    if (state_.ViewBase == nullptr) {
        result = kResultViewFailed;
        CloseLink();
        return false;
    }
    state_.WriteCursor = state_.ViewBase;
    queued_reads_ = 0;

    for (int attempt = 1;
         attempt <= kHandshakeAttempts && (HostVersion == 0 || SimulatorVersion == 0); ++attempt) {
        if (!QueueRead(static_cast<std::int32_t>(kOffsetHostVersion), sizeof HostVersion,
                       &HostVersion, result) ||
            !QueueRead(static_cast<std::int32_t>(kOffsetSimulatorVersion), sizeof SimulatorVersion,
                       &SimulatorVersion, result)) {
            CloseLink();
            return false;
        }
        // Every attempt tells the host our library version; only the first
        // attempt's failure to queue it counts.
        if (!QueueWrite(static_cast<std::int32_t>(kOffsetLibraryVersion), sizeof LibraryVersion,
                        &LibraryVersion, result) &&
            attempt == 1) {
            CloseLink();
            return false;
        }
        if (!ProcessQueue(result)) {
            CloseLink();
            return false;
        }
        platform_.Sleep(kHandshakePauseMs);
    }

    const auto marker = static_cast<std::uint32_t>(SimulatorVersion) >> 16;
    if (HostVersion < kLowestHostVersion || marker != kSimulatorMarker) {
        result = via_client ? kResultWrongVersionViaClient : kResultWrongVersion;
        CloseLink();
        return false;
    }
    SimulatorVersion &= 0xFFFF;

    if (requested_simulator != 0 && requested_simulator != SimulatorVersion) {
        result = kResultWrongSimulator;
        CloseLink();
        return false;
    }

    result = kResultOkay;
    return true;
}

void HostLink::CloseLink() {
    if (state_.HostWindow != 0) platform_.ReleaseWindow(state_.HostWindow);
    state_.HostWindow = 0;
    state_.MessageId = 0;
    state_.WriteCursor = nullptr;
    queued_reads_ = 0;

    if (state_.MappingAtom != 0) {
        platform_.DeleteAtom(static_cast<std::uint16_t>(state_.MappingAtom));
        state_.MappingAtom = 0;
    }
    if (state_.ViewBase != nullptr) {
        platform_.UnmapView(state_.ViewBase);
        state_.ViewBase = nullptr;
    }
    if (state_.MappingHandle != 0) {
        platform_.CloseMapping(state_.MappingHandle);
        state_.MappingHandle = 0;
    }
}

bool HostLink::QueueRead(std::int32_t offset, std::int32_t size, void* destination,
                         LinkResult& result) {
    if (state_.ViewBase == nullptr) {
        result = kResultNotOpen;
        return false;
    }
    // A negative count would zero memory before the cursor or ask the host
    // for an absurd range; no caller means it.
    if (size < 0) {
        result = kResultBadData;
        return false;
    }
    // The table has room for more reads than the block can hold.
    static_assert(kMaxReads * kReadHeaderSize + kTerminatorSize > kBlockCapacity);
    if (!Fits(state_.ViewBase, state_.WriteCursor, size, kReadHeaderSize)) {
        result = kResultBlockFull;
        return false;
    }

    const auto count = static_cast<std::uint32_t>(size);
    // The block's destination field is only 32 bits wide: it carries the
    // read's place in the queue, and the address waits in the table.
    const auto token = destination == nullptr ? 0u : static_cast<std::uint32_t>(queued_reads_ + 1);
    destinations_[queued_reads_] = Destination{destination, count};
    ++queued_reads_;

    EncodeReadHeader(state_.WriteCursor, static_cast<std::uint32_t>(offset), count, token);
    state_.WriteCursor += kReadHeaderSize;
    if (count != 0) {
        std::memset(state_.WriteCursor, 0, count);
        state_.WriteCursor += count;
    }
    result = kResultOkay;
    return true;
}

bool HostLink::QueueWrite(std::int32_t offset, std::int32_t size, const void* source,
                          LinkResult& result) {
    if (state_.ViewBase == nullptr) {
        result = kResultNotOpen;
        return false;
    }
    if (size < 0 || (size > 0 && source == nullptr)) {
        result = kResultBadData;
        return false;
    }
    if (!Fits(state_.ViewBase, state_.WriteCursor, size, kWriteHeaderSize)) {
        result = kResultBlockFull;
        return false;
    }

    const auto count = static_cast<std::uint32_t>(size);
    EncodeWriteHeader(state_.WriteCursor, static_cast<std::uint32_t>(offset), count);
    state_.WriteCursor += kWriteHeaderSize;
    if (count != 0) {
        std::memcpy(state_.WriteCursor, source, count);
        state_.WriteCursor += count;
    }
    result = kResultOkay;
    return true;
}

bool HostLink::ProcessQueue(LinkResult& result) {
    if (state_.ViewBase == nullptr) {
        result = kResultNotOpen;
        return false;
    }
    if (state_.WriteCursor == state_.ViewBase) {
        result = kResultNothingQueued;
        return false;
    }

    // From here the queue is spent whatever happens.
    EncodeTerminator(state_.WriteCursor);
    const auto used =
        static_cast<std::size_t>(state_.WriteCursor - state_.ViewBase) + kTerminatorSize;
    state_.WriteCursor = state_.ViewBase;
    const std::size_t reads = queued_reads_;
    queued_reads_ = 0;

    // The view is our own copy of the block: the host sees the batch only
    // once it is written into the block.
    if (!platform_.FlushView(state_.ViewBase, used)) {
        result = kResultSendFailed;
        return false;
    }

    std::int32_t answer = 0;
    bool sent = false;
    for (int attempt = 0; attempt < kSendAttempts && !sent; ++attempt) {
        if (attempt > 0) platform_.Sleep(kRetryPauseMs);
        sent = platform_.SendMessageTimeout(state_.HostWindow, state_.MessageId, state_.MappingAtom,
                                            0, kExchangeTimeoutMs, answer);
    }
    if (!sent) {
        result = platform_.LastError() == 0 ? kResultTimedOut : kResultSendFailed;
        return false;
    }
    // A block the host resized is not the block we sent.
    if (answer != kAnswerProcessedByHost || !platform_.RefreshView(state_.ViewBase, used)) {
        result = kResultBadData;
        return false;
    }

    // Nothing is copied unless the whole block checks out, so a failed
    // exchange never leaves some destinations filled and others not.
    if (!ScanReply(reads, false)) {
        result = kResultBadData;
        return false;
    }
    ScanReply(reads, true);
    result = kResultOkay;
    return true;
}

bool HostLink::ScanReply(std::size_t reads, bool copy) {
    // The host must hand back every header as we wrote it. Each read found
    // has to carry the token and count it was queued with, so a damaged
    // block can neither send data elsewhere nor copy more than the
    // destination holds; the walker keeps every access inside the block.
    RequestWalker walker(std::span<const std::byte>(state_.ViewBase, kBlockSize));
    std::size_t read_index = 0;
    Request request;
    for (;;) {
        const RequestWalker::Step step = walker.Next(request);
        if (step == RequestWalker::Step::kDamaged) return false;
        if (step == RequestWalker::Step::kEnd) return read_index == reads;
        if (request.identifier != kReadIdentifier) continue;
        if (read_index == reads) return false;
        const Destination& wanted = destinations_[read_index];
        const auto token =
            wanted.address == nullptr ? 0u : static_cast<std::uint32_t>(read_index + 1);
        if (request.destination != token || request.count != wanted.count) return false;
        if (copy && wanted.address != nullptr && wanted.count != 0) {
            std::memcpy(wanted.address, state_.ViewBase + request.data_at, wanted.count);
        }
        ++read_index;
    }
}

void HostLink::DiscardQueue() {
    state_.WriteCursor = state_.ViewBase;
    queued_reads_ = 0;
}

}  // namespace kestrun
