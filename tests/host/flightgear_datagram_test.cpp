#include "host/flightgear/flightgear_datagram.h"

#include <gtest/gtest.h>

#include <cmath>
#include <string>
#include <vector>

#include "flightgear_test_datagrams.h"
#include "host/flightgear/flightgear_state.h"
#include "protocol/host_units.h"

namespace kestrun {
namespace {

using testing::MakeDatagram;

// A climbing right turn west of Greenwich and south of the equator, so that
// every sign is exercised.
FlightGearState Climbing() {
    FlightGearState s;
    s.latitude_deg = -33.946111111111108;
    s.longitude_deg = -118.40805555555556;
    s.altitude_ft = 3012.3456789;
    s.pitch_deg = 7.25;  // nose up
    s.roll_deg = 21.5;   // right wing down
    s.heading_deg = 359.99;
    s.indicated_airspeed_kt = 101.37;
    s.vertical_speed_fps = 8.4;  // climbing
    return s;
}

TEST(FlightGearProtocolFileTest, SendsTheFieldsTheParserExpectsInFullPrecision) {
    const testing::ProtocolFile file = testing::ReadShippedProtocolFile();
    EXPECT_EQ(file.var_separator, ",");
    EXPECT_EQ(file.line_separator, "\n");
    const std::vector<std::string> nodes = {
        "/position/latitude-deg",
        "/position/longitude-deg",
        "/position/altitude-ft",
        "/orientation/pitch-deg",
        "/orientation/roll-deg",
        "/orientation/heading-deg",
        "/instrumentation/airspeed-indicator/indicated-speed-kt",
        "/velocities/vertical-speed-fps"};
    ASSERT_EQ(file.chunks.size(), nodes.size());
    for (std::size_t i = 0; i < nodes.size(); ++i) {
        EXPECT_EQ(file.chunks[i].node, nodes[i]);
        // A float chunk would cut latitude to about a metre.
        EXPECT_EQ(file.chunks[i].type, "double") << nodes[i];
    }

    // Every value survives the text exactly.
    const FlightGearState in = Climbing();
    FlightGearState out;
    ASSERT_EQ(ParseFlightGearDatagram(MakeDatagram(in), out), DatagramVerdict::kAccepted);
    EXPECT_EQ(out.latitude_deg, in.latitude_deg);
    EXPECT_EQ(out.longitude_deg, in.longitude_deg);
    EXPECT_EQ(out.altitude_ft, in.altitude_ft);
    EXPECT_EQ(out.roll_deg, in.roll_deg);
    EXPECT_EQ(out.vertical_speed_fps, in.vertical_speed_fps);
}

TEST(FlightGearDatagramTest, RejectsBadDatagramsByReasonAndKeepsTheLastState) {
    const std::string good = MakeDatagram(Climbing());
    const std::string body = good.substr(0, good.size() - 1);
    const std::string seven = body.substr(0, body.rfind(','));
    struct Case {
        std::string datagram;
        DatagramVerdict verdict;
    };
    const std::vector<Case> cases = {
        {"", DatagramVerdict::kUnterminated},
        {body, DatagramVerdict::kUnterminated},
        {"\n", DatagramVerdict::kShort},
        {seven + "\n", DatagramVerdict::kShort},
        {body + ",1\n", DatagramVerdict::kLong},
        {body + "\n\n", DatagramVerdict::kNotNumeric},
        {body + "\r\n", DatagramVerdict::kNotNumeric},
        {std::string(600, '1') + "\n", DatagramVerdict::kLong},
        {"1,2,3,4,5,6,7,\n", DatagramVerdict::kNotNumeric},
        {"1,2,3,4,5,6,7,eight\n", DatagramVerdict::kNotNumeric},
        {"1,2,3,4,5,6,7, 8\n", DatagramVerdict::kNotNumeric},
        {"1,2,3,4,5,6,7,+8\n", DatagramVerdict::kNotNumeric},
        {"1,2,3,4,5,6,7,8x\n", DatagramVerdict::kNotNumeric},
        {"nan,2,3,4,5,6,7,8\n", DatagramVerdict::kNotNumeric},
        {"1,2,3,4,5,inf,7,8\n", DatagramVerdict::kNotNumeric},
        {"1,2,1e999,4,5,6,7,8\n", DatagramVerdict::kOutOfRange},
        {"90.000001,2,3,4,5,6,7,8\n", DatagramVerdict::kOutOfRange},
        {"1,-180.5,3,4,5,6,7,8\n", DatagramVerdict::kOutOfRange},
        {"1,2,3,-90.5,5,6,7,8\n", DatagramVerdict::kOutOfRange},
        {"1,2,3,4,181,6,7,8\n", DatagramVerdict::kOutOfRange},
        {"1,2,3,4,5,720,7,8\n", DatagramVerdict::kOutOfRange},
        {"1,2,3,4,5,6,99999,8\n", DatagramVerdict::kOutOfRange},
        {"1,2,3,4,5,6,7,-1e6\n", DatagramVerdict::kOutOfRange},
    };
    for (const Case& c : cases) {
        FlightGearState out = Climbing();
        EXPECT_EQ(ParseFlightGearDatagram(c.datagram, out), c.verdict) << c.datagram;
        EXPECT_EQ(out.latitude_deg, Climbing().latitude_deg) << "changed by " << c.datagram;
    }
    // The edges of the ranges themselves are good.
    FlightGearState out;
    EXPECT_EQ(ParseFlightGearDatagram("90,180,-1300,-90,-180,0,0,-0\n", out),
              DatagramVerdict::kAccepted);
    EXPECT_EQ(ParseFlightGearDatagram("-90,-180,40000,90,180,360,0,0\n", out),
              DatagramVerdict::kAccepted);
}

TEST(FlightGearStateTest, StoresHostSignsAndTheFlightGearMarker) {
    OffsetImage image;
    FlightGearState s = Climbing();
    StoreFlightGearState(s, image);
    const auto word = [&](std::uint32_t offset) {
        return static_cast<std::int32_t>(image.GetU32(offset));
    };
    EXPECT_LT(word(kOffsetPitch), 0) << "nose up is negative for the host";
    EXPECT_LT(word(kOffsetBank), 0) << "right wing down is negative for the host";
    EXPECT_GT(word(kOffsetVerticalSpeed), 0) << "climbing is positive";
    EXPECT_NEAR(
        AltitudeFromHost({image.GetU32(kOffsetAltitudeFraction), word(kOffsetAltitudeMetres)}),
        s.altitude_ft * 0.3048, 1e-9);

    s.pitch_deg = -3;
    s.roll_deg = -45;
    StoreFlightGearState(s, image);
    EXPECT_GT(word(kOffsetPitch), 0);
    EXPECT_NEAR(SignedAngleFromHost(word(kOffsetBank)), 45, 1e-7);

    MarkFlightGearSimulator(image);
    EXPECT_EQ(image.GetU32(kOffsetSimulatorVersion), 0xFADE0000u | kFlightGearSimulatorCode);
}

}  // namespace
}  // namespace kestrun
