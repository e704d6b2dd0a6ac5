#pragma once
// Datagrams exactly as FlightGear makes them from the shipped protocol file:
// the tests read the file and apply its separators and chunk formats, so a
// change to the file that the bridge does not follow breaks them.

#include <cstdint>
#include <string>
#include <vector>

#include "flightgear/flightgear_datagram.h"

namespace kestrun::testing {

// A generic-protocol file: its separators, and each chunk's type and node.
struct ProtocolFile {
    std::string var_separator, line_separator;
    std::vector<std::string> types, formats, nodes;
};
ProtocolFile ReadProtocolFile(const std::string& path);
// The shipped output file, kestrun.xml.
ProtocolFile ReadShippedProtocolFile();

// Formats `state` as FlightGear would with the shipped file.
std::string MakeDatagram(const FlightGearState& state);

// Sends one datagram to 127.0.0.1:`port` from a new socket, so from a new
// source port each time, as a restarted FlightGear would.
void SendDatagram(std::uint16_t port, const std::string& datagram);

}  // namespace kestrun::testing
