#pragma once
// Shared blocks for the targets that serve or carry them: a sound block such
// as a recorder sends, and a host image whose every byte says where it is.

#include <algorithm>

#include "fuzz/fuzz_target.h"
#include "host/offset_image.h"
#include "protocol/request_block.h"

namespace kestrun::fuzz {

// Up to `most - 1` requests, three in four reads, each at an offset
// `offset()` picks with fewer than `counts_below` bytes, then the terminator.
template <typename PickOffset>
std::vector<std::byte> SoundBlock(std::mt19937& random, std::uint32_t most,
                                  std::uint32_t counts_below, PickOffset offset) {
    std::vector<std::byte> block;
    for (auto requests = random() % most; requests > 0; --requests) {
        const std::uint32_t at_offset = offset();
        const auto count = std::min<std::uint32_t>(
            static_cast<std::uint32_t>(random() % counts_below), 0x10000 - at_offset);
        const std::size_t at = block.size();
        if (random() % 4 != 0) {
            block.resize(at + kReadHeaderSize + count);
            EncodeReadHeader(block.data() + at, at_offset, count,
                             static_cast<std::uint32_t>(random() % 8));
        } else {
            block.resize(at + kWriteHeaderSize + count);
            EncodeWriteHeader(block.data() + at, at_offset, count);
        }
    }
    const std::size_t end = block.size();
    block.resize(end + kTerminatorSize);
    EncodeTerminator(block.data() + end);
    return block;
}

// An image whose byte i holds i * step + base, so that a read from the wrong
// place shows.
inline OffsetImage PatternedImage(unsigned step, unsigned base) {
    OffsetImage made;
    std::vector<std::byte> pattern(kOffsetImageSize);
    for (std::size_t i = 0; i < pattern.size(); ++i) pattern[i] = std::byte(i * step + base);
    Check(made.Write(0, pattern));
    return made;
}

}  // namespace kestrun::fuzz
