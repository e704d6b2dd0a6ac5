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
};

TEST_F(BlockServerTest, ServesReadsAndWritesInPlaceKeepingHeaders) {
    EncodeReadHeader(block_.data(), kOffsetHostVersion, 4, 1);
    EncodeWriteHeader(block_.data() + 20, 0x1000, 2);
    StoreU16(block_.data() + 32, 0xBEEF);
    EncodeTerminator(block_.data() + 34);
    auto headers_before = std::vector<std::byte>(block_.begin(), block_.begin() + 16);

    EXPECT_EQ(ServeBlock(block_, image_), kAnswerProcessed);
    EXPECT_EQ(LoadU32(block_.data() + 16), 0x32800000u);
    EXPECT_EQ(image_.GetU32(0x1000) & 0xFFFFu, 0xBEEFu);
    EXPECT_TRUE(std::equal(headers_before.begin(), headers_before.end(), block_.begin()));
}

TEST_F(BlockServerTest, LibraryVersionWriteNeverDamagesTheMarker) {
    EncodeWriteHeader(block_.data(), kOffsetLibraryVersion, 2);
    StoreU16(block_.data() + 12, 0x1234);
    EncodeReadHeader(block_.data() + 14, kOffsetSimulatorVersion, 4, 0);
    EncodeTerminator(block_.data() + 34);
    EXPECT_EQ(ServeBlock(block_, image_), kAnswerProcessed);
    EXPECT_EQ(LoadU32(block_.data() + 30), 0xFADE0006u);
    EXPECT_EQ(image_.client_library_version(), 0x1234);
}

TEST_F(BlockServerTest, RefusesBadBlocksWithoutChangingAnything) {
    // A good write followed by an unknown identifier: the write must not land.
    EncodeWriteHeader(block_.data(), 0x2000, 4);
    StoreU32(block_.data() + 12, 0xDEADBEEF);
    StoreU32(block_.data() + 16, 7);
    EXPECT_EQ(ServeBlock(block_, image_), kAnswerRefused);
    EXPECT_EQ(image_.GetU32(0x2000), 0u);

    // A read beyond the image, and a read whose data runs past the block.
    std::fill(block_.begin(), block_.end(), std::byte{0});
    EncodeReadHeader(block_.data(), 0xFFFE, 4, 0);
    EXPECT_EQ(ServeBlock(block_, image_), kAnswerRefused);
    EncodeReadHeader(block_.data(), 0, static_cast<std::uint32_t>(kBlockSize), 0);
    auto before = block_;
    EXPECT_EQ(ServeBlock(block_, image_), kAnswerRefused);
    EXPECT_EQ(block_, before);
}

}  // namespace
}  // namespace kestrun
