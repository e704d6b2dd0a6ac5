// Fuzz target for the link's reply scan: whatever a host leaves in the shared
// block, ProcessQueue must answer 0 or 13, never write outside a destination
// and always leave the queue empty.
//
// Input: byte 0 is the number of reads to queue (low four bits); then one
// byte per read: its count (low six bits) and, in the top bit, a null
// destination. The rest of the input is laid over the start of the block
// after the host has served it.

#include <cstring>

#include "fuzz/fuzz_target.h"
#include "link/host_link.h"
#include "protocol/request_block.h"
#include "tests/support/fake_link_platform.h"

namespace {

using kestrun::HostLink;
using kestrun::HostReply;
using kestrun::LinkResult;

constexpr std::size_t kMaxReads = 16;
constexpr std::size_t kSlot = 64;   // destination room per read
constexpr std::size_t kGuard = 16;  // canary bytes after each destination
constexpr std::byte kCanary{0xA5};

struct Harness {
    kestrun::FakeLinkPlatform platform;
    HostLink link{platform};
    Harness() {
        link.ResetLink();
        LinkResult result = 0;
        Check(link.OpenLink(0, result));
    }
};

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    static Harness harness;
    // The fake logs every call; over millions of runs the log would take all
    // memory.
    harness.platform.ClearLog();
    if (size == 0) return 0;
    const std::size_t reads = std::min<std::size_t>(data[0] & 0x0F, size - 1);

    static std::byte destinations[kMaxReads][kSlot + kGuard];
    std::memset(destinations, static_cast<int>(kCanary), sizeof destinations);
    std::int32_t counts[kMaxReads] = {};
    LinkResult result = 0;
    for (std::size_t i = 0; i < reads; ++i) {
        counts[i] = data[1 + i] & 0x3F;
        void* destination = (data[1 + i] & 0x80) != 0 ? nullptr : destinations[i];
        Check(harness.link.QueueRead(0x0560, counts[i], destination, result));
    }
    // An empty queue is refused before any send; give the host something.
    if (reads == 0) Check(harness.link.QueueWrite(0x0560, 0, nullptr, result));

    const std::uint8_t* reply = data + 1 + reads;
    const std::size_t reply_size = std::min(size - 1 - reads, kestrun::kBlockSize);
    harness.platform.ScriptReplies({HostReply::ServeAndDamage([&](std::span<std::byte> block) {
        if (reply_size != 0) std::memcpy(block.data(), reply, reply_size);
    })});

    result = -1;
    const bool ok = harness.link.ProcessQueue(result);
    Check(ok ? result == kestrun::kResultOkay : result == kestrun::kResultBadData);
    Check(harness.link.state().WriteCursor == harness.link.state().ViewBase);
    for (std::size_t i = 0; i < kMaxReads; ++i) {
        for (auto at = static_cast<std::size_t>(i < reads ? counts[i] : 0); at < kSlot + kGuard;
             ++at) {
            Check(destinations[i][at] == kCanary);
        }
    }
    return 0;
}

// A block as a healthy host hands it back, behind the shapes of its reads.
std::vector<std::uint8_t> GenerateFuzzInput(std::mt19937& random) {
    const auto reads = static_cast<std::uint8_t>(random() % 16);
    std::vector<std::uint8_t> input{reads};
    std::vector<std::byte> block;
    for (std::uint32_t i = 0; i < reads; ++i) {
        const auto shape = static_cast<std::uint8_t>(random());
        input.push_back(shape);
        const std::size_t at = block.size();
        block.resize(at + kestrun::kReadHeaderSize + (shape & 0x3Fu));
        kestrun::EncodeReadHeader(block.data() + at, 0x0560, shape & 0x3Fu,
                                  (shape & 0x80) != 0 ? 0 : i + 1);
    }
    if (reads == 0) {
        block.resize(kestrun::kWriteHeaderSize);
        kestrun::EncodeWriteHeader(block.data(), 0x0560, 0);
    }
    const std::size_t end = block.size();
    block.resize(end + kestrun::kTerminatorSize + random() % 8);
    kestrun::EncodeTerminator(block.data() + end);
    for (std::byte b : block) input.push_back(std::to_integer<std::uint8_t>(b));
    return input;
}
