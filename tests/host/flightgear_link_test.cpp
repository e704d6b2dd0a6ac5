// FlightGear datagrams in, the recorder's reads out: the feed fills the image
// of a scripted host, and HostLink reads it back as the recorder does.

#include <gtest/gtest.h>
#include <poll.h>

#include <cmath>
#include <limits>

#include "flightgear_test_datagrams.h"
#include "host/flightgear/flightgear_feed.h"
#include "host/flightgear/flightgear_state.h"
#include "link/host_link.h"
#include "protocol/host_units.h"
#include "support/fake_link_platform.h"

namespace kestrun {
namespace {

using testing::DatagramSender;
using testing::MakeDatagram;

// What the recorder reads each second, in the host's words.
struct Sample {
    std::int64_t latitude = 0;
    std::int64_t longitude = 0;
    std::uint32_t altitude_fraction = 0;
    std::int32_t altitude_metres = 0;
    std::int32_t pitch = 0;
    std::int32_t bank = 0;
    std::uint32_t heading = 0;
    std::int32_t airspeed = 0;
    std::int32_t vertical_speed = 0;
};

class FlightGearLinkTest : public ::testing::Test {
  protected:
    void SetUp() override {
        MarkFlightGearSimulator(platform_.image());
        Status status;
        feed_ = FlightGearFeed::Open(
            {0x7F000001, 0}, [](std::string_view) {}, status);
        ASSERT_NE(feed_, nullptr) << status.message();
    }

    void Feed(const std::string& datagram) {
        sender_.Send(feed_->port(), datagram);
        pollfd p{feed_->fd(), POLLIN, 0};
        ASSERT_EQ(poll(&p, 1, 2000), 1);
        feed_->OnReadable(FlightGearFeed::Clock::now(), platform_.image());
    }

    Sample ReadThroughLink() {
        Sample s;
        LinkResult result{};
        auto read = [&](std::uint32_t offset, std::int32_t size, void* to) {
            EXPECT_TRUE(link_.QueueRead(static_cast<std::int32_t>(offset), size, to, result));
        };
        read(kOffsetLatitude, 8, &s.latitude);
        read(kOffsetLongitude, 8, &s.longitude);
        read(kOffsetAltitudeFraction, 4, &s.altitude_fraction);
        read(kOffsetAltitudeMetres, 4, &s.altitude_metres);
        read(kOffsetPitch, 4, &s.pitch);
        read(kOffsetBank, 4, &s.bank);
        read(kOffsetHeading, 4, &s.heading);
        read(kOffsetIndicatedAirspeed, 4, &s.airspeed);
        read(kOffsetVerticalSpeed, 4, &s.vertical_speed);
        EXPECT_TRUE(link_.ProcessQueue(result)) << static_cast<int>(result);
        return s;
    }

    // Every value within the resolution of its unit (plus a double's last bit),
    // with the host's signs.
    static void ExpectSample(const Sample& s, const FlightGearState& want) {
        auto near = [](double got, double expected, double unit, const char* what) {
            const double slack = 4 * std::numeric_limits<double>::epsilon() * std::abs(expected);
            EXPECT_NEAR(got, expected, unit + slack) << what;
        };
        const double angle = 360.0 / 4294967296.0;
        near(LatitudeFromHost(s.latitude), want.latitude_deg, 90.0 / (10001750.0 * 4294967296.0),
             "latitude");
        near(LongitudeFromHost(s.longitude), want.longitude_deg, 360.0 / 18446744073709551616.0,
             "longitude");
        near(AltitudeFromHost({s.altitude_fraction, s.altitude_metres}), want.altitude_ft * 0.3048,
             1.0 / 4294967296.0, "altitude");
        near(SignedAngleFromHost(s.pitch), -want.pitch_deg, angle, "pitch");
        near(SignedAngleFromHost(s.bank), -want.roll_deg, angle, "bank");
        near(HeadingFromHost(s.heading), want.heading_deg, angle, "heading");
        near(AirspeedFromHost(s.airspeed), want.indicated_airspeed_kt, 1.0 / 128, "airspeed");
        near(VerticalSpeedFromHost(s.vertical_speed), want.vertical_speed_fps * 0.3048, 1.0 / 256,
             "vertical speed");
    }

    FakeLinkPlatform platform_;
    HostLink link_{platform_};
    std::unique_ptr<FlightGearFeed> feed_;
    DatagramSender sender_;
};

TEST_F(FlightGearLinkTest, RecorderReadsWhatFlightGearSent) {
    LinkResult result{};
    ASSERT_TRUE(link_.OpenLink(kFlightGearSimulatorCode, result)) << static_cast<int>(result);
    EXPECT_EQ(link_.SimulatorVersion, kFlightGearSimulatorCode);

    // Climbing right turn, nose up, south-west of the origin.
    FlightGearState climbing;
    climbing.latitude_deg = -33.946111111111108;
    climbing.longitude_deg = -118.40805555555556;
    climbing.altitude_ft = 3012.3456789;
    climbing.pitch_deg = 7.25;
    climbing.roll_deg = 21.5;
    climbing.heading_deg = 359.99;
    climbing.indicated_airspeed_kt = 101.37;
    climbing.vertical_speed_fps = 8.4;
    Feed(MakeDatagram(climbing));
    Sample s = ReadThroughLink();
    ExpectSample(s, climbing);
    EXPECT_LT(s.pitch, 0) << "nose up reads negative";
    EXPECT_LT(s.bank, 0) << "right wing down reads negative";

    // Junk in between changes nothing the recorder reads.
    Feed("-33.9,-118.4,3000,7,21,359,101,8,99\n");
    Feed("-33.9,-118.4,3000,7,21,359,101,nan\n");
    ExpectSample(ReadThroughLink(), climbing);

    // Descending left turn, nose down, north-east, across the date line.
    FlightGearState descending;
    descending.latitude_deg = 64.12345678901234;
    descending.longitude_deg = 179.99999999;
    descending.altitude_ft = -12.5;
    descending.pitch_deg = -4.5;
    descending.roll_deg = -30.25;
    descending.heading_deg = 0.001;
    descending.indicated_airspeed_kt = 0;
    descending.vertical_speed_fps = -11.75;
    Feed(MakeDatagram(descending));
    s = ReadThroughLink();
    ExpectSample(s, descending);
    EXPECT_GT(s.pitch, 0);
    EXPECT_GT(s.bank, 0);
    link_.CloseLink();
}

}  // namespace
}  // namespace kestrun
