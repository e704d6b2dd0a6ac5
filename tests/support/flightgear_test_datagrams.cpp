#include "tests/support/flightgear_test_datagrams.h"

#include <arpa/inet.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cstdio>
#include <fstream>
#include <iterator>
#include <regex>
#include <stdexcept>

namespace kestrun::testing {
namespace {

std::vector<std::string> All(const std::string& text, const std::string& tag) {
    const std::regex pattern("<" + tag + ">([^<]*)</" + tag + ">");
    std::vector<std::string> found;
    for (auto it = std::sregex_iterator(text.begin(), text.end(), pattern);
         it != std::sregex_iterator(); ++it) {
        found.push_back((*it)[1]);
    }
    return found;
}

std::string Separator(const std::vector<std::string>& word) {
    if (word.size() != 1) throw std::runtime_error("protocol file: one separator of each kind");
    return word[0] == "newline" ? "\n" : word[0];
}

}  // namespace

ProtocolFile ReadShippedProtocolFile() {
    return ReadProtocolFile(KESTRUN_FLIGHTGEAR_PROTOCOL_FILE);
}

ProtocolFile ReadProtocolFile(const std::string& path) {
    std::ifstream in(path);
    if (!in) throw std::runtime_error("cannot read " + path);
    const std::string text{std::istreambuf_iterator<char>(in), {}};
    return {Separator(All(text, "var_separator")), Separator(All(text, "line_separator")),
            All(text, "type"), All(text, "format"), All(text, "node")};
}

std::string MakeDatagram(const FlightGearState& s) {
    static const ProtocolFile file = ReadShippedProtocolFile();
    const double values[] = {
        s.latitude_deg, s.longitude_deg, s.altitude_ft,           s.pitch_deg,
        s.roll_deg,     s.heading_deg,   s.indicated_airspeed_kt, s.vertical_speed_fps};
    std::string datagram;
    for (std::size_t i = 0; i < file.formats.size(); ++i) {
        char field[64];
        std::snprintf(field, sizeof field, file.formats[i].c_str(), values[i % 8]);
        datagram += (i > 0 ? file.var_separator : "") + field;
    }
    return datagram + file.line_separator;
}

void SendDatagram(std::uint16_t port, const std::string& datagram) {
    const int fd = socket(AF_INET, SOCK_DGRAM | SOCK_CLOEXEC, 0);
    sockaddr_in to{};
    to.sin_family = AF_INET;
    to.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    to.sin_port = htons(port);
    const auto sent = sendto(fd, datagram.data(), datagram.size(), 0,
                             reinterpret_cast<const sockaddr*>(&to), sizeof to);
    close(fd);
    if (sent != static_cast<ssize_t>(datagram.size())) throw std::runtime_error("send failed");
}

}  // namespace kestrun::testing
