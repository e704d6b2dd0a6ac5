#pragma once
// Explicit little-endian loads and stores over raw bytes. Every fixed layout of
// the project (request block, frames, flight records) goes through these, so
// that nothing depends on the host's byte order or on struct padding.

#include <cstddef>
#include <cstdint>

namespace kestrun {

inline std::uint16_t LoadU16(const std::byte* p) {
    return static_cast<std::uint16_t>(std::to_integer<std::uint16_t>(p[0]) |
                                      (std::to_integer<std::uint16_t>(p[1]) << 8));
}

inline std::uint32_t LoadU32(const std::byte* p) {
    return std::to_integer<std::uint32_t>(p[0]) | (std::to_integer<std::uint32_t>(p[1]) << 8) |
           (std::to_integer<std::uint32_t>(p[2]) << 16) |
           (std::to_integer<std::uint32_t>(p[3]) << 24);
}

inline std::uint64_t LoadU64(const std::byte* p) {
    return static_cast<std::uint64_t>(LoadU32(p)) |
           (static_cast<std::uint64_t>(LoadU32(p + 4)) << 32);
}

inline std::int16_t LoadI16(const std::byte* p) {
    return static_cast<std::int16_t>(LoadU16(p));
}
inline std::int32_t LoadI32(const std::byte* p) {
    return static_cast<std::int32_t>(LoadU32(p));
}
inline std::int64_t LoadI64(const std::byte* p) {
    return static_cast<std::int64_t>(LoadU64(p));
}

inline void StoreU16(std::byte* p, std::uint16_t v) {
    p[0] = static_cast<std::byte>(v & 0xFFu);
    p[1] = static_cast<std::byte>(v >> 8);
}

inline void StoreU32(std::byte* p, std::uint32_t v) {
    for (int i = 0; i < 4; ++i) p[i] = static_cast<std::byte>((v >> (8 * i)) & 0xFFu);
}

inline void StoreU64(std::byte* p, std::uint64_t v) {
    StoreU32(p, static_cast<std::uint32_t>(v));
    StoreU32(p + 4, static_cast<std::uint32_t>(v >> 32));
}

inline void StoreI16(std::byte* p, std::int16_t v) {
    StoreU16(p, static_cast<std::uint16_t>(v));
}
inline void StoreI32(std::byte* p, std::int32_t v) {
    StoreU32(p, static_cast<std::uint32_t>(v));
}
inline void StoreI64(std::byte* p, std::int64_t v) {
    StoreU64(p, static_cast<std::uint64_t>(v));
}

}  // namespace kestrun
