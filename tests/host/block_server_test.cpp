#include "host/block_server.h"

#include <gtest/gtest.h>

#include <vector>

#include "protocol/host_units.h"
#include "protocol/little_endian.h"
#include "protocol/request_block.h"

namespace kestrun {
namespace {

class BlockServerTest : public ::testing::Test {
  protected:
    void SetUp() override {
        image_.SetU32(kOffsetHostVersion, 0x32800000);
        image_.SetU32(kOffsetSimulatorVersion, 0xFADE0006);
    }
    OffsetImage image_;
    std::vector<std::byte> block_ = std::vector<std::byte>(kBlockSize);
    std::byte* b_ = block_.data();
};

TEST_F(BlockServerTest, ServesReadsAndWritesInPlaceKeepingHeadersAndTheIdentity) {
    EncodeReadHeader(b_, kOffsetHostVersion, 4, 1);
    EncodeWriteHeader(b_ + 20, kOffsetLibraryVersion, 2);
    StoreU16(b_ + 32, 0x1234);
    EncodeReadHeader(b_ + 34, kOffsetSimulatorVersion, 4, 0);
    EncodeWriteHeader(b_ + 54, 0x1000, 2);
    StoreU16(b_ + 66, 0xBEEF);
    // A client's zeros over both version words are taken and ignored.
    EncodeWriteHeader(b_ + 68, kOffsetHostVersion, 6);
    EncodeTerminator(b_ + 86);
    const std::vector<std::byte> header(b_, b_ + 16);

    EXPECT_EQ(ServeBlock(block_, image_), kAnswerProcessed);
    EXPECT_EQ(LoadU32(b_ + 16), 0x32800000u);
    // The client's library version is kept apart: the marker stays intact.
    EXPECT_EQ(LoadU32(b_ + 50), 0xFADE0006u);
    EXPECT_EQ(image_.client_library_version(), 0x1234);
    EXPECT_EQ(image_.GetU32(0x1000) & 0xFFFFu, 0xBEEFu);
    EXPECT_EQ(image_.GetU32(kOffsetHostVersion), 0x32800000u);
    EXPECT_EQ(image_.GetU32(kOffsetSimulatorVersion), 0xFADE0006u);
    EXPECT_TRUE(std::equal(header.begin(), header.end(), b_));
}

}  // namespace
}  // namespace kestrun
