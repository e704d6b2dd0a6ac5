#include "protocol/frame.h"

#include "protocol/little_endian.h"

namespace kestrun {

std::array<std::byte, kRequestFrameSize> EncodeRequestFrame(const RequestFrame& frame) {
    std::array<std::byte, kRequestFrameSize> bytes{};
    StoreU32(bytes.data(), frame.sequence);
    StoreU32(bytes.data() + 4, frame.message);
    StoreI32(bytes.data() + 8, frame.wparam);
    StoreI32(bytes.data() + 12, frame.lparam);
    return bytes;
}

RequestFrame DecodeRequestFrame(const std::byte* bytes) {
    return RequestFrame{LoadU32(bytes), LoadU32(bytes + 4), LoadI32(bytes + 8),
                        LoadI32(bytes + 12)};
}

std::array<std::byte, kReplyFrameSize> EncodeReplyFrame(const ReplyFrame& frame) {
    std::array<std::byte, kReplyFrameSize> bytes{};
    StoreU32(bytes.data(), frame.sequence);
    StoreI32(bytes.data() + 4, frame.result);
    return bytes;
}

ReplyFrame DecodeReplyFrame(const std::byte* bytes) {
    return ReplyFrame{LoadU32(bytes), LoadI32(bytes + 4)};
}

std::uint32_t RegisteredMessageNumber(std::string_view name) {
    std::uint32_t hash = 2166136261u;  // FNV-1a 32-bit offset basis
    for (char c : name) {
        hash ^= static_cast<unsigned char>(c);
        hash *= 16777619u;  // FNV prime
    }
    return 0xC000u | (hash & 0x3FFFu);
}

}  // namespace kestrun
