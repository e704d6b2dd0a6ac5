#include "host/client_session.h"

#include <fmt/core.h>
#include <gtest/gtest.h>
#include <unistd.h>

#include <algorithm>
#include <string>
#include <vector>

#include "host/aircraft_state.h"
#include "platform/posix/atom_table.h"
#include "platform/posix/runtime_directory.h"
#include "platform/posix/shared_block.h"
#include "protocol/host_units.h"
#include "protocol/little_endian.h"
#include "protocol/request_block.h"
#include "tests/integration/runtime_sandbox.h"

namespace kestrun {
namespace {

// A client's side of one block, made by hand so that every way of getting it
// wrong can be tried on the host.
class ClientSessionTest : public ::testing::Test {
  protected:
    void SetUp() override {
        ASSERT_TRUE(PrepareRuntimeDirectory(runtime_).ok());
        atoms_ = AtomDirectoryPath(runtime_);
        WriteHostIdentity(0x32800000, 6, image_);
        name_ = fmt::format("HOSTLINK:IPC:{:X}:1", ::getpid());
        const auto created = CreateSharedBlock(name_, kBlockSize);
        ASSERT_TRUE(created.ok());
        fd_ = created.value;
        const auto mapped = MapSharedBlock(fd_, kBlockSize);
        ASSERT_TRUE(mapped.ok());
        block_ = mapped.value;
        const auto atom = AddAtom(atoms_, name_);
        ASSERT_TRUE(atom.ok());
        atom_ = atom.value;
    }
    void TearDown() override {
        UnmapSharedBlock(block_, kBlockSize);
        ::close(fd_);
        RemoveSharedBlock(name_);
    }

    // The request as the link sends it: the atom sign-extended.
    RequestFrame Request(std::uint16_t atom) const {
        return RequestFrame{7, RegisteredMessageNumber(kExchangeMessageName),
                            static_cast<std::int16_t>(atom), 0};
    }
    void QueueVersionRead() {
        EncodeReadHeader(block_, kOffsetHostVersion, 4, 0);
        EncodeTerminator(block_ + 20);
    }

    testing::RuntimeSandbox sandbox_;
    std::string runtime_;
    std::string atoms_;
    OffsetImage image_;
    std::string name_;
    int fd_ = -1;
    std::byte* block_ = nullptr;
    std::uint16_t atom_ = 0;
};

TEST_F(ClientSessionTest, ServesTheBlockNamedByTheAtomAgainAndAgain) {
    ClientSession session(atoms_, image_);
    QueueVersionRead();
    EXPECT_EQ(session.Answer(Request(atom_)), 1);
    EXPECT_EQ(LoadU32(block_ + 16), 0x32800000u);

    // A later message naming the same atom sees the same block, with the
    // values the host holds now.
    image_.SetU32(kOffsetHostVersion, 0x40000000);
    EXPECT_EQ(session.Answer(Request(atom_)), 1);
    EXPECT_EQ(LoadU32(block_ + 16), 0x40000000u);
}

TEST_F(ClientSessionTest, AnswersZeroForWhatItCannotResolve) {
    ClientSession session(atoms_, image_);
    QueueVersionRead();

    RequestFrame wrong_message = Request(atom_);
    wrong_message.message ^= 1;
    EXPECT_EQ(session.Answer(wrong_message), 0);
    EXPECT_EQ(session.Answer(Request(static_cast<std::uint16_t>(atom_ + 1))), 0);  // no atom

    // An atom naming a block that does not exist.
    const auto orphan = AddAtom(atoms_, "HOSTLINK:IPC:0:1");
    ASSERT_TRUE(orphan.ok());
    EXPECT_EQ(session.Answer(Request(orphan.value)), 0);

    // A block smaller than the protocol's: mapping it whole would kill the
    // host with SIGBUS at the first touch past its end.
    const std::string small = name_ + "small";
    const auto small_fd = CreateSharedBlock(small, 64);
    ASSERT_TRUE(small_fd.ok());
    const auto small_atom = AddAtom(atoms_, small);
    ASSERT_TRUE(small_atom.ok());
    EXPECT_EQ(session.Answer(Request(small_atom.value)), 0);
    ::close(small_fd.value);
    RemoveSharedBlock(small);

    EXPECT_EQ(LoadU32(block_ + 16), 0u);  // nothing was served
}

TEST_F(ClientSessionTest, RefusesADamagedBlockAndLeavesItAsItCame) {
    ClientSession session(atoms_, image_);
    // Empty reads back to back to the very end of the block: no room is
    // left for a terminator.
    for (std::size_t at = 0; at < kBlockSize; at += kReadHeaderSize) {
        EncodeReadHeader(block_ + at, kOffsetHostVersion, 0, 0);
    }
    const std::vector<std::byte> before(block_, block_ + kBlockSize);
    EXPECT_EQ(session.Answer(Request(atom_)), 0);
    EXPECT_TRUE(std::equal(before.begin(), before.end(), block_));

    // A write whose count runs past the block after a good write: neither lands.
    EncodeWriteHeader(block_, 0x2000, 2);
    StoreU16(block_ + 12, 0xBEEF);
    EncodeWriteHeader(block_ + 14, 0x2000, 0x8000);
    EXPECT_EQ(session.Answer(Request(atom_)), 0);
    EXPECT_EQ(image_.GetU32(0x2000), 0u);
}

TEST_F(ClientSessionTest, ABlockShrunkAfterUseIsRefusedNotTouched) {
    ClientSession session(atoms_, image_);
    QueueVersionRead();
    ASSERT_EQ(session.Answer(Request(atom_)), 1);
    // The host keeps its mapping; touching it now would raise SIGBUS.
    ASSERT_EQ(::ftruncate(fd_, 4096), 0);
    EXPECT_EQ(session.Answer(Request(atom_)), 0);
}

}  // namespace
}  // namespace kestrun
