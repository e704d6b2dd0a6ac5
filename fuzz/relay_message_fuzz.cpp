// Fuzz target for the relay's messages, at both ends of the channel.
//  - The server, against whatever a peer sends: a request whose length the
//    header refuses, or whose block a host would not serve, is dropped; one
//    it takes is one the host's own serving takes, and the honest reply to it
//    decodes at the client into exactly the block the host served.
//  - The client, against whatever a server answers: a reply header that does
//    not fit the request is refused, and a served block, however damaged,
//    changes nothing in the recorder's block but the data areas of its reads.
// The recorder's whole block, as a local recorder leaves it, goes through the
// client's own check first, and zeroing the reads of a block without a host
// touches nothing else either.
//
// Input: the request message (32-bit length, then the block), then the
// server's reply message (status, length, block); either may be cut short.

#include <algorithm>
#include <array>
#include <span>

#include "fuzz/fuzz_blocks.h"
#include "fuzz/fuzz_target.h"
#include "host/block_server.h"
#include "protocol/request_block.h"
#include "relay/relay_message.h"

namespace {

using namespace kestrun;

// True for each byte of `block` inside a read's data area.
std::vector<bool> ReadAreas(std::span<const std::byte> block) {
    std::vector<bool> areas(block.size());
    RequestWalker walker(block);
    for (Request r; walker.Next(r) == RequestWalker::Step::kRequest;) {
        if (r.identifier != kReadIdentifier) continue;
        std::fill_n(areas.begin() + static_cast<std::ptrdiff_t>(r.data_at), r.count, true);
    }
    return areas;
}

// Every byte of `after` outside the read areas is as `before` had it.
void CheckOnlyReadsChanged(std::span<const std::byte> before, std::span<const std::byte> after,
                           const std::vector<bool>& areas) {
    for (std::size_t i = 0; i < before.size(); ++i) Check(areas[i] || before[i] == after[i]);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    std::span<const std::byte> input(reinterpret_cast<const std::byte*>(data), size);
    const auto take = [&](std::size_t count) {
        const auto piece = input.first(std::min(count, input.size()));
        input = input.subspan(piece.size());
        return piece;
    };

    // The server reads the request's header, then exactly the length it names.
    std::array<std::byte, kRelayRequestHeaderSize> request_header{};
    const auto header_bytes = take(request_header.size());
    if (header_bytes.size() < request_header.size()) return 0;
    std::copy(header_bytes.begin(), header_bytes.end(), request_header.begin());
    const auto length = DecodeRelayRequestLength(request_header);
    if (!length) return 0;
    Check(*length >= kTerminatorSize && *length <= kRelayMaxBlock);
    const auto body = take(*length);
    if (body.size() < *length) return 0;

    // The block as the recorder left it, whole, on the client's side.
    std::vector<std::byte> recorder_block(kBlockSize);
    std::copy(body.begin(), body.end(), recorder_block.begin());
    const std::size_t servable = ServableLength(recorder_block);
    std::size_t host_used = 0;
    Check(servable ==
          (IsServable(recorder_block, host_used) && host_used <= kRelayMaxBlock ? host_used : 0));

    // The server's own check: the request exactly, on the heap at its size.
    std::vector<std::byte> request(body.begin(), body.end());
    if (ServableLength(request) != request.size()) return 0;
    Check(servable == request.size());
    const std::vector<bool> areas = ReadAreas(request);

    // Without a host, the client answers a block by zeroing its reads.
    std::vector<std::byte> zeroed = request;
    ZeroReadData(zeroed);
    CheckOnlyReadsChanged(request, zeroed, areas);
    static_cast<void>(ReadsVersionWords(request));

    // The host serves what the server forwards; the honest reply carries it
    // back into the recorder's block unchanged.
    std::vector<std::byte> served = request;
    static OffsetImage image;
    static const OffsetImage host_image = fuzz::PatternedImage(13, 5);
    image = host_image;
    Check(ServeBlock(served, image) == kAnswerProcessed);
    const std::vector<std::byte> reply = EncodeRelayReply(RelayStatus::kServed, served);
    std::array<std::byte, kRelayReplyHeaderSize> reply_header{};
    std::copy_n(reply.begin(), reply_header.size(), reply_header.begin());
    const auto honest = DecodeRelayReplyHeader(reply_header, request.size());
    Check(honest && honest->first == RelayStatus::kServed && honest->second == request.size() &&
          reply.size() == kRelayReplyHeaderSize + honest->second);
    std::vector<std::byte> received = request;
    CopyReadData(std::span(reply).subspan(kRelayReplyHeaderSize), received);
    Check(received == served);

    // Whatever a server answers instead.
    const auto hostile_header = take(kRelayReplyHeaderSize);
    std::fill(reply_header.begin(), reply_header.end(), std::byte{0});
    std::copy(hostile_header.begin(), hostile_header.end(), reply_header.begin());
    const auto decoded = DecodeRelayReplyHeader(reply_header, request.size());
    if (!decoded) return 0;
    Check(decoded->second == (decoded->first == RelayStatus::kServed ? request.size() : 0));
    const auto hostile_body = take(decoded->second);
    if (hostile_body.size() < decoded->second) return 0;  // the reply broke off
    const std::vector<std::byte> hostile(hostile_body.begin(), hostile_body.end());
    received = request;
    CopyReadData(hostile, received);
    CheckOnlyReadsChanged(request, received, areas);
    return 0;
}

// A request of reads and writes such as a recorder sends, then a reply: the
// honest one or one with its status, length or data spoiled.
std::vector<std::uint8_t> GenerateFuzzInput(std::mt19937& random) {
    const auto next = [&](std::uint32_t below) {
        return static_cast<std::uint32_t>(random() % below);
    };
    const std::vector<std::byte> block = fuzz::SoundBlock(
        random, 10, 12, [&] { return next(2) == 0 ? 0x0560 + next(0x30) : 0x3300 + next(0x20); });
    std::vector<std::byte> message = EncodeRelayRequest(block);
    const auto status = next(4) == 0 ? static_cast<RelayStatus>(1 + next(4)) : RelayStatus::kServed;
    const std::vector<std::byte> reply = EncodeRelayReply(status, block);
    message.insert(message.end(), reply.begin(), reply.end());
    const auto* bytes = reinterpret_cast<const std::uint8_t*>(message.data());
    return {bytes, bytes + message.size()};
}
