#include "host/flightgear/flightgear_feed.h"

#include <gtest/gtest.h>
#include <poll.h>

#include <chrono>
#include <string>
#include <vector>

#include "flightgear_test_datagrams.h"
#include "host/flightgear/flightgear_address.h"
#include "protocol/host_units.h"

namespace kestrun {
namespace {

using namespace std::chrono_literals;
using testing::DatagramSender;
using testing::MakeDatagram;
using Clock = FlightGearFeed::Clock;

FlightGearState At(double latitude) {
    FlightGearState s;
    s.latitude_deg = latitude;
    s.longitude_deg = -122.375;
    s.altitude_ft = 3000;
    s.indicated_airspeed_kt = 100;
    return s;
}

class FlightGearFeedTest : public ::testing::Test {
  protected:
    void Listen(std::uint32_t ipv4) {
        Status status;
        feed_ = FlightGearFeed::Open(
            {ipv4, 0}, [this](std::string_view line) { console_.emplace_back(line); }, status);
        ASSERT_TRUE(status.ok()) << status.message();
        ASSERT_NE(feed_, nullptr);
        console_.clear();
    }
    // Sends, waits until the datagrams are there, then lets the feed drain.
    void Deliver(const DatagramSender& from, const std::vector<std::string>& datagrams,
                 Clock::time_point now) {
        for (const std::string& d : datagrams) from.Send(feed_->port(), d);
        pollfd p{feed_->fd(), POLLIN, 0};
        ASSERT_EQ(poll(&p, 1, 2000), 1);
        // Loopback delivery is synchronous, so all of them are queued now.
        feed_->OnReadable(now, image_);
    }
    double Latitude() const {
        return LatitudeFromHost(static_cast<std::int64_t>(image_.GetU64(kOffsetLatitude)));
    }
    std::uint64_t Ignored() const {
        std::uint64_t n = 0;
        for (std::size_t i = 1; i < kDatagramVerdictCount; ++i) {
            n += feed_->count(static_cast<DatagramVerdict>(i));
        }
        return n;
    }

    std::unique_ptr<FlightGearFeed> feed_;
    std::vector<std::string> console_;
    OffsetImage image_;
    DatagramSender sender_;
    Clock::time_point t0_ = Clock::now();
};

TEST_F(FlightGearFeedTest, AppliesTheNewestGoodDatagramAndIgnoresJunk) {
    Listen(0x7F000001);
    Deliver(sender_, {MakeDatagram(At(37.5)), MakeDatagram(At(37.6)), "37.7,junk\n"}, t0_);
    EXPECT_NEAR(Latitude(), 37.6, 1e-12);
    EXPECT_EQ(feed_->count(DatagramVerdict::kAccepted), 2u);
    EXPECT_EQ(feed_->count(DatagramVerdict::kShort), 1u);
    ASSERT_EQ(console_.size(), 2u);
    EXPECT_NE(console_[0].find("fewer than 8 fields"), std::string::npos) << console_[0];
    EXPECT_NE(console_[1].find("FlightGear feed started"), std::string::npos) << console_[1];

    // Only junk: the image keeps the last good state; each reason is told once,
    // and an oversized datagram is not mistaken for a good one cut short.
    const std::string huge = MakeDatagram(At(10)) + std::string(3000, '0') + "\n";
    Deliver(sender_, {"1,2\n", "nan,2,3,4,5,6,7,8\n", "91,2,3,4,5,6,7,8\n", huge}, t0_);
    EXPECT_NEAR(Latitude(), 37.6, 1e-12);
    EXPECT_EQ(Ignored(), 5u);
    EXPECT_EQ(feed_->count(DatagramVerdict::kLong), 1u);
    EXPECT_EQ(console_.size(), 5u);  // not-numeric, out-of-range, long; not short again
    EXPECT_NE(feed_->Summary().find("2 good datagrams, 5 ignored"), std::string::npos)
        << feed_->Summary();
}

TEST_F(FlightGearFeedTest, FollowsARestartedFlightGearFromANewPortAtOnce) {
    Listen(0x7F000001);
    Deliver(sender_, {MakeDatagram(At(1))}, t0_);
    DatagramSender restarted;
    Deliver(restarted, {MakeDatagram(At(2))}, t0_ + 100ms);
    EXPECT_NEAR(Latitude(), 2, 1e-12);
    EXPECT_EQ(Ignored(), 0u);
}

TEST_F(FlightGearFeedTest, IgnoresOtherMachines) {
    // Listening for a FlightGear elsewhere: our own loopback datagrams are
    // from the wrong machine.
    Listen(0xC0000201);  // 192.0.2.1
    Deliver(sender_, {MakeDatagram(At(5))}, t0_);
    EXPECT_EQ(feed_->count(DatagramVerdict::kWrongSender), 1u);
    EXPECT_EQ(image_.GetU64(kOffsetLatitude), 0u);
    EXPECT_FALSE(feed_->live());
}

TEST_F(FlightGearFeedTest, SaysOnceWhenTheFeedStopsAndWhenItComesBack) {
    Listen(0x7F000001);
    feed_->OnTick(t0_ + 10s);  // nothing before the first datagram
    Deliver(sender_, {MakeDatagram(At(1))}, t0_);
    feed_->OnTick(t0_ + 1900ms);
    EXPECT_TRUE(feed_->live());
    feed_->OnTick(t0_ + 2s);
    feed_->OnTick(t0_ + 3s);
    EXPECT_FALSE(feed_->live());
    // Junk does not bring it back.
    Deliver(sender_, {"x\n"}, t0_ + 4s);
    EXPECT_FALSE(feed_->live());
    Deliver(sender_, {MakeDatagram(At(3))}, t0_ + 5s);
    feed_->OnTick(t0_ + 5500ms);
    EXPECT_TRUE(feed_->live());
    EXPECT_NEAR(Latitude(), 3, 1e-12);

    ASSERT_EQ(console_.size(), 4u);
    EXPECT_NE(console_[0].find("started"), std::string::npos) << console_[0];
    EXPECT_NE(console_[1].find("FlightGear feed stopped"), std::string::npos) << console_[1];
    EXPECT_NE(console_[2].find("fewer than 8 fields"), std::string::npos) << console_[2];
    EXPECT_NE(console_[3].find("FlightGear feed is back"), std::string::npos) << console_[3];
}

TEST(FlightGearAddressTest, ParsesPortAndOptionalAddress) {
    FlightGearAddress a;
    ASSERT_TRUE(ParseFlightGearAddress("6000", a).ok());
    EXPECT_EQ(a.ipv4, 0x7F000001u);
    EXPECT_EQ(a.port, 6000);
    ASSERT_TRUE(ParseFlightGearAddress("192.168.1.20:5501", a).ok());
    EXPECT_EQ(a.ipv4, 0xC0A80114u);
    EXPECT_EQ(a.port, 5501);
    ASSERT_TRUE(ParseFlightGearAddress("localhost:65535", a).ok());
    EXPECT_EQ(a.ipv4, 0x7F000001u);

    for (const char* bad : {"", "0", "65536", "-1", "55x", "host:5500", "1.2.3:5500",
                            "1.2.3.4:", ":5500", "1.2.3.4:5500:1"}) {
        FlightGearAddress b;
        const Status status = ParseFlightGearAddress(bad, b);
        EXPECT_FALSE(status.ok()) << bad;
        EXPECT_EQ(b.port, 5500) << bad;
    }
}

TEST(FlightGearFeedOpenTest, ReportsAPortInUse) {
    Status status;
    auto first = FlightGearFeed::Open(
        {0x7F000001, 0}, [](std::string_view) {}, status);
    ASSERT_NE(first, nullptr);
    auto second = FlightGearFeed::Open(
        {0x7F000001, first->port()}, [](std::string_view) {}, status);
    EXPECT_EQ(second, nullptr);
    EXPECT_NE(status.message().find("Address already in use"), std::string::npos)
        << status.message();
}

}  // namespace
}  // namespace kestrun
