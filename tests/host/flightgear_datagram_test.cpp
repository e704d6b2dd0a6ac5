#include "host/flightgear/flightgear_datagram.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "flightgear_test_datagrams.h"

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

}  // namespace
}  // namespace kestrun
