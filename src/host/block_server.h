#pragma once
// Serves one request block against an offset image: validates the whole block
// first, then fills every read's data area and applies every write in place,
// leaving every header where it was.

#include <cstddef>
#include <span>

#include "host/offset_image.h"

namespace kestrun {

inline constexpr int kAnswerProcessed = 1;
inline constexpr int kAnswerRefused = 0;

// True when the block is well formed (known identifiers, every header and
// data area inside it, a terminator) and every request names a range of the
// offset image: exactly the blocks ServeBlock serves. `used` then holds the
// bytes up to and including the terminator.
bool IsServable(std::span<const std::byte> block, std::size_t& used);

// Returns kAnswerProcessed after processing a well-formed block, or
// kAnswerRefused, changing nothing, when the block holds an unknown
// identifier, a count that runs past the block or past the image, or no
// terminator. Never touches memory outside `block`. After serving, `used`
// (when given) holds the bytes the requests and terminator take: nothing
// past them can have changed.
int ServeBlock(std::span<std::byte> block, OffsetImage& image, std::size_t* used = nullptr);

}  // namespace kestrun
