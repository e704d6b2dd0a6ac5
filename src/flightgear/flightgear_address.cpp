#include "flightgear/flightgear_address.h"

#include <arpa/inet.h>
#include <fmt/core.h>

#include <charconv>

namespace kestrun {

Status ParseFlightGearAddress(std::string_view text, FlightGearAddress& out) {
    FlightGearAddress parsed;  // a bare port means this machine
    std::string_view port_text = text;
    const std::size_t colon = text.rfind(':');
    if (colon != std::string_view::npos) {
        const std::string host(text.substr(0, colon));
        port_text = text.substr(colon + 1);
        in_addr address{};
        if (host == "localhost") {
            parsed.ipv4 = 0x7F000001;
        } else if (inet_pton(AF_INET, host.c_str(), &address) == 1) {
            parsed.ipv4 = ntohl(address.s_addr);
        } else {
            return Status::Error(
                fmt::format("\"{}\" is not an IPv4 address such as 127.0.0.1", host));
        }
    }
    unsigned port = 0;
    const char* last = port_text.data() + port_text.size();
    const auto [ptr, ec] = std::from_chars(port_text.data(), last, port);
    if (port_text.empty() || ec != std::errc() || ptr != last || port < 1 || port > 65535) {
        return Status::Error(
            fmt::format("\"{}\" is not a UDP port between 1 and 65535", port_text));
    }
    parsed.port = static_cast<std::uint16_t>(port);
    out = parsed;
    return Status::Ok();
}

bool IsLoopback(std::uint32_t ipv4) {
    return (ipv4 >> 24) == 127;
}

std::string FormatIpv4(std::uint32_t ipv4) {
    return fmt::format("{}.{}.{}.{}", ipv4 >> 24, (ipv4 >> 16) & 0xFF, (ipv4 >> 8) & 0xFF,
                       ipv4 & 0xFF);
}

std::string FormatEndpoint(std::uint32_t ipv4, std::uint16_t port) {
    return fmt::format("{}:{}", FormatIpv4(ipv4), port);
}

}  // namespace kestrun
