#include "host/flightgear/flightgear_feed.h"

#include <gtest/gtest.h>
#include <poll.h>

#include <string>
#include <vector>

#include "flightgear_test_datagrams.h"
#include "protocol/host_units.h"

namespace kestrun {
namespace {

std::string At(double latitude) {
    return testing::MakeDatagram({latitude, -122.375, 3000, 0, 0, 90, 100, 0});
}

class FlightGearFeedTest : public ::testing::Test {
  protected:
    void Listen(std::uint32_t ipv4) {
        Status status;
        feed_ = FlightGearFeed::Open(
            {ipv4, 0}, [this](std::string_view line) { console_.emplace_back(line); }, status);
        ASSERT_NE(feed_, nullptr) << status.message();
        console_.clear();
    }
    // Loopback delivery is synchronous: once one is readable, all are queued.
    void Deliver(const std::vector<std::string>& datagrams, double at) {
        for (const std::string& d : datagrams) testing::SendDatagram(feed_->port(), d);
        pollfd p{feed_->fd(), POLLIN, 0};
        ASSERT_EQ(poll(&p, 1, 2000), 1);
        feed_->OnReadable(at, image_);
    }
    double Latitude() const {
        return LatitudeFromHost(static_cast<std::int64_t>(image_.GetU64(kOffsetLatitude)));
    }
    bool Said(std::size_t line, const std::string& words) const {
        return line < console_.size() && console_[line].find(words) != std::string::npos;
    }

    std::unique_ptr<FlightGearFeed> feed_;
    std::vector<std::string> console_;
    OffsetImage image_;
};

TEST_F(FlightGearFeedTest, AppliesTheNewestGoodDatagramAndTellsEachJunkReasonOnce) {
    Listen(0x7F000001);
    Deliver({At(37.5), At(37.6), "37.7,junk\n"}, 0);
    EXPECT_NEAR(Latitude(), 37.6, 1e-12);
    EXPECT_TRUE(Said(0, "fewer than 8 fields")) << console_[0];
    EXPECT_TRUE(Said(1, "FlightGear feed started"));

    // An oversized datagram must not be cut down to its good-looking start.
    Deliver({"1,2\n", "91,2,3,4,5,6,7,8\n", At(10) + std::string(3000, '0') + "\n"}, 0);
    EXPECT_NEAR(Latitude(), 37.6, 1e-12);
    EXPECT_EQ(console_.size(), 4u);  // out of range and too long; "fewer" not again
    EXPECT_EQ(feed_->count(DatagramVerdict::kShort), 2u);
    EXPECT_EQ(feed_->count(DatagramVerdict::kLong), 1u);
    EXPECT_NE(feed_->Summary().find("2 good datagrams, 4 ignored"), std::string::npos);
}

TEST_F(FlightGearFeedTest, SaysOnceWhenTheFeedStopsAndWhenItIsBackFromANewPort) {
    Listen(0x7F000001);
    feed_->Update(10, image_);  // silence before the first datagram is no news
    Deliver({At(1)}, 0);
    feed_->Update(1.9, image_);
    EXPECT_TRUE(feed_->live());
    feed_->Update(2, image_);
    feed_->Update(3, image_);
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
    Listen(0xC0000201);  // FlightGear is on 192.0.2.1, so loopback is the wrong machine
    Deliver({At(5)}, 0);
    EXPECT_EQ(feed_->count(DatagramVerdict::kWrongSender), 1u);
    EXPECT_EQ(image_.GetU64(kOffsetLatitude), 0u);
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
