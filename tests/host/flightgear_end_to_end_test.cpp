// FlightGear datagrams into a real kestrun-host --flightgear, a few seconds of
// kestrun-record, and kestrun-export --format csv: what went in comes out.

#include <gtest/gtest.h>
#include <netinet/in.h>
#include <stdlib.h>
#include <sys/socket.h>
#include <unistd.h>

#include <atomic>
#include <cmath>
#include <cstdlib>
#include <fstream>
#include <sstream>
#include <thread>

#include "flightgear_test_datagrams.h"
#include "tests/integration/host_process.h"
#include "tests/integration/runtime_sandbox.h"

namespace kestrun {
namespace {

// Datagram k of the flight: every value differs from one datagram to the
// next, and latitude tells which datagram a record holds.
FlightGearState Moment(int k) {
    return {37.5 + 0.001 * k,        -122.25 - 0.0005 * k,
            3000.0 + 2.5 * k,        -5.0 + 0.375 * (k % 31),
            -40.0 + 1.25 * (k % 61), std::fmod(10.0 + 3.5 * k, 360.0),
            80.0 + 0.5 * (k % 50),   1.0};
}

std::uint16_t FreeUdpPort() {
    const int fd = socket(AF_INET, SOCK_DGRAM, 0);
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    socklen_t length = sizeof address;
    bind(fd, reinterpret_cast<sockaddr*>(&address), sizeof address);
    getsockname(fd, reinterpret_cast<sockaddr*>(&address), &length);
    close(fd);
    return ntohs(address.sin_port);
}

TEST(FlightGearEndToEndTest, RecordedAndExportedFlightShowsWhatFlightGearSent) {
    testing::RuntimeSandbox sandbox;
    ::setenv("XDG_CONFIG_HOME", sandbox.root().c_str(), 1);
    const std::uint16_t port = FreeUdpPort();
    testing::HostProcess host;
    ASSERT_TRUE(host.Start({"--flightgear", "127.0.0.1:" + std::to_string(port)}));

    // FlightGear at ten datagrams a second while the recorder runs.
    std::atomic<bool> flying{true};
    std::atomic<int> sent{0};
    std::thread flightgear([&] {
        for (int k = 0; flying; ++k, ++sent) {
            testing::SendDatagram(port, testing::MakeDatagram(Moment(k)));
            std::this_thread::sleep_for(std::chrono::milliseconds(100));
        }
    });
    while (sent < 3) std::this_thread::sleep_for(std::chrono::milliseconds(10));
    const std::string flight = sandbox.root() + "/flight.dat";
    const std::string csv = sandbox.root() + "/flight.csv";
    const int recorded = std::system(
        (std::string(KESTRUN_RECORD_PATH) + " --seconds 3 --output " + flight + " >/dev/null")
            .c_str());
    flying = false;
    flightgear.join();
    ASSERT_EQ(recorded, 0);
    ASSERT_EQ(
        std::system(
            (std::string(KESTRUN_EXPORT_PATH) + " --format csv -o " + csv + " " + flight).c_str()),
        0);

    std::ifstream in(csv);
    std::string line;
    std::getline(in, line);  // header
    int rows = 0;
    while (std::getline(in, line)) {
        ++rows;
        std::stringstream fields(line);
        std::string date, time, cell;
        std::getline(fields, date, ',');
        std::getline(fields, time, ',');
        double v[8];  // latitude ... airspeed, as the CSV has them
        for (double& value : v) {
            ASSERT_TRUE(std::getline(fields, cell, ',')) << line;
            value = std::stod(cell);
        }
        const int k = static_cast<int>(std::lround((v[0] - 37.5) / 0.001));
        ASSERT_GE(k, 0) << line;
        ASSERT_LT(k, sent.load()) << line;
        const FlightGearState s = Moment(k);
        EXPECT_NEAR(v[0], s.latitude_deg, 1e-7) << line;
        EXPECT_NEAR(v[1], s.longitude_deg, 1e-7) << line;
        EXPECT_NEAR(v[2], s.altitude_ft * 0.3048, 0.01) << line;
        EXPECT_NEAR(v[3], s.altitude_ft, 0.01) << line;
        // The CSV's pitch is positive nose up and its bank positive right wing
        // down, as FlightGear's: the host's signs must cancel out.
        EXPECT_NEAR(v[4], s.pitch_deg, 0.001) << line;
        EXPECT_NEAR(v[5], s.roll_deg, 0.001) << line;
        EXPECT_NEAR(v[6], s.heading_deg, 0.001) << line;
        EXPECT_NEAR(v[7], s.indicated_airspeed_kt, 0.01) << line;
    }
    EXPECT_GE(rows, 3);  // one record a second
}

}  // namespace
}  // namespace kestrun
