// The FlightGear bridge: the shipped protocol file and the datagram parser;
// the feed, datagrams in over UDP and the host's image out; and the
// recorder's reads of that image through HostLink and a scripted host.

#include <gtest/gtest.h>
#include <poll.h>

#include <cmath>
#include <limits>
#include <string>
#include <vector>

#include "tests/support/flightgear_test_datagrams.h"
#include "flightgear/flightgear_feed.h"
#include "flightgear/flightgear_state.h"
#include "link/host_link.h"
#include "protocol/host_units.h"
#include "recording/host_sample.h"
#include "tests/support/fake_link_platform.h"

namespace kestrun {
namespace {

TEST(FlightGearDatagramTest, ShippedProtocolFileSendsTheFieldsTheParserExpects) {
    const testing::ProtocolFile file = testing::ReadShippedProtocolFile();
    EXPECT_EQ(file.nodes,
              (std::vector<std::string>{"/position/latitude-deg", "/position/longitude-deg",
                                        "/position/altitude-ft", "/orientation/pitch-deg",
                                        "/orientation/roll-deg", "/orientation/heading-deg",
                                        "/instrumentation/airspeed-indicator/indicated-speed-kt",
                                        "/velocities/vertical-speed-fps"}));
    // A float chunk would cut latitude to about a metre.
    EXPECT_EQ(file.types, std::vector<std::string>(8, "double"));
}

TEST(FlightGearDatagramTest, RejectsBadDatagramsByReasonLeavingTheStateAlone) {
    const std::string good = "1,2,3,4,5,6,7,8";
    const std::vector<std::pair<std::string, DatagramVerdict>> cases = {
        {"", DatagramVerdict::kUnterminated},
        {good, DatagramVerdict::kUnterminated},
        {"1,2,3,4,5,6,7\n", DatagramVerdict::kShort},
        {good + ",9\n", DatagramVerdict::kLong},
        {std::string(600, '1') + "\n", DatagramVerdict::kLong},
        {good + "\r\n", DatagramVerdict::kNotNumeric},
        {"nan,2,3,4,5,6,7,inf\n", DatagramVerdict::kNotNumeric},
        {"1,2,1e999,4,5,6,7,8\n", DatagramVerdict::kOutOfRange},
        {"90.000001,2,3,4,5,6,7,8\n", DatagramVerdict::kOutOfRange},
        {"1,2,3,-90.5,5,6,7,8\n", DatagramVerdict::kOutOfRange},
        {"1,2,3,4,5,6,99999,8\n", DatagramVerdict::kOutOfRange},
    };
    for (const auto& [datagram, verdict] : cases) {
        FlightGearState out{42};
        EXPECT_EQ(ParseFlightGearDatagram(datagram, out), verdict) << datagram;
        EXPECT_EQ(out.latitude_deg, 42) << datagram;
    }
    FlightGearState out;  // the ranges' own edges are good
    EXPECT_EQ(ParseFlightGearDatagram("90,180,-1300,-90,-180,0,0,-0\n", out),
              DatagramVerdict::kAccepted);
    EXPECT_EQ(ParseFlightGearDatagram("-90,-180,40000,90,180,360,0,0\n", out),
              DatagramVerdict::kAccepted);
}

std::string At(double latitude) {
    return testing::MakeDatagram({latitude, -122.375, 3000, 0, 0, 90, 100, 0});
}

class FlightGearFeedTest : public ::testing::Test {
  protected:
    void SetUp() override { Listen(); }
    void Listen(std::uint32_t ipv4 = 0x7F000001) {
        Status status;
        feed_ = FlightGearFeed::Open(
            {ipv4, 0}, [this](std::string_view line) { console_.emplace_back(line); }, status);
        ASSERT_NE(feed_, nullptr) << status.message();
        console_.clear();
    }
    // Loopback delivery is synchronous: once one is readable, all are queued.
    void Deliver(const std::vector<std::string>& datagrams, double at = 0) {
        for (const std::string& d : datagrams) testing::SendDatagram(feed_->port(), d);
        pollfd p{feed_->fd(), POLLIN, 0};
        ASSERT_EQ(poll(&p, 1, 2000), 1);
        feed_->OnReadable(at, image());
    }
    OffsetImage& image() { return host_.image(); }
    double Latitude() {
        return LatitudeFromHost(static_cast<std::int64_t>(image().GetU64(kOffsetLatitude)));
    }
    bool Said(std::size_t line, const std::string& words) const {
        return line < console_.size() && console_[line].find(words) != std::string::npos;
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
        const auto climb = static_cast<std::int32_t>(image().GetU32(kOffsetVerticalSpeed));
        near(VerticalSpeedFromHost(climb), want.vertical_speed_fps * 0.3048, 1.0 / 256);
    }

    std::unique_ptr<FlightGearFeed> feed_;
    std::vector<std::string> console_;
    FakeLinkPlatform host_;
    HostLink link_{host_};
};

TEST_F(FlightGearFeedTest, RecorderReadsWhatFlightGearSent) {
    WriteHostIdentity(0x32800000, kFlightGearSimulatorCode, image());
    LinkResult result = 0;
    ASSERT_TRUE(link_.OpenLink(kFlightGearSimulatorCode, result));
    // Climbing right turn, nose up, south-west.
    const FlightGearState climbing{
        -33.946111111111108, -118.40805555555556, 3012.3456789, 7.25, 21.5, 359.99, 101.37, 8.4};
    Deliver({testing::MakeDatagram(climbing)});
    ExpectRecorderReads(climbing);
    // Descending left turn, nose down, below sea level, at the date line.
    const FlightGearState descending{
        64.12345678901234, 179.99999999, -12.5, -4.5, -30.25, 0.001, 0, -11.75};
    Deliver({testing::MakeDatagram(descending)});
    ExpectRecorderReads(descending);
}

TEST_F(FlightGearFeedTest, AppliesTheNewestGoodDatagramAndTellsEachJunkReasonOnce) {
    Deliver({At(37.5), At(37.6), "37.7,junk\n"});
    EXPECT_NEAR(Latitude(), 37.6, 1e-12);
    EXPECT_TRUE(Said(0, "fewer than 8 fields")) << console_[0];
    EXPECT_TRUE(Said(1, "FlightGear feed started"));

    // An oversized datagram must not be cut down to its good-looking start.
    Deliver({"1,2\n", "91,2,3,4,5,6,7,8\n", At(10) + std::string(3000, '0') + "\n"});
    EXPECT_NEAR(Latitude(), 37.6, 1e-12);
    EXPECT_EQ(console_.size(), 4u);  // out of range and too long; "fewer" not again
    EXPECT_EQ(feed_->count(DatagramVerdict::kShort), 2u);
    EXPECT_EQ(feed_->count(DatagramVerdict::kLong), 1u);
    EXPECT_NE(feed_->Summary().find("2 good datagrams, 4 ignored"), std::string::npos);
}

TEST_F(FlightGearFeedTest, SaysOnceWhenTheFeedStopsAndWhenItIsBackFromANewPort) {
    feed_->Update(10, image());  // silence before the first datagram is no news
    Deliver({At(1)});
    feed_->Update(1.9, image());
    EXPECT_TRUE(feed_->live());
    feed_->Update(2, image());
    feed_->Update(3, image());
    EXPECT_FALSE(feed_->live());
    Deliver({"1,2,3,4,5,6,7,nan\n"}, 4);  // junk does not bring it back
    EXPECT_FALSE(feed_->live());
    Deliver({At(3)}, 5);  // every send comes from a new port
    EXPECT_TRUE(feed_->live());
    EXPECT_NEAR(Latitude(), 3, 1e-12);
    ASSERT_EQ(console_.size(), 4u);
    EXPECT_TRUE(Said(1, "FlightGear feed stopped")) << console_[1];
    EXPECT_TRUE(Said(3, "FlightGear feed is back")) << console_[3];
}

TEST_F(FlightGearFeedTest, IgnoresOtherMachines) {
    Listen(0xC0000201);  // FlightGear is on 192.0.2.1, so loopback is now the wrong machine
    Deliver({At(5)});
    EXPECT_EQ(feed_->count(DatagramVerdict::kWrongSender), 1u);
    EXPECT_EQ(image().GetU64(kOffsetLatitude), 0u);
}

TEST(FlightGearAddressTest, ParsesPortAndOptionalAddress) {
    FlightGearAddress a;
    ASSERT_TRUE(ParseFlightGearAddress("192.168.1.20:5501", a).ok());
    EXPECT_EQ(a.ipv4, 0xC0A80114u);
    EXPECT_EQ(a.port, 5501);
    for (const char* bad : {"", "0", "65536", "55x", "host:5500", "1.2.3:5500", "1.2.3.4:"}) {
        EXPECT_FALSE(ParseFlightGearAddress(bad, a).ok()) << bad;
    }
    EXPECT_EQ(a.port, 5501);  // untouched by every failure
    ASSERT_TRUE(ParseFlightGearAddress("6000", a).ok());
    EXPECT_EQ(a.ipv4, 0x7F000001u);
}

}  // namespace
}  // namespace kestrun
