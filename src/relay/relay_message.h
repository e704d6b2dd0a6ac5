#pragma once
// What crosses the encrypted channel: one request and one reply per
// exchange, so that a recorder's whole batch costs one network round trip.
// All integers little-endian 32-bit.
//
//   request   length n (4 to 0x7F00), then the n bytes of the request block
//             up to and including its terminator
//   reply     status, length, then `length` bytes: for kServed the same n
//             bytes with every read's data area filled; nothing otherwise
//
// Only blocks a host would serve are ever sent: requests walked and bounded
// as the host walks them, ending exactly at the terminator.

#include <array>
#include <cstddef>
#include <cstdint>
#include <optional>
#include <span>
#include <vector>

#include "protocol/request_block.h"

namespace kestrun {

enum class RelayStatus : std::uint32_t {
    kServed = 1,      // the host answered 1; the block follows
    kRefused = 2,     // the host refused the block (answered 0)
    kNoHost = 3,      // the server reaches no host, or not the right kind
    kHostFailed = 4,  // the host stopped answering during the exchange
};

inline constexpr std::size_t kRelayRequestHeaderSize = 4;
inline constexpr std::size_t kRelayReplyHeaderSize = 8;
inline constexpr std::size_t kRelayMaxBlock = kBlockCapacity;

// The length of `block`'s requests with their terminator when a host would
// serve it; 0 when it would refuse it.
std::size_t ServableLength(std::span<const std::byte> block);

// The request message for the first `length` bytes of `block`.
std::vector<std::byte> EncodeRelayRequest(std::span<const std::byte> block);
// The request's block length from its header; nullopt when out of bounds.
std::optional<std::size_t> DecodeRelayRequestLength(
    const std::array<std::byte, kRelayRequestHeaderSize>& header);

// The reply message; `served` is sent only with kServed.
std::vector<std::byte> EncodeRelayReply(RelayStatus status, std::span<const std::byte> served);
// Status and length from a reply header, checked against the `sent` length
// of the request; nullopt for an unknown status or a wrong length.
std::optional<std::pair<RelayStatus, std::size_t>> DecodeRelayReplyHeader(
    const std::array<std::byte, kRelayReplyHeaderSize>& header, std::size_t sent);

// Copies every read's data area from `served` into `block`, both laid out as
// `block` already is; headers stay as the recorder wrote them.
void CopyReadData(std::span<const std::byte> served, std::span<std::byte> block);

// True when `block` reads the host or simulator version word: a recorder
// opening its link.
bool ReadsVersionWords(std::span<const std::byte> block);
// Zeroes every read's data area in `block`.
void ZeroReadData(std::span<std::byte> block);

}  // namespace kestrun
