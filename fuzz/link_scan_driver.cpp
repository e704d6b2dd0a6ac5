// Runs the link scan's fuzz entry point over generated inputs where no
// coverage-guided fuzzer is available. Inputs start from blocks a healthy host
// would hand back, then get a few bytes damaged, so that most of them reach
// deep into the scan instead of failing at the first identifier.

#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <random>
#include <vector>

#include "protocol/little_endian.h"
#include "protocol/request_block.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size);

namespace {

std::vector<std::uint8_t> GenerateInput(std::mt19937& random) {
    std::uniform_int_distribution<int> byte(0, 255);
    const int reads = byte(random) & 0x0F;
    std::vector<std::uint8_t> input{static_cast<std::uint8_t>(reads)};
    std::vector<std::byte> block(256);
    std::size_t at = 0;
    for (int i = 0; i < reads; ++i) {
        const auto shape = static_cast<std::uint8_t>(byte(random));
        input.push_back(shape);
        const std::uint32_t count = shape & 0x3Fu;
        const std::uint32_t token = (shape & 0x80u) != 0 ? 0 : static_cast<std::uint32_t>(i + 1);
        if (at + kestrun::kReadHeaderSize + count + kestrun::kTerminatorSize > block.size()) {
            block.resize(block.size() * 2);
        }
        kestrun::EncodeReadHeader(block.data() + at, 0x0560, count, token);
        at += kestrun::kReadHeaderSize + count;
    }
    if (reads == 0) {
        kestrun::EncodeWriteHeader(block.data(), 0x0560, 0);
        at = kestrun::kWriteHeaderSize;
    }
    kestrun::EncodeTerminator(block.data() + at);
    block.resize(at + kestrun::kTerminatorSize + static_cast<std::size_t>(byte(random) % 8));

    // Damage a few bytes, often in the places that matter most: counts,
    // tokens and identifiers.
    const int damages = byte(random) % 4;
    for (int d = 0; d < damages; ++d) {
        const std::size_t where = static_cast<std::size_t>(byte(random)) * 131 % block.size();
        switch (byte(random) % 3) {
            case 0:
                block[where] = static_cast<std::byte>(byte(random));
                break;
            case 1:
                if (where + 4 <= block.size()) {
                    kestrun::StoreU32(block.data() + where, static_cast<std::uint32_t>(random()));
                }
                break;
            default:
                block[where] = std::byte{0};
                break;
        }
    }
    for (std::byte b : block) input.push_back(std::to_integer<std::uint8_t>(b));
    return input;
}

}  // namespace

int main(int argc, char** argv) {
    const long runs = argc > 1 ? std::strtol(argv[1], nullptr, 10) : 20000;
    std::mt19937 random(0x4B455354);
    for (long run = 0; run < runs; ++run) {
        const std::vector<std::uint8_t> input = GenerateInput(random);
        LLVMFuzzerTestOneInput(input.data(), input.size());
    }
    return 0;
}
