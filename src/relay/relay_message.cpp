#include "relay/relay_message.h"

#include <algorithm>
#include <cstring>

#include "host/block_server.h"
#include "protocol/host_units.h"
#include "protocol/little_endian.h"

namespace kestrun {
namespace {

// Calls `visit` with each read request of a block already known servable.
template <typename Visit>
void ForEachRead(std::span<const std::byte> block, Visit visit) {
    RequestWalker walker(block);
    Request request;
    while (walker.Next(request) == RequestWalker::Step::kRequest) {
        if (request.identifier == kReadIdentifier) visit(request);
    }
}

}  // namespace

std::size_t ServableLength(std::span<const std::byte> block) {
    std::size_t length = 0;
    if (!IsServable(block, length)) return 0;
    return length <= kRelayMaxBlock ? length : 0;
}

std::vector<std::byte> EncodeRelayRequest(std::span<const std::byte> block) {
    std::vector<std::byte> message(kRelayRequestHeaderSize + block.size());
    StoreU32(message.data(), static_cast<std::uint32_t>(block.size()));
    std::copy(block.begin(), block.end(), message.begin() + kRelayRequestHeaderSize);
    return message;
}

std::optional<std::size_t> DecodeRelayRequestLength(
    const std::array<std::byte, kRelayRequestHeaderSize>& header) {
    const std::uint32_t length = LoadU32(header.data());
    if (length < kTerminatorSize || length > kRelayMaxBlock) return std::nullopt;
    return length;
}

std::vector<std::byte> EncodeRelayReply(RelayStatus status, std::span<const std::byte> served) {
    if (status != RelayStatus::kServed) served = {};
    std::vector<std::byte> message(kRelayReplyHeaderSize + served.size());
    StoreU32(message.data(), static_cast<std::uint32_t>(status));
    StoreU32(message.data() + 4, static_cast<std::uint32_t>(served.size()));
    std::copy(served.begin(), served.end(), message.begin() + kRelayReplyHeaderSize);
    return message;
}

std::optional<std::pair<RelayStatus, std::size_t>> DecodeRelayReplyHeader(
    const std::array<std::byte, kRelayReplyHeaderSize>& header, std::size_t sent) {
    const std::uint32_t status = LoadU32(header.data());
    const std::uint32_t length = LoadU32(header.data() + 4);
    if (status < static_cast<std::uint32_t>(RelayStatus::kServed) ||
        status > static_cast<std::uint32_t>(RelayStatus::kHostFailed)) {
        return std::nullopt;
    }
    const auto relay_status = static_cast<RelayStatus>(status);
    const std::size_t expected = relay_status == RelayStatus::kServed ? sent : 0;
    if (length != expected) return std::nullopt;
    return std::pair{relay_status, expected};
}

void CopyReadData(std::span<const std::byte> served, std::span<std::byte> block) {
    ForEachRead(block, [&](const Request& read) {
        if (read.data_at + read.count <= served.size()) {
            std::memcpy(block.data() + read.data_at, served.data() + read.data_at, read.count);
        }
    });
}

bool ReadsVersionWords(std::span<const std::byte> block) {
    bool found = false;
    ForEachRead(block, [&](const Request& read) {
        found =
            found || read.offset == kOffsetHostVersion || read.offset == kOffsetSimulatorVersion;
    });
    return found;
}

void ZeroReadData(std::span<std::byte> block) {
    ForEachRead(block, [&](const Request& read) {
        std::memset(block.data() + read.data_at, 0, read.count);
    });
}

}  // namespace kestrun
