#include "protocol/host_units.h"

#include <gtest/gtest.h>

#include <cmath>
#include <limits>

namespace kestrun {
namespace {

// Round trips at each unit's resolution are checked where FlightGear's values
// reach the recorder and where the export gives back what was flown.
TEST(HostUnitsTest, PositionScalesAndTheAntimeridian) {
    // 180 east and 180 west are one meridian: the word wraps, never overflows.
    EXPECT_EQ(LongitudeToHost(180.0), std::numeric_limits<std::int64_t>::min());
    EXPECT_EQ(LongitudeToHost(540.0), LongitudeToHost(180.0));
    // The documented scale: 90 degrees north is 10001750 * 2^32.
    EXPECT_EQ(LatitudeToHost(90.0), 10001750LL << 32);
}

TEST(HostUnitsTest, AltitudeSplitsIntoWholeMetresAndFraction) {
    auto a = AltitudeToHost(123.25);
    EXPECT_EQ(a.metres, 123);
    EXPECT_EQ(a.fraction, 0x40000000u);
    auto below = AltitudeToHost(-0.5);  // below sea level: floor, positive fraction
    EXPECT_EQ(below.metres, -1);
    EXPECT_EQ(below.fraction, 0x80000000u);
    EXPECT_DOUBLE_EQ(AltitudeFromHost(below), -0.5);
    // A fraction that rounds up to a whole metre carries into the metres.
    auto carry = AltitudeToHost(std::nextafter(100.0, 0.0));
    EXPECT_EQ(carry.metres, 100);
    EXPECT_EQ(carry.fraction, 0u);
}

TEST(HostUnitsTest, AnglesWrapAndSpeedsScale) {
    EXPECT_EQ(SignedAngleToHost(90.0), 0x40000000);
    EXPECT_EQ(SignedAngleToHost(-90.0), -0x40000000);
    EXPECT_EQ(SignedAngleToHost(180.0), std::numeric_limits<std::int32_t>::min());
    EXPECT_NEAR(SignedAngleFromHost(SignedAngleToHost(-12.5)), -12.5, 1e-7);
    EXPECT_EQ(HeadingToHost(-90.0), 0xC0000000u);
    EXPECT_EQ(HeadingToHost(360.0), 0u);
    EXPECT_EQ(HeadingToHost(std::nextafter(360.0, 0.0)), 0u);  // rounds to a full turn
    EXPECT_NEAR(HeadingFromHost(HeadingToHost(359.99)), 359.99, 1e-7);
    EXPECT_EQ(AirspeedToHost(100.0), 12800);
    EXPECT_EQ(AirspeedToHost(1e12), std::numeric_limits<std::int32_t>::max());
    EXPECT_EQ(VerticalSpeedToHost(-2.5), -640);
    EXPECT_DOUBLE_EQ(VerticalSpeedFromHost(-640), -2.5);
}

}  // namespace
}  // namespace kestrun
