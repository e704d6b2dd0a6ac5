#pragma once
// Message frames on an endpoint connection. All fields little-endian 32-bit.
//   request: sequence, message number, wParam, lParam   (16 bytes)
//   reply:   sequence, result                           (8 bytes)

#include <array>
#include <cstddef>
#include <cstdint>
#include <string_view>

namespace kestrun {

inline constexpr std::size_t kRequestFrameSize = 16;
inline constexpr std::size_t kReplyFrameSize = 8;

struct RequestFrame {
    std::uint32_t sequence = 0;
    std::uint32_t message = 0;
    std::int32_t wparam = 0;
    std::int32_t lparam = 0;
};

struct ReplyFrame {
    std::uint32_t sequence = 0;
    std::int32_t result = 0;
};

std::array<std::byte, kRequestFrameSize> EncodeRequestFrame(const RequestFrame& frame);
RequestFrame DecodeRequestFrame(const std::byte* bytes);
std::array<std::byte, kReplyFrameSize> EncodeReplyFrame(const ReplyFrame& frame);
ReplyFrame DecodeReplyFrame(const std::byte* bytes);

// 0xC000 | (FNV-1a-32(name) & 0x3FFF): what both sides register a message
// name as. Never 0.
std::uint32_t RegisteredMessageNumber(std::string_view name);

inline constexpr std::string_view kExchangeMessageName = "HOSTLINK:IPC";
inline constexpr std::string_view kHostWindowClass = "HOSTMAIN";
inline constexpr std::string_view kSimulatorWindowClass = "SIMMAIN";

}  // namespace kestrun
