// FlightGear datagrams into a real kestrun-host --flightgear, a few seconds of
// kestrun-record, and kestrun-export --format csv: what went in comes out.

#include <gtest/gtest.h>

#include <atomic>
#include <cmath>
#include <cstdio>
#include <fstream>
#include <thread>

#include "tests/support/flightgear_test_datagrams.h"
#include "flightgear/flightgear_feed.h"
#include "tests/support/host_process.h"
#include "tests/support/runtime_sandbox.h"

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

// A port nobody listens on: the feed's own pick, let go at once.
std::uint16_t FreeUdpPort() {
    Status status;
    return FlightGearFeed::Open(
               {0x7F000001, 0}, [](std::string_view) {}, status)
        ->port();
}

TEST(FlightGearEndToEndTest, RecordedAndExportedFlightShowsWhatFlightGearSent) {
    testing::RuntimeSandbox sandbox;
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
    const int recorded = testing::RunProgram(KESTRUN_RECORD_PATH,
                                             {"--seconds", "3", "--output", flight}, "/dev/null");
    flying = false;
    flightgear.join();
    ASSERT_EQ(recorded, 0);
    ASSERT_EQ(testing::RunProgram(KESTRUN_EXPORT_PATH, {"--format", "csv", "-o", csv, flight}), 0);

    std::ifstream in(csv);
    std::string line;
    std::getline(in, line);  // header
    int rows = 0;
    while (std::getline(in, line)) {
        ++rows;
        double v[8];  // latitude, longitude, metres, feet, pitch, bank, heading, airspeed
        ASSERT_EQ(std::sscanf(line.c_str(), "%*[^,],%*[^,],%lf,%lf,%lf,%lf,%lf,%lf,%lf,%lf", &v[0],
                              &v[1], &v[2], &v[3], &v[4], &v[5], &v[6], &v[7]),
                  8)
            << line;
        const int k = static_cast<int>(std::lround((v[0] - 37.5) / 0.001));
        ASSERT_TRUE(k >= 0 && k < sent) << line;
        const FlightGearState s = Moment(k);
        EXPECT_NEAR(v[1], s.longitude_deg, 1e-7) << line;
        EXPECT_NEAR(v[2], s.altitude_ft * 0.3048, 0.01) << line;
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
