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

// Returns kAnswerProcessed after processing a well-formed block, or
// kAnswerRefused, changing nothing, when the block holds an unknown
// identifier, a count that runs past the block or past the image, or no
// terminator. Never touches memory outside `block`. After serving, `used`
// (when given) holds the bytes the requests and terminator take: nothing
// past them can have changed.
int ServeBlock(std::span<std::byte> block, OffsetImage& image, std::size_t* used = nullptr);

}  // namespace kestrun
