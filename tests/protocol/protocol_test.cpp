#include <gtest/gtest.h>

#include <cmath>
#include <limits>
#include <vector>

#include "protocol/frame.h"
#include "protocol/host_units.h"
#include "protocol/little_endian.h"
#include "protocol/request_block.h"

namespace kestrun {
namespace {

class RequestWalkerTest : public ::testing::Test {
  protected:
    std::vector<std::byte> block_ = std::vector<std::byte>(kBlockSize);
    RequestWalker::Step WalkAll(std::vector<Request>* found = nullptr) {
        RequestWalker walker(block_);
        Request request;
        for (;;) {
            auto step = walker.Next(request);
            if (step != RequestWalker::Step::kRequest) return step;
            if (found) found->push_back(request);
        }
    }
};

TEST_F(RequestWalkerTest, WalksReadsAndWritesBackToBackUpToTheTerminator) {
    EncodeReadHeader(block_.data(), 0x3304, 4, 7);
    EncodeWriteHeader(block_.data() + 20, 0x330A, 2);
    EncodeReadHeader(block_.data() + 34, 0x0560, 0, 0);
    StoreU32(block_.data() + 34, 0xABCD0001);  // only the low 16 bits of an identifier count
    StoreU32(block_.data() + 50, 0x12340000);  // the terminator
    std::vector<Request> found;
    ASSERT_EQ(WalkAll(&found), RequestWalker::Step::kEnd);
    ASSERT_EQ(found.size(), 3u);
    EXPECT_EQ(found[0].data_at, 16u);
    EXPECT_EQ(found[0].destination, 7u);
    EXPECT_EQ(found[1].identifier, kWriteIdentifier);
    EXPECT_EQ(found[1].data_at, 32u);
    EXPECT_EQ(found[2].header_at, 34u);
    EXPECT_EQ(found[2].count, 0u);
}

TEST_F(RequestWalkerTest, DamagedBlocksStopTheWalkInsideTheBlock) {
    // Unknown identifier.
    StoreU32(block_.data(), 3);
    EXPECT_EQ(WalkAll(), RequestWalker::Step::kDamaged);
    // A count that runs past the end, including one that would wrap.
    for (std::uint32_t count : {0x8000u - 15u, 0xFFFFFFF0u}) {
        EncodeReadHeader(block_.data(), 0, count, 0);
        EXPECT_EQ(WalkAll(), RequestWalker::Step::kDamaged) << count;
    }
    // A header that straddles the end: written with room to spare, walked
    // with the block's size, so that only its first 8 bytes are inside.
    std::vector<std::byte> longer(kBlockSize + 8);
    EncodeWriteHeader(longer.data(), 0, static_cast<std::uint32_t>(kBlockSize - 12 - 8));
    EncodeReadHeader(longer.data() + kBlockSize - 8, 0, 0, 0);
    RequestWalker walker(std::span<const std::byte>(longer).first(kBlockSize));
    Request request;
    EXPECT_EQ(walker.Next(request), RequestWalker::Step::kRequest);
    EXPECT_EQ(walker.Next(request), RequestWalker::Step::kDamaged);
    // No terminator: requests fill the block exactly.
    std::fill(block_.begin(), block_.end(), std::byte{0});
    EncodeWriteHeader(block_.data(), 0, static_cast<std::uint32_t>(kBlockSize - 12));
    EXPECT_EQ(WalkAll(), RequestWalker::Step::kDamaged);
}

TEST(FrameTest, FramesAreLittleEndianAndMessageNumbersAreRegisteredForm) {
    auto bytes = EncodeRequestFrame({0x01020304, 0xC123, -2, 0});
    EXPECT_EQ(bytes[0], std::byte{0x04});
    EXPECT_EQ(bytes[8], std::byte{0xFE});
    EXPECT_EQ(bytes[11], std::byte{0xFF});
    auto back = DecodeRequestFrame(bytes.data());
    EXPECT_EQ(back.sequence, 0x01020304u);
    EXPECT_EQ(back.wparam, -2);
    auto reply = DecodeReplyFrame(EncodeReplyFrame({9, 1}).data());
    EXPECT_EQ(reply.sequence, 9u);
    EXPECT_EQ(reply.result, 1);

    // FNV-1a-32("a") is 0xE40C292C; the message keeps its low 14 bits.
    EXPECT_EQ(RegisteredMessageNumber("a"), 0xC000u | (0xE40C292Cu & 0x3FFFu));
}

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
