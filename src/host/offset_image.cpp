#include "host/offset_image.h"

#include <algorithm>
#include <stdexcept>

#include "protocol/host_units.h"
#include "protocol/little_endian.h"

namespace kestrun {

bool OffsetImage::Contains(std::uint32_t offset, std::uint32_t count) {
    return offset <= kOffsetImageSize && count <= kOffsetImageSize - offset;
}

bool OffsetImage::Read(std::uint32_t offset, std::span<std::byte> out) const {
    if (out.size() > kOffsetImageSize ||
        !Contains(offset, static_cast<std::uint32_t>(out.size()))) {
        return false;
    }
    std::copy_n(bytes_.begin() + offset, out.size(), out.begin());
    return true;
}

bool OffsetImage::Write(std::uint32_t offset, std::span<const std::byte> in) {
    if (in.size() > kOffsetImageSize || !Contains(offset, static_cast<std::uint32_t>(in.size()))) {
        return false;
    }
    // A client's library version is kept aside: the two bytes it would
    // overwrite are the high half of the word at 0x3308, the 0xFADE marker
    // itself, which must read back unchanged for every later client.
    constexpr std::uint32_t kFirst = kOffsetLibraryVersion;
    constexpr std::uint32_t kLast = kOffsetLibraryVersion + 1;
    if (offset <= kFirst && offset + in.size() > kLast) {
        client_library_version_ = LoadI16(in.data() + (kFirst - offset));
    }
    // The host's identity words are not the clients' to change either: one
    // client's zero there would lock every later one out with a failed
    // version check. Writes to them are taken and ignored.
    constexpr std::uint32_t kIdentityFirst = kOffsetHostVersion;
    for (std::size_t i = 0; i < in.size(); ++i) {
        const std::size_t at = offset + i;
        if (at >= kIdentityFirst && at <= kLast) continue;
        bytes_[at] = in[i];
    }
    return true;
}

std::byte* OffsetImage::At(std::uint32_t offset, std::uint32_t count) {
    if (!Contains(offset, count)) throw std::out_of_range("offset outside the host image");
    return bytes_.data() + offset;
}

const std::byte* OffsetImage::At(std::uint32_t offset, std::uint32_t count) const {
    if (!Contains(offset, count)) throw std::out_of_range("offset outside the host image");
    return bytes_.data() + offset;
}

void OffsetImage::SetU16(std::uint32_t offset, std::uint16_t v) {
    StoreU16(At(offset, 2), v);
}
void OffsetImage::SetU32(std::uint32_t offset, std::uint32_t v) {
    StoreU32(At(offset, 4), v);
}
void OffsetImage::SetU64(std::uint32_t offset, std::uint64_t v) {
    StoreU64(At(offset, 8), v);
}
std::uint32_t OffsetImage::GetU32(std::uint32_t offset) const {
    return LoadU32(At(offset, 4));
}
std::uint64_t OffsetImage::GetU64(std::uint32_t offset) const {
    return LoadU64(At(offset, 8));
}

}  // namespace kestrun
