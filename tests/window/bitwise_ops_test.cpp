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
    EXPECT_EQ(Shift(-17, 2, false), -4);  // truncates, unlike an arithmetic shift
    EXPECT_EQ(Shift(INT_MIN, 30, false), -2);
    EXPECT_EQ(Shift(3, 2, true), 12);
    EXPECT_EQ(Shift(-3, 2, true), -12);
    EXPECT_EQ(Shift(1, -1, true), 0);  // 0.5 rounds to even
    EXPECT_EQ(Shift(3, -1, true), 2);  // 1.5 rounds to even
    EXPECT_EQ(Shift(5, -1, true), 2);  // 2.5 rounds to even
    EXPECT_EQ(Shift(1, 30, true), 1 << 30);
    EXPECT_EQ(Shift(-1, 31, true), INT_MIN);
    EXPECT_EQ(Shift(0, 1000, true), 0);
}

TEST(ShiftTest, RaisesAnErrorFromShiftWhenThePowerOrProductDoesNotFit) {
    const auto fails = [](std::int32_t value, std::int32_t bits, bool to_left) {
        try {
            (void)Shift(value, bits, to_left);
        } catch (const ShiftError& error) {
            return std::string(error.source()) == "Shift";
        }
        return false;
    };
    EXPECT_TRUE(fails(1, 31, false));    // 2^31 does not fit the divisor
    EXPECT_TRUE(fails(1, 5000, false));  // the power is infinite
    EXPECT_TRUE(fails(1, -1, false));    // 0.5 rounds to a zero divisor
    EXPECT_TRUE(fails(1, -40, false));
    EXPECT_TRUE(fails(1, 31, true));  // 2^31 does not fit the product
    EXPECT_TRUE(fails(3, 30, true));
    EXPECT_TRUE(fails(INT_MAX, 1, true));
    EXPECT_FALSE(fails(INT_MAX, 0, false));
}

TEST(ConnectedStatusTextTest, ShowsTheTopFourNibblesAsVersionDigits) {
    EXPECT_EQ(ConnectedStatusText(0x32800000), "Connected to Flight Simulator (host ver3.280)");
    EXPECT_EQ(ConnectedStatusText(0x19980005), "Connected to Flight Simulator (host ver1.998)");
    // Nibbles above 9 continue after '9' in code order: 10 is ':', 15 is '?'.
    EXPECT_EQ(ConnectedStatusText(0x3A0F0000), "Connected to Flight Simulator (host ver3.:0?)");
    // A word with its top bit set still shows its own nibbles.
    EXPECT_EQ(ConnectedStatusText(static_cast<std::int32_t>(0xA1000000u)),
              "Connected to Flight Simulator (host ver:.100)");
}

}  // namespace
}  // namespace kestrun
