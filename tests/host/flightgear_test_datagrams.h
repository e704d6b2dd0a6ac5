#pragma once
// Datagrams exactly as FlightGear makes them from the shipped protocol file:
// the file is read and its chunks' formats and separators are applied, so a
// change to the file that the bridge does not follow breaks the tests.

#include <array>
#include <cstdint>
#include <string>
#include <vector>

#include "host/flightgear/flightgear_datagram.h"

namespace kestrun::testing {

struct ProtocolChunk {
    std::string type;
    std::string format;
    std::string node;
};

struct ProtocolFile {
    std::string var_separator;
    std::string line_separator;
    std::vector<ProtocolChunk> chunks;
};

// Reads the shipped kestrun.xml (its path is compiled into the tests).
ProtocolFile ReadShippedProtocolFile();

// Formats `state` the way FlightGear would with the shipped file.
std::string MakeDatagram(const FlightGearState& state);

// A UDP socket on 127.0.0.1 with a port of its own, sending to a loopback port.
class DatagramSender {
  public:
    DatagramSender();
    ~DatagramSender();
    DatagramSender(const DatagramSender&) = delete;
    DatagramSender& operator=(const DatagramSender&) = delete;
    void Send(std::uint16_t port, const std::string& datagram) const;

  private:
    int fd_;
};

}  // namespace kestrun::testing
