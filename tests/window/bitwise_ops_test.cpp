#include "window/bitwise_ops.h"

#include <gtest/gtest.h>

#include <climits>

#include "window/status_texts.h"

namespace kestrun {
namespace {

using BitwiseOps::Shift;

TEST(ShiftTest, DividesTowardZeroToTheRightAndRoundsHalfToEvenToTheLeft) {
    EXPECT_EQ(Shift(48, 4, false), 3);
    EXPECT_EQ(Shift(-16, 2, false), -4);
    EXPECT_EQ(Shift(-1, 4, false), 0);
    EXPECT_EQ(Shift(INT_MIN, 30, false), -2);
    EXPECT_EQ(Shift(3, 2, true), 12);
    EXPECT_EQ(Shift(1, -1, true), 0);  // 0.5, 1.5 and 2.5 round to even
    EXPECT_EQ(Shift(3, -1, true), 2);
    EXPECT_EQ(Shift(5, -1, true), 2);
    EXPECT_EQ(Shift(-1, 31, true), INT_MIN);
}

TEST(ShiftTest, RaisesAnErrorFromShiftWhenThePowerOrProductDoesNotFit) {
    const std::tuple<std::int32_t, std::int32_t, bool> failing[] = {
        {1, 31, false},    // 2^31 does not fit the divisor
        {1, 5000, false},  // the power is infinite
        {1, -1, false},    // 0.5 rounds to a zero divisor
        {1, 31, true},     // 2^31 does not fit the product
        {INT_MAX, 1, true},
    };
    for (const auto& [value, bits, to_left] : failing) {
        try {
            (void)Shift(value, bits, to_left);
            ADD_FAILURE() << value << " by " << bits;
        } catch (const ShiftError& error) {
            EXPECT_STREQ(error.source(), "Shift");
        }
    }
}

TEST(ConnectedStatusTextTest, ShowsTheTopFourNibblesAsVersionDigits) {
    EXPECT_EQ(ConnectedStatusText(0x19980005), "Connected to Flight Simulator (host ver1.998)");
    // Nibbles above 9 continue after '9' in code order: 10 is ':', 15 is '?'.
    EXPECT_EQ(ConnectedStatusText(0x3A0F0000), "Connected to Flight Simulator (host ver3.:0?)");
    // A word with its top bit set still shows its own nibbles.
    EXPECT_EQ(ConnectedStatusText(static_cast<std::int32_t>(0xA1000000u)),
              "Connected to Flight Simulator (host ver:.100)");
}

}  // namespace
}  // namespace kestrun
