#pragma once
// The request block: the one wire format between the recorder and a host.
//
// Requests are written back to back from the start of the shared block, with
// no alignment, and closed by a 32-bit zero. All integers little-endian.
//
//   read request                      write request
//   offset size field                 offset size field
//   0      4    identifier = 1        0      4    identifier = 2
//   4      4    host offset           4      4    host offset
//   8      4    byte count            8      4    byte count
//   12     4    destination token     12     n    data
//   16     n    data area (host fills)
//
// Only the low 16 bits of an identifier are significant. The block is
// kBlockSize bytes; requests plus terminator may use at most kBlockCapacity.

#include <cstddef>
#include <cstdint>
#include <span>

namespace kestrun {

inline constexpr std::size_t kBlockSize = 0x8000;
inline constexpr std::size_t kBlockCapacity = 0x7F00;
inline constexpr std::size_t kReadHeaderSize = 16;
inline constexpr std::size_t kWriteHeaderSize = 12;
inline constexpr std::size_t kTerminatorSize = 4;

inline constexpr std::uint16_t kEndIdentifier = 0;
inline constexpr std::uint16_t kReadIdentifier = 1;
inline constexpr std::uint16_t kWriteIdentifier = 2;

// Encoders: write one header at `at`. The caller has checked the room.
void EncodeReadHeader(std::byte* at, std::uint32_t offset, std::uint32_t count,
                      std::uint32_t destination);
void EncodeWriteHeader(std::byte* at, std::uint32_t offset, std::uint32_t count);
void EncodeTerminator(std::byte* at);

// One request as found by the walker. Positions are byte offsets from the
// start of the block; `data_at` + `count` never passes the block's end.
struct Request {
    std::uint16_t identifier = 0;  // kReadIdentifier or kWriteIdentifier
    std::uint32_t offset = 0;
    std::uint32_t count = 0;
    std::uint32_t destination = 0;  // reads only
    std::size_t header_at = 0;
    std::size_t data_at = 0;
};

// Walks a block in place without ever reading outside it.
//   kRequest: `out` holds the next request.
//   kEnd:     the terminator was reached.
//   kDamaged: unknown identifier, a header or data area running past the
//             block, or no terminator before the block's end. Walking stops.
class RequestWalker {
  public:
    enum class Step { kRequest, kEnd, kDamaged };

    explicit RequestWalker(std::span<const std::byte> block) : block_(block) {}
    Step Next(Request& out);
    // Where the walker stands: after kEnd, the terminator's position.
    std::size_t position() const { return position_; }

  private:
    std::span<const std::byte> block_;
    std::size_t position_ = 0;
    bool stopped_ = false;
};

}  // namespace kestrun
