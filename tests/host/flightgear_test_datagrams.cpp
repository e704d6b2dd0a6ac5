#include "flightgear_test_datagrams.h"

#include <arpa/inet.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cstdio>
#include <fstream>
#include <regex>
#include <sstream>
#include <stdexcept>

namespace kestrun::testing {
namespace {

std::string Tag(const std::string& text, const std::string& tag) {
    const std::regex pattern("<" + tag + ">([^<]*)</" + tag + ">");
    std::smatch match;
    if (!std::regex_search(text, match, pattern)) throw std::runtime_error("no <" + tag + ">");
    return match[1];
}

std::string Separator(const std::string& word) {
    if (word == "newline") return "\n";
    if (word == "tab") return "\t";
    if (word == "space") return " ";
    return word;
}

}  // namespace

ProtocolFile ReadShippedProtocolFile() {
    std::ifstream in(KESTRUN_FLIGHTGEAR_PROTOCOL_FILE);
    if (!in) throw std::runtime_error("cannot read " KESTRUN_FLIGHTGEAR_PROTOCOL_FILE);
    std::stringstream buffer;
    buffer << in.rdbuf();
    const std::string text = buffer.str();

    ProtocolFile file;
    file.var_separator = Separator(Tag(text, "var_separator"));
    file.line_separator = Separator(Tag(text, "line_separator"));
    const std::regex chunk("<chunk>([\\s\\S]*?)</chunk>");
    for (auto it = std::sregex_iterator(text.begin(), text.end(), chunk);
         it != std::sregex_iterator(); ++it) {
        const std::string body = (*it)[1];
        file.chunks.push_back({Tag(body, "type"), Tag(body, "format"), Tag(body, "node")});
    }
    return file;
}

std::string MakeDatagram(const FlightGearState& state) {
    static const ProtocolFile file = ReadShippedProtocolFile();
    const std::array<double, 8> values = {state.latitude_deg,
                                          state.longitude_deg,
                                          state.altitude_ft,
                                          state.pitch_deg,
                                          state.roll_deg,
                                          state.heading_deg,
                                          state.indicated_airspeed_kt,
                                          state.vertical_speed_fps};
    if (file.chunks.size() != values.size()) throw std::runtime_error("chunk count changed");
    std::string datagram;
    for (std::size_t i = 0; i < values.size(); ++i) {
        char field[64];
        std::snprintf(field, sizeof field, file.chunks[i].format.c_str(), values[i]);
        if (i > 0) datagram += file.var_separator;
        datagram += field;
    }
    return datagram + file.line_separator;
}

DatagramSender::DatagramSender() : fd_(socket(AF_INET, SOCK_DGRAM | SOCK_CLOEXEC, 0)) {
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    if (fd_ < 0 || bind(fd_, reinterpret_cast<const sockaddr*>(&address), sizeof address) != 0) {
        throw std::runtime_error("cannot open a UDP sender");
    }
}

DatagramSender::~DatagramSender() {
    close(fd_);
}

void DatagramSender::Send(std::uint16_t port, const std::string& datagram) const {
    sockaddr_in to{};
    to.sin_family = AF_INET;
    to.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    to.sin_port = htons(port);
    if (sendto(fd_, datagram.data(), datagram.size(), 0, reinterpret_cast<const sockaddr*>(&to),
               sizeof to) != static_cast<ssize_t>(datagram.size())) {
        throw std::runtime_error("cannot send a datagram");
    }
}

}  // namespace kestrun::testing
