// kestrun-replay: its keys, and its datagrams read back through the shipped
// input protocol file, field by field, from the real program.

#include <arpa/inet.h>
#include <gtest/gtest.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cstdlib>
#include <map>
#include <string>
#include <vector>

#include "recordfile/flight_sample.h"
#include "tests/support/flightgear_test_datagrams.h"
#include "tests/support/shell_command.h"
#include "replay/terminal.h"

namespace kestrun {
namespace {

using testing::Flown;

TEST(KeyDecoderTest, KeysAndArrowsEvenWhenSplit) {
    const std::vector<std::pair<std::string, std::vector<Key>>> cases = {
        {" q+-=x", {Key::kPause, Key::kQuit, Key::kFaster, Key::kSlower, Key::kFaster}},
        {"\x1b[C\x1b[D\x1bOC", {Key::kForward, Key::kBack, Key::kForward}},
        {"\x1b[1;5D\x1b[A ", {Key::kBack, Key::kPause}},  // modifiers; up is no key
        {"\x1bq", {Key::kQuit}},                          // a lone Escape
    };
    for (const auto& [bytes, expected] : cases) {
        for (std::size_t split = 0; split <= bytes.size(); ++split) {
            KeyDecoder decoder;
            std::vector<Key> keys;
            for (std::size_t i = 0; i < split; ++i) decoder.Feed(bytes[i], keys);
            for (std::size_t i = split; i < bytes.size(); ++i) decoder.Feed(bytes[i], keys);
            EXPECT_EQ(keys, expected) << ::testing::PrintToString(bytes);
        }
    }
}

// A UDP socket on a free loopback port, standing in for FlightGear.
class Listener {
  public:
    Listener() : fd_(socket(AF_INET, SOCK_DGRAM | SOCK_CLOEXEC, 0)) {
        sockaddr_in address{};
        address.sin_family = AF_INET;
        address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        socklen_t size = sizeof address;
        bind(fd_, reinterpret_cast<sockaddr*>(&address), size);
        getsockname(fd_, reinterpret_cast<sockaddr*>(&address), &size);
        port_ = ntohs(address.sin_port);
    }
    ~Listener() { close(fd_); }
    std::uint16_t port() const { return port_; }
    // Everything that arrived. Loopback queues a short replay's datagrams
    // whole, so the replay can run to its end first.
    std::vector<std::string> Drain() {
        std::vector<std::string> got;
        char buffer[1024];
        for (ssize_t n; (n = recv(fd_, buffer, sizeof buffer, MSG_DONTWAIT)) > 0;) {
            got.emplace_back(buffer, static_cast<std::size_t>(n));
        }
        return got;
    }

  private:
    int fd_;
    std::uint16_t port_ = 0;
};

// A datagram as FlightGear reads it with the shipped file: property -> value.
std::map<std::string, double> Read(const std::string& datagram) {
    static const testing::ProtocolFile file = testing::ReadProtocolFile(KESTRUN_REPLAY_PROTOCOL);
    std::map<std::string, double> values;
    EXPECT_TRUE(datagram.ends_with(file.line_separator)) << datagram;
    std::size_t at = 0;
    for (const std::string& node : file.nodes) {
        const std::size_t end =
            datagram.find_first_of(file.var_separator + file.line_separator, at);
        values[node] = std::strtod(datagram.substr(at, end - at).c_str(), nullptr);
        at = end + 1;
    }
    EXPECT_EQ(at, datagram.size()) << "more fields than the file reads: " << datagram;
    return values;
}

void ExpectFlies(const std::string& datagram, const Flown& flown) {
    // What the record holds, to its own resolution: the datagram must carry
    // exactly that, rounded nowhere.
    const FlightSample s = SampleFromRecord(testing::MakeRecord(flown));
    const auto v = Read(datagram);
    EXPECT_EQ(v.at("/position/latitude-deg"), s.latitude_deg);
    EXPECT_EQ(v.at("/position/longitude-deg"), s.longitude_deg);
    EXPECT_DOUBLE_EQ(v.at("/position/altitude-ft") * 0.3048, s.altitude_m);
    EXPECT_NEAR(v.at("/orientation/pitch-deg"), flown.pitch_up, 1e-6);   // nose up positive
    EXPECT_NEAR(v.at("/orientation/roll-deg"), flown.bank_right, 1e-6);  // right wing down
    EXPECT_EQ(v.at("/orientation/heading-deg"), s.heading_deg);
    EXPECT_EQ(v.at("/velocities/airspeed-kt"), s.airspeed_kt);
}

class ReplayTest : public ::testing::Test {
  protected:
    // A straight climb, one record a second from 10:00:00, banked right and
    // nose up so that a wrong sign shows.
    static Flown At(int second) {
        return {.h = 10,
                .s = second,
                .lat = 47.123456789 + second * 1e-4,
                .lon = 8.5 - second * 1e-4,
                .alt_m = 500 + second * 3.25,
                .pitch_up = 4.5,
                .bank_right = 12.25,
                .heading = 135.5,
                .kt = 95 + second * 0.125};
    }
    std::string File(int records) {
        std::string bytes;
        for (int i = 0; i < records; ++i) testing::AppendRecord(bytes, testing::MakeRecord(At(i)));
        return dir_.Write("flight.dat", bytes);
    }
    testing::Outcome Replay(const std::string& args) {
        return testing::Shell(dir_, std::string(KESTRUN_REPLAY_BINARY) + " " + args);
    }
    // Runs the replay against the listener and returns what it sent.
    std::vector<std::string> Fly(const std::string& args) {
        const testing::Outcome outcome =
            Replay(args + " --flightgear " + std::to_string(listener_.port()));
        EXPECT_EQ(outcome.exit_code, 0) << outcome.err;
        return listener_.Drain();
    }
    testing::ScratchDir dir_;
    Listener listener_;
};

TEST_F(ReplayTest, SendsTheRecordedFlightFieldByField) {
    const std::string file = File(21);
    auto sent = Fly(file + " --speed 64 --rate 120");
    ASSERT_GE(sent.size(), 2u);
    ExpectFlies(sent.front(), At(0));
    ExpectFlies(sent.back(), At(20));

    sent = Fly(file + " --speed 32 --from 10:00:05 --to 10:00:15");
    ASSERT_GE(sent.size(), 2u);
    ExpectFlies(sent.front(), At(5));
    ExpectFlies(sent.back(), At(15));
}

TEST_F(ReplayTest, RefusesWhatItCannotPlayWithOneClearLine) {
    const std::string good = File(3);
    const std::string empty = dir_.Write("empty.dat", std::string(100, 'x'));
    struct Case {
        std::string args;
        int exit_code;
        std::string says;
    };
    const std::vector<Case> cases = {
        {"/no/such.dat", 1, "/no/such.dat"},
        {empty, 1, "holds no flight records"},
        {good + " --flightgear 255.255.255.255:5501", 1, "cannot send to 255.255.255.255"},
        {good + " --flightgear 1.2.3:5501", 2, "not an IPv4 address"},
        {good + " --rate 121", 2, "--rate"},
        {good + " --from 24:00:00", 2, "HH:MM:SS"},
        {good + " --from 11:00:00", 2, "not in"},
        {good + " --from 10:00:02 --to 10:00:01", 2, "not in"},
    };
    for (const Case& c : cases) {
        const testing::Outcome outcome = Replay(c.args);
        EXPECT_EQ(outcome.exit_code, c.exit_code) << c.args;
        EXPECT_NE(outcome.err.find(c.says), std::string::npos) << c.args << ": " << outcome.err;
    }
}

}  // namespace
}  // namespace kestrun
