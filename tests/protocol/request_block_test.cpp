#include "protocol/request_block.h"

#include <gtest/gtest.h>

#include <array>
#include <vector>

#include "protocol/frame.h"
#include "protocol/little_endian.h"

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
    for (auto name : {"", "HOSTLINK:IPC", "x"}) {
        EXPECT_GE(RegisteredMessageNumber(name), 0xC000u) << name;
    }
}

}  // namespace
}  // namespace kestrun
