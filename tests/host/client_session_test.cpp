#include "host/client_session.h"

#include <fcntl.h>
#include <fmt/core.h>
#include <gtest/gtest.h>
#include <sys/mman.h>
#include <unistd.h>

#include "host/aircraft_state.h"
#include "platform/posix/atom_table.h"
#include "platform/posix/posix_link_platform.h"
#include "platform/posix/runtime_directory.h"
#include "protocol/host_units.h"
#include "protocol/little_endian.h"
#include "protocol/request_block.h"
#include "tests/integration/runtime_sandbox.h"

namespace kestrun {
namespace {

// The host's side of one client, whose block and atom the real client
// platform makes; ServeBlock's own refusals are tested beside it.
class ClientSessionTest : public ::testing::Test {
  protected:
    void SetUp() override {
        WriteHostIdentity(0x32800000, 6, image_);
        atom_ = client_.AddAtom(name_);
        block_ = client_.MapView(client_.CreateMapping(name_, kBlockSize));
        ASSERT_NE(block_, nullptr);
        EncodeReadHeader(block_, kOffsetHostVersion, 4, 0);
        EncodeTerminator(block_ + 20);
    }
    // The request as the link sends it: the atom sign-extended.
    static RequestFrame Request(std::uint16_t atom) {
        return RequestFrame{7, RegisteredMessageNumber(kExchangeMessageName),
                            static_cast<std::int16_t>(atom), 0};
    }

    testing::RuntimeSandbox sandbox_;
    PosixLinkPlatform client_;
    OffsetImage image_;
    std::string name_ = fmt::format("HOSTLINK:IPC:{:X}:1", ::getpid());
    std::uint16_t atom_ = 0;
    std::byte* block_ = nullptr;
    ClientSession session_{AtomDirectoryPath(RuntimeDirectoryPath()), image_};
};

TEST_F(ClientSessionTest, ServesTheBlockNamedByTheAtomAgainAndAgain) {
    EXPECT_EQ(session_.Answer(Request(atom_)), 1);
    EXPECT_EQ(LoadU32(block_ + 16), 0x32800000u);
    // A later message naming the same atom sees the same block, with the
    // values the host holds now.
    image_.SetU32(kOffsetHostVersion, 0x40000000);
    EXPECT_EQ(session_.Answer(Request(atom_)), 1);
    EXPECT_EQ(LoadU32(block_ + 16), 0x40000000u);
}

TEST_F(ClientSessionTest, AnswersZeroForWhatItCannotResolve) {
    RequestFrame wrong_message = Request(atom_);
    wrong_message.message ^= 1;
    EXPECT_EQ(session_.Answer(wrong_message), 0);
    EXPECT_EQ(session_.Answer(Request(static_cast<std::uint16_t>(atom_ + 1))), 0);  // no atom
    // An atom naming a block that does not exist.
    EXPECT_EQ(session_.Answer(Request(client_.AddAtom("HOSTLINK:IPC:0:1"))), 0);
    // A block smaller than the protocol's: mapping it whole would kill the
    // host with SIGBUS at the first touch past its end.
    const std::string small = name_ + "small";
    ASSERT_NE(client_.CreateMapping(small, 64), 0);
    EXPECT_EQ(session_.Answer(Request(client_.AddAtom(small))), 0);
    EXPECT_EQ(LoadU32(block_ + 16), 0u);  // nothing was served
}

TEST_F(ClientSessionTest, ABlockShrunkAfterUseIsRefusedNotTouched) {
    ASSERT_EQ(session_.Answer(Request(atom_)), 1);
    // The host keeps its mapping; touching it now would raise SIGBUS.
    const int fd = ::shm_open(("/" + name_).c_str(), O_RDWR, 0);
    ASSERT_GE(fd, 0);
    ASSERT_EQ(::ftruncate(fd, 4096), 0);
    ::close(fd);
    EXPECT_EQ(session_.Answer(Request(atom_)), 0);
}

}  // namespace
}  // namespace kestrun
