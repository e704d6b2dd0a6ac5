// FlightGear datagrams in, the recorder's reads out: the feed fills the image
// of a scripted host, and HostLink reads it back.

#include <gtest/gtest.h>
#include <poll.h>

#include <cmath>
#include <limits>

#include "flightgear_test_datagrams.h"
#include "host/flightgear/flightgear_feed.h"
#include "host/flightgear/flightgear_state.h"
#include "link/host_link.h"
#include "protocol/host_units.h"
#include "recording/flight_sample.h"
#include "support/fake_link_platform.h"

namespace kestrun {
namespace {

class FlightGearLinkTest : public ::testing::Test {
  protected:
    void SetUp() override {
        WriteHostIdentity(0x32800000, kFlightGearSimulatorCode, platform_.image());
        Status status;
        feed_ = FlightGearFeed::Open(
            {0x7F000001, 0}, [](std::string_view) {}, status);
        ASSERT_NE(feed_, nullptr) << status.message();
        ASSERT_TRUE(link_.OpenLink(kFlightGearSimulatorCode, result_));
    }
    void Feed(const std::string& datagram) {
        testing::SendDatagram(feed_->port(), datagram);
        pollfd p{feed_->fd(), POLLIN, 0};
        ASSERT_EQ(poll(&p, 1, 2000), 1);
        feed_->OnReadable(0, platform_.image());
    }
    // Reads what the recorder reads, with its own eight reads, and checks
    // each value to the resolution of its unit; vertical speed, which the
    // recorder leaves alone, straight from the image.
    void ExpectRecorderReads(const FlightGearState& want) {
        FlightRecord r;
        ASSERT_FALSE(SampleHost(link_, r).has_value());
        EXPECT_EQ(r.Pitch<0, want.pitch_deg> 0) << "host pitch is negative nose up";
        EXPECT_EQ(r.Bank<0, want.roll_deg> 0) << "host bank is negative right wing down";
        const auto near = [](double a, double b, double unit) {
            EXPECT_NEAR(a, b, unit + 4 * std::numeric_limits<double>::epsilon() * std::abs(b));
        };
        const double angle = std::ldexp(360.0, -32);
        near(LatitudeFromHost(r.Latitude), want.latitude_deg, 90.0 / 10001750 * std::ldexp(1, -32));
        near(LongitudeFromHost(r.Longitude), want.longitude_deg, std::ldexp(360.0, -64));
        near(AltitudeFromHost({r.AltitudeFraction, r.AltitudeMetres}), want.altitude_ft * 0.3048,
             std::ldexp(1, -32));
        near(-SignedAngleFromHost(r.Pitch), want.pitch_deg, angle);
        near(-SignedAngleFromHost(r.Bank), want.roll_deg, angle);
        near(HeadingFromHost(r.Heading), want.heading_deg, angle);
        near(AirspeedFromHost(r.IAS), want.indicated_airspeed_kt, 1.0 / 128);
        const auto climb =
            static_cast<std::int32_t>(platform_.image().GetU32(kOffsetVerticalSpeed));
        near(VerticalSpeedFromHost(climb), want.vertical_speed_fps * 0.3048, 1.0 / 256);
    }

    FakeLinkPlatform platform_;
    HostLink link_{platform_};
    LinkResult result_{};
    std::unique_ptr<FlightGearFeed> feed_;
};

TEST_F(FlightGearLinkTest, RecorderReadsWhatFlightGearSent) {
    EXPECT_EQ(link_.SimulatorVersion, kFlightGearSimulatorCode);
    // Climbing right turn, nose up, south-west; then junk that changes nothing.
    const FlightGearState climbing{
        -33.946111111111108, -118.40805555555556, 3012.3456789, 7.25, 21.5, 359.99, 101.37, 8.4};
    Feed(testing::MakeDatagram(climbing));
    ExpectRecorderReads(climbing);
    Feed("-33.9,-118.4,3000,7,21,359,101,8,99\n");
    Feed("-33.9,-118.4,3000,7,21,359,101,nan\n");
    ExpectRecorderReads(climbing);

    // Descending left turn, nose down, below sea level, at the date line.
    const FlightGearState descending{
        64.12345678901234, 179.99999999, -12.5, -4.5, -30.25, 0.001, 0, -11.75};
    Feed(testing::MakeDatagram(descending));
    ExpectRecorderReads(descending);
}

}  // namespace
}  // namespace kestrun
