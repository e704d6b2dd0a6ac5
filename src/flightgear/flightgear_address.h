#pragma once
// The "[ADDRESS:]PORT" of a FlightGear: for the host's bridge, the machine
// whose datagrams it accepts and the UDP port it listens on; for the replay,
// where its datagrams go.

#include <cstdint>
#include <string>
#include <string_view>

#include "platform/status.h"

namespace kestrun {

struct FlightGearAddress {
    std::uint32_t ipv4 = 0x7F000001;  // host byte order; 127.0.0.1 by default
    std::uint16_t port = 5500;
};

// Parses "PORT" (on 127.0.0.1), "ADDRESS:PORT" or "localhost:PORT", with
// ADDRESS an IPv4 address in dotted form and PORT 1 to 65535. On failure
// `out` is unchanged and the status says what was wrong.
Status ParseFlightGearAddress(std::string_view text, FlightGearAddress& out);

// True for 127.0.0.0/8, the machine itself.
bool IsLoopback(std::uint32_t ipv4);

// "a.b.c.d" and "a.b.c.d:port".
std::string FormatIpv4(std::uint32_t ipv4);
std::string FormatEndpoint(std::uint32_t ipv4, std::uint16_t port);

}  // namespace kestrun
