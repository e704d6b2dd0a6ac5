#pragma once
// A host's 64 KiB image of offsets 0x0000..0xFFFF. Reads copy out of it and
// writes copy into it, except at the host's identity: the client's library
// version at 0x330A is recorded aside so that the 0xFADE marker of 0x3308
// survives every handshake, and writes to the version words 0x3304..0x3309
// are ignored.

#include <array>
#include <cstddef>
#include <cstdint>
#include <span>

namespace kestrun {

inline constexpr std::size_t kOffsetImageSize = 0x10000;

class OffsetImage {
  public:
    // True when [offset, offset + count) lies inside the image.
    static bool Contains(std::uint32_t offset, std::uint32_t count);

    // Copy out of / into the image. Both return false, touching nothing, when
    // the range does not lie inside the image.
    bool Read(std::uint32_t offset, std::span<std::byte> out) const;
    bool Write(std::uint32_t offset, std::span<const std::byte> in);

    // Typed helpers for the host's own values (little-endian in the image).
    // They bypass the 0x330A rule and throw std::out_of_range outside the
    // image: they are for the host's own code, never for client requests.
    void SetU16(std::uint32_t offset, std::uint16_t v);
    void SetU32(std::uint32_t offset, std::uint32_t v);
    void SetU64(std::uint32_t offset, std::uint64_t v);
    std::uint32_t GetU32(std::uint32_t offset) const;
    std::uint64_t GetU64(std::uint32_t offset) const;

    // The last library version a client wrote at 0x330A (0 before any).
    std::int16_t client_library_version() const { return client_library_version_; }

  private:
    std::byte* At(std::uint32_t offset, std::uint32_t count);
    const std::byte* At(std::uint32_t offset, std::uint32_t count) const;

    std::array<std::byte, kOffsetImageSize> bytes_{};
    std::int16_t client_library_version_ = 0;
};

}  // namespace kestrun
