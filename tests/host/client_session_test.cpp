#include "host/client_session.h"

#include <fcntl.h>
#include <fmt/core.h>
#include <gtest/gtest.h>
#include <sys/mman.h>
#include <sys/stat.h>
#include <unistd.h>

#include <atomic>
#include <thread>
#include <vector>

#include "host/aircraft_state.h"
#include "host/block_server.h"
#include "platform/posix/atom_table.h"
#include "platform/posix/posix_link_platform.h"
#include "platform/posix/runtime_directory.h"
#include "platform/posix/unique_fd.h"
#include "protocol/host_units.h"
#include "protocol/little_endian.h"
#include "protocol/request_block.h"
#include "tests/support/runtime_sandbox.h"

namespace kestrun {
namespace {

TEST(BlockServerTest, ServesReadsAndWritesInPlaceKeepingHeadersAndTheIdentity) {
    OffsetImage image;
    WriteHostIdentity(0x32800000, 6, image);
    std::vector<std::byte> block(kBlockSize);
    std::byte* b = block.data();
    EncodeReadHeader(b, kOffsetHostVersion, 4, 1);
    EncodeWriteHeader(b + 20, kOffsetLibraryVersion, 2);
    StoreU16(b + 32, 0x1234);
    EncodeReadHeader(b + 34, kOffsetSimulatorVersion, 4, 0);
    EncodeWriteHeader(b + 54, 0x1000, 2);
    StoreU16(b + 66, 0xBEEF);
    // A client's zeros over both version words are taken and ignored.
    EncodeWriteHeader(b + 68, kOffsetHostVersion, 6);
    EncodeTerminator(b + 86);
    const std::vector<std::byte> header(b, b + 16);

    EXPECT_EQ(ServeBlock(block, image), kAnswerProcessed);
    EXPECT_EQ(LoadU32(b + 16), 0x32800000u);
    // The client's library version is kept apart: the marker stays intact.
    EXPECT_EQ(LoadU32(b + 50), 0xFADE0006u);
    EXPECT_EQ(image.client_library_version(), 0x1234);
    EXPECT_EQ(image.GetU32(0x1000) & 0xFFFFu, 0xBEEFu);
    EXPECT_EQ(image.GetU32(kOffsetHostVersion), 0x32800000u);
    EXPECT_EQ(image.GetU32(kOffsetSimulatorVersion), 0xFADE0006u);
    EXPECT_TRUE(std::equal(header.begin(), header.end(), b));
}

// The host's side of one client, whose block and atom the real client
// platform makes.
class ClientSessionTest : public ::testing::Test {
  protected:
    void SetUp() override {
        WriteHostIdentity(0x32800000, 6, image_);
        atom_ = client_.AddAtom(name_);
        view_ = client_.MapView(client_.CreateMapping(name_, kBlockSize));
        ASSERT_NE(view_, nullptr);
        EncodeReadHeader(view_, kOffsetHostVersion, 4, 0);
        EncodeTerminator(view_ + 20);
        ASSERT_TRUE(client_.FlushView(view_, 24));
    }
    // The request as the link sends it: the atom sign-extended.
    static RequestFrame Request(std::uint16_t atom) {
        return RequestFrame{7, RegisteredMessageNumber(kExchangeMessageName),
                            static_cast<std::int16_t>(atom), 0};
    }
    // What the host left in the read's data area.
    std::uint32_t Served() {
        EXPECT_TRUE(client_.RefreshView(view_, 24));
        return LoadU32(view_ + 16);
    }
    UniqueFd OpenBlock() { return UniqueFd(::shm_open(("/" + name_).c_str(), O_RDWR, 0)); }

    testing::RuntimeSandbox sandbox_;
    PosixLinkPlatform client_;
    OffsetImage image_;
    std::string name_ = fmt::format("HOSTLINK:IPC:{:X}:1", ::getpid());
    std::uint16_t atom_ = 0;
    std::byte* view_ = nullptr;
    ClientSession session_{AtomDirectoryPath(RuntimeDirectoryPath()), image_, ::geteuid()};
};

TEST_F(ClientSessionTest, AnswersZeroForWhatItCannotResolveOrMustNotServe) {
    RequestFrame wrong_message = Request(atom_);
    wrong_message.message ^= 1;
    EXPECT_EQ(session_.Answer(wrong_message), 0);
    EXPECT_EQ(session_.Answer(Request(static_cast<std::uint16_t>(atom_ + 1))), 0);  // no atom
    // An atom naming a block that does not exist, and a block too small.
    EXPECT_EQ(session_.Answer(Request(client_.AddAtom("HOSTLINK:IPC:0:1"))), 0);
    const std::string small = name_ + "small";
    ASSERT_NE(client_.CreateMapping(small, 64), 0);
    EXPECT_EQ(session_.Answer(Request(client_.AddAtom(small))), 0);

    // A block others may read is not served, nor one of another user.
    ASSERT_EQ(::fchmod(OpenBlock().get(), 0644), 0);
    EXPECT_EQ(session_.Answer(Request(atom_)), 0);
    ASSERT_EQ(::fchmod(OpenBlock().get(), 0600), 0);
    ClientSession stranger(AtomDirectoryPath(RuntimeDirectoryPath()), image_, ::geteuid() + 1);
    EXPECT_EQ(stranger.Answer(Request(atom_)), 0);
    EXPECT_EQ(Served(), 0u);  // nothing was served
    // The same block, its mode mended, is served by the same session.
    EXPECT_EQ(session_.Answer(Request(atom_)), 1);
    EXPECT_EQ(Served(), 0x32800000u);
}

// A client that keeps shrinking and regrowing its block while the host
// serves it must get answers, never crash the host.
TEST_F(ClientSessionTest, ABlockResizedWhileServedIsRefusedNeverFaults) {
    const UniqueFd block = OpenBlock();
    ASSERT_EQ(::ftruncate(block.get(), 0), 0);
    EXPECT_EQ(session_.Answer(Request(atom_)), 0);

    std::atomic<bool> done{false};
    std::thread resizer([&] {
        for (bool whole = true; !done; whole = !whole) {
            EXPECT_EQ(::ftruncate(block.get(), whole ? kBlockSize : 0), 0);
        }
    });
    int served = 0;
    for (int i = 0; i < 20000; ++i) served += session_.Answer(Request(atom_)).value_or(0);
    done = true;
    resizer.join();
    EXPECT_LT(served, 20000);
}

}  // namespace
}  // namespace kestrun
