#include <fcntl.h>
#include <fmt/core.h>
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <filesystem>
#include <fstream>
#include <string>

#include "platform/posix/atom_table.h"
#include "platform/posix/runtime_directory.h"
#include "tests/support/runtime_sandbox.h"

namespace kestrun {
namespace {

mode_t ModeOf(const std::string& path) {
    struct stat info {};
    EXPECT_EQ(::lstat(path.c_str(), &info), 0);
    return info.st_mode & 07777;
}

// Why the runtime directory is refused; empty when it is not.
std::string Refusal() {
    std::string path;
    const Status status = PrepareRuntimeDirectory(path);
    return status.ok() ? std::string() : status.message();
}

TEST(RuntimeDirectoryTest, IsCreatedPrivateAndRefusedOnceOthersMayUseIt) {
    testing::RuntimeSandbox sandbox;
    const std::string path = sandbox.runtime();
    const std::string atoms = AtomDirectoryPath(path);
    ::umask(0);  // the mode must not depend on the caller's umask
    EXPECT_EQ(Refusal(), "");
    ::umask(022);
    EXPECT_EQ(ModeOf(path), 0700u);
    EXPECT_EQ(ModeOf(atoms), 0700u);

    ASSERT_EQ(::chmod(path.c_str(), 0750), 0);
    EXPECT_NE(Refusal().find(path + " is open to group or others"), std::string::npos) << Refusal();
    ASSERT_EQ(::chmod(path.c_str(), 0700), 0);
    ASSERT_EQ(::chmod(atoms.c_str(), 0701), 0);
    EXPECT_NE(Refusal().find("open to group or others"), std::string::npos);
}

TEST(RuntimeDirectoryTest, RefusesASymbolicLinkAndAnotherUsersDirectory) {
    testing::RuntimeSandbox sandbox;
    const std::string elsewhere = sandbox.root() + "/elsewhere";
    ASSERT_EQ(::mkdir(elsewhere.c_str(), 0700), 0);
    ASSERT_EQ(::symlink(elsewhere.c_str(), sandbox.runtime().c_str()), 0);
    EXPECT_NE(Refusal().find("symbolic link"), std::string::npos);

    if (::geteuid() != 0) GTEST_SKIP() << "giving a directory away needs root";
    ASSERT_EQ(::unlink(sandbox.runtime().c_str()), 0);
    ASSERT_EQ(::mkdir(sandbox.runtime().c_str(), 0700), 0);
    ASSERT_EQ(::chown(sandbox.runtime().c_str(), 65534, 65534), 0);
    EXPECT_NE(Refusal().find("belongs to user 65534"), std::string::npos) << Refusal();
}

class AtomTableTest : public ::testing::Test {
  protected:
    void SetUp() override { ASSERT_EQ(Refusal(), ""); }
    std::uint16_t Add(std::string_view name) {
        const auto added = AddAtom(dir_, name);
        EXPECT_TRUE(added.ok()) << name;
        return added.value;
    }

    testing::RuntimeSandbox sandbox_;
    std::string dir_ = AtomDirectoryPath(sandbox_.runtime());
};

TEST_F(AtomTableTest, ReusesAStringsAtomAndGivesNewStringsTheLowestFreeNumber) {
    EXPECT_EQ(Add("HOSTLINK:IPC:1A2B:1"), 0xC000);
    EXPECT_EQ(Add("HOSTLINK:IPC:3C4D:1"), 0xC001);
    EXPECT_EQ(Add("HOSTLINK:IPC:1A2B:1"), 0xC000);
    EXPECT_EQ(FindAtom(dir_, 0xC001).value, "HOSTLINK:IPC:3C4D:1");

    EXPECT_EQ(DeleteAtom(dir_, 0xC000), 0);
    EXPECT_EQ(FindAtom(dir_, 0xC000).error, ENOENT);
    EXPECT_EQ(Add("HOSTLINK:IPC:5E6F:1"), 0xC000);
    // The number came back with another string: the old string's way to its
    // atom went with the delete, so it gets a new one.
    EXPECT_EQ(Add("HOSTLINK:IPC:1A2B:1"), 0xC002);
    // An index left pointing at a number that now holds another string is
    // not believed, and is mended by the next add of its string.
    ASSERT_EQ(::unlink((dir_ + "/C002").c_str()), 0);
    std::ofstream(dir_ + "/C002") << "someone else";
    EXPECT_EQ(Add("HOSTLINK:IPC:1A2B:1"), 0xC003);
    EXPECT_EQ(Add("HOSTLINK:IPC:1A2B:1"), 0xC003);

    EXPECT_EQ(AddAtom(dir_, "").error, EINVAL);
    EXPECT_EQ(AddAtom(dir_, std::string(kMaxAtomName + 1, 'x')).error, ENAMETOOLONG);
    EXPECT_EQ(DeleteAtom(dir_, 0x1234), EINVAL);
}

TEST_F(AtomTableTest, NeverTakesOverANumberThatIsAlreadyHeld) {
    // Another process's atom, and a file that merely looks like one.
    std::ofstream(dir_ + "/C000") << "held by someone else";
    std::ofstream(dir_ + "/c001") << "lower case is no atom";
    EXPECT_EQ(Add("mine"), 0xC001);
    EXPECT_EQ(FindAtom(dir_, 0xC000).value, "held by someone else");
    // Nothing of the exclusive creation is left lying about: the two files
    // above, the atom and its index entry.
    const auto files = std::distance(std::filesystem::directory_iterator(dir_), {});
    EXPECT_EQ(files, 4);

    // A full table gives no atom but still finds the strings it holds.
    for (unsigned atom = 0xC002; atom <= 0xFFFF; ++atom) {
        std::ofstream(fmt::format("{}/{:04X}", dir_, atom)) << "name " << atom;
    }
    EXPECT_EQ(AddAtom(dir_, "one too many").error, ENOSPC);
    EXPECT_EQ(Add("name 65535"), 0xFFFF);
}

// Only regular files of ours are read, without waiting: a FIFO would block
// an open forever, in host and recorder alike.
TEST_F(AtomTableTest, AFifoOrALinkAmongTheAtomsIsNeverOpenedAsOne) {
    ::alarm(10);  // a blocked open ends the test rather than hanging it
    ASSERT_EQ(::mkfifo((dir_ + "/C000").c_str(), 0600), 0);
    ASSERT_EQ(::symlink("/etc/hostname", (dir_ + "/C001").c_str()), 0);
    EXPECT_EQ(Add("mine"), 0xC002);
    EXPECT_EQ(FindAtom(dir_, 0xC000).error, EPERM);
    EXPECT_EQ(FindAtom(dir_, 0xC001).error, ELOOP);
    ::alarm(0);
}

TEST_F(AtomTableTest, StaleAtomsOfGoneProcessesAreSwept) {
    // Ids past pid_max name no process.
    const std::uint16_t gone = Add("HOSTLINK:IPC:7FFFFFF0:1");
    const std::uint16_t mine = Add(fmt::format("HOSTLINK:IPC:{:X}:1", ::getpid()));
    const std::uint16_t other = Add("not a block name");
    std::ofstream(dir_ + "/.new-2147483632-0") << "half-made";
    std::ofstream(dir_ + "/.new-1-0") << "a living process's";
    EXPECT_EQ(RemoveStaleAtoms(dir_), 2u);
    EXPECT_EQ(FindAtom(dir_, gone).error, ENOENT);
    EXPECT_TRUE(FindAtom(dir_, mine).ok());
    EXPECT_TRUE(FindAtom(dir_, other).ok());
    EXPECT_TRUE(std::filesystem::exists(dir_ + "/.new-1-0"));
    // The swept atom's index entry went with it; the others' stay.
    std::size_t entries = 0;
    for (const auto& e : std::filesystem::directory_iterator(dir_)) {
        if (e.path().filename().string().starts_with(".name-")) ++entries;
    }
    EXPECT_EQ(entries, 2u);
}

}  // namespace
}  // namespace kestrun
