// Fuzz target for the host's block serving: whatever a client leaves in its
// block, ServeBlock must refuse one that is not well formed, stay inside the
// block and the image, leave a refused block and the image exactly as they
// were, and on a served block keep every header in place and hand each read
// the image's bytes.
//
// Input: the start of the block; the rest of the block is zeros.

#include <cstring>
#include <optional>

#include "fuzz/fuzz_blocks.h"
#include "fuzz/fuzz_target.h"
#include "host/block_server.h"
#include "protocol/request_block.h"

namespace {

using namespace kestrun;

// The requests of a block, in order; none when it is not well formed.
std::optional<std::vector<Request>> Requests(std::span<const std::byte> block) {
    std::vector<Request> found;
    RequestWalker walker(block);
    for (Request request;;) {
        const RequestWalker::Step step = walker.Next(request);
        if (step == RequestWalker::Step::kEnd) return found;
        if (step == RequestWalker::Step::kDamaged) return std::nullopt;
        found.push_back(request);
    }
}

// Compared with memcmp: an element-wise comparison of 64 KiB would cost a
// coverage callback per byte and dominate every run.
bool SameImage(const OffsetImage& a, const OffsetImage& b) {
    static std::byte a_bytes[kOffsetImageSize], b_bytes[kOffsetImageSize];
    Check(a.Read(0, a_bytes) && b.Read(0, b_bytes));
    return std::memcmp(a_bytes, b_bytes, kOffsetImageSize) == 0 &&
           a.client_library_version() == b.client_library_version();
}

bool Overlap(const Request& a, const Request& b) {
    return a.offset < b.offset + b.count && b.offset < a.offset + a.count;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    // Exactly the block's size on the heap, so that ASan sees any access past it.
    std::vector<std::byte> block(kBlockSize);
    std::memcpy(block.data(), data, std::min(size, kBlockSize));
    const std::vector<std::byte> sent = block;

    static OffsetImage image;
    static const OffsetImage fresh = fuzz::PatternedImage(31, 7);
    image = fresh;

    const int answer = ServeBlock(block, image);
    const auto walked = Requests(sent);
    // A damaged block is refused whole, even after requests that looked good.
    Check(answer == kAnswerRefused || (answer == kAnswerProcessed && walked.has_value()));
    if (answer == kAnswerRefused) {
        Check(std::memcmp(block.data(), sent.data(), kBlockSize) == 0);
        Check(SameImage(image, fresh));
        return 0;
    }

    const std::vector<Request>& requests = *walked;
    const auto served = Requests(block);
    Check(served && served->size() == requests.size());
    for (std::size_t i = 0; i < requests.size(); ++i) {
        const Request& r = requests[i];
        const Request& s = (*served)[i];
        Check(s.identifier == r.identifier && s.offset == r.offset && s.count == r.count &&
              s.data_at == r.data_at);
        if (r.identifier != kReadIdentifier || r.count == 0) continue;
        bool written = r.offset + r.count > 0x3300 && r.offset < 0x3310;  // the host's own words
        for (const Request& other : requests) {
            written = written || (other.identifier != kReadIdentifier && Overlap(r, other));
        }
        if (written) continue;
        std::vector<std::byte> expected(r.count);
        Check(fresh.Read(r.offset, expected));
        Check(std::memcmp(block.data() + r.data_at, expected.data(), r.count) == 0);
    }
    return 0;
}

// A sound block of reads and writes such as a recorder sends.
std::vector<std::uint8_t> GenerateFuzzInput(std::mt19937& random) {
    const std::vector<std::byte> block = fuzz::SoundBlock(random, 12, 16, [&] {
        return static_cast<std::uint32_t>(random() % 2 == 0 ? 0x0560 + random() % 0x30
                                                            : random() % 0x10000);
    });
    const auto* bytes = reinterpret_cast<const std::uint8_t*>(block.data());
    return {bytes, bytes + block.size()};
}
