#include "platform/posix/posix_link_platform.h"

#include <fcntl.h>
#include <fmt/core.h>
#include <gtest/gtest.h>
#include <poll.h>
#include <sys/mman.h>
#include <sys/socket.h>
#include <unistd.h>

#include <array>
#include <atomic>
#include <cerrno>
#include <filesystem>
#include <string>
#include <thread>
#include <vector>

#include "platform/posix/atom_table.h"
#include "platform/posix/endpoint.h"
#include "platform/posix/runtime_directory.h"
#include "platform/posix/shared_block.h"
#include "platform/posix/unique_fd.h"
#include "protocol/frame.h"
#include "tests/support/runtime_sandbox.h"

namespace kestrun {
namespace {

class PosixLinkPlatformTest : public ::testing::Test {
  protected:
    void SetUp() override { ASSERT_TRUE(PrepareRuntimeDirectory(runtime_).ok()); }

    // A host endpoint whose one connection the test drives by hand.
    void ListenAsHost() {
        const auto listening = ListenEndpoint(EndpointPath(runtime_, kHostWindowClass));
        ASSERT_TRUE(listening.ok());
        listener_.Reset(listening.value);
    }
    // Links the platform to that host: the window, and the host's end.
    UniqueFd Linked(WindowHandle& window) {
        ListenAsHost();
        window = platform_.FindHostWindow(kHostWindowClass);
        EXPECT_NE(window, 0);
        pollfd entry{listener_.get(), POLLIN, 0};
        EXPECT_EQ(::poll(&entry, 1, 2000), 1);
        return UniqueFd(::accept4(listener_.get(), nullptr, nullptr, SOCK_CLOEXEC));
    }

    testing::RuntimeSandbox sandbox_;
    std::string runtime_;
    UniqueFd listener_;
    PosixLinkPlatform platform_;
};

RequestFrame ReadRequest(int fd) {
    std::array<std::byte, kRequestFrameSize> bytes{};
    EXPECT_EQ(::recv(fd, bytes.data(), bytes.size(), MSG_WAITALL),
              static_cast<ssize_t>(bytes.size()));
    return DecodeRequestFrame(bytes.data());
}

TEST_F(PosixLinkPlatformTest, FindsOnlyAHostThatListens) {
    EXPECT_EQ(platform_.FindHostWindow(kHostWindowClass), 0);

    // A socket file left by a host that died: there is no window behind it.
    {
        ListenAsHost();
        listener_.Reset();
    }
    EXPECT_EQ(platform_.FindHostWindow(kHostWindowClass), 0);
    EXPECT_EQ(platform_.LastError(), static_cast<std::uint32_t>(ECONNREFUSED));

    ListenAsHost();  // replaces the stale file
    const WindowHandle window = platform_.FindHostWindow(kHostWindowClass);
    EXPECT_NE(window, 0);
    EXPECT_EQ(platform_.FindHostWindow(kSimulatorWindowClass), 0);
    platform_.ReleaseWindow(window);
}

TEST_F(PosixLinkPlatformTest, TheEndpointAppearsOnlyOnceItAccepts) {
    // A recorder connecting the moment the file appears must never be
    // refused: hosts come up again and again while it keeps trying.
    const std::string path = EndpointPath(runtime_, kHostWindowClass);
    std::atomic<bool> done = false;
    std::atomic<int> refused = 0;
    std::thread recorder([&] {
        while (!done) {
            const auto probe = ConnectEndpoint(path);
            if (probe.ok()) ::close(probe.value);
            if (!probe.ok() && probe.error == ECONNREFUSED) ++refused;
        }
    });
    // Every host stays up until the end, so a refusal can only come from an
    // endpoint that existed before its socket listened.
    std::vector<UniqueFd> hosts;
    for (int start = 0; start < 500 && refused == 0; ++start) {
        const auto listening = ListenEndpoint(path);
        EXPECT_TRUE(listening.ok()) << listening.error;
        if (!listening.ok()) break;
        hosts.emplace_back(listening.value);
        ::unlink(path.c_str());
    }
    done = true;
    recorder.join();
    EXPECT_EQ(refused, 0);
    EXPECT_EQ(std::distance(std::filesystem::directory_iterator(runtime_), {}), 1);  // atoms/
}

TEST_F(PosixLinkPlatformTest, WaitsForItsOwnReplyDiscardsLateOnesAndFailsOnceTheHostHangsUp) {
    WindowHandle window = 0;
    UniqueFd host = Linked(window);

    // The host stays silent: a time-out, not before the time asked for, with
    // the last error left at 0.
    std::int32_t answer = -1;
    const auto asked = std::chrono::steady_clock::now();
    EXPECT_FALSE(platform_.SendMessageTimeout(window, 0xC123, -16384, 0, 50, answer));
    EXPECT_GE(std::chrono::steady_clock::now() - asked, std::chrono::milliseconds(50));
    EXPECT_EQ(platform_.LastError(), 0u);

    // Then it answers the first request late, just before the second, and
    // hands over the second reply in two pieces.
    std::thread late_host([&] {
        const RequestFrame first = ReadRequest(host.get());
        const RequestFrame second = ReadRequest(host.get());
        EXPECT_EQ(second.message, 0xC123u);
        EXPECT_EQ(second.wparam, -16384);
        EXPECT_NE(first.sequence, second.sequence);
        const auto late = EncodeReplyFrame({first.sequence, 111});
        const auto own = EncodeReplyFrame({second.sequence, 1});
        ::send(host.get(), late.data(), late.size(), 0);
        ::send(host.get(), own.data(), 3, 0);
        std::this_thread::sleep_for(std::chrono::milliseconds(20));
        ::send(host.get(), own.data() + 3, own.size() - 3, 0);
    });
    EXPECT_TRUE(platform_.SendMessageTimeout(window, 0xC123, -16384, 0, 2000, answer));
    EXPECT_EQ(answer, 1);
    late_host.join();

    // The host hangs up. Both the first send (the hang-up is noticed on the
    // read) and later ones (a write to a closed socket, which would raise
    // SIGPIPE) fail cleanly with an error.
    host.Reset();
    for (int attempt = 0; attempt < 3; ++attempt) {
        EXPECT_FALSE(platform_.SendMessageTimeout(window, 0xC123, 0, 0, 2000, answer));
        EXPECT_NE(platform_.LastError(), 0u);
    }
}

// A host answering requests it has not been sent yet would have the link
// take an unserved block for a served one.
TEST_F(PosixLinkPlatformTest, AReplyAheadOfTheRequestCutsTheConnection) {
    WindowHandle window = 0;
    UniqueFd host = Linked(window);
    std::thread eager_host([&] {
        const RequestFrame first = ReadRequest(host.get());
        std::array<std::byte, 3 * kReplyFrameSize> replies{};
        for (std::uint32_t i = 0; i < 3; ++i) {
            const auto reply = EncodeReplyFrame({first.sequence + i, 1});
            std::copy(reply.begin(), reply.end(), replies.begin() + i * kReplyFrameSize);
        }
        ::send(host.get(), replies.data(), replies.size(), 0);
    });
    std::int32_t answer = 0;
    EXPECT_TRUE(platform_.SendMessageTimeout(window, 0xC123, 0, 0, 2000, answer));
    eager_host.join();
    for (int attempt = 0; attempt < 2; ++attempt) {
        EXPECT_FALSE(platform_.SendMessageTimeout(window, 0xC123, 0, 0, 2000, answer));
        EXPECT_EQ(platform_.LastError(), static_cast<std::uint32_t>(EPROTO));
    }
}

// Block names carry their creator's process id. A name left by a process of
// ours that is gone is taken back; a live one's, or another user's, is not.
TEST_F(PosixLinkPlatformTest, ABlockNameIsReclaimedOnlyFromAGoneProcessOfOurs) {
    const auto plant = [](const std::string& name) {
        return UniqueFd(::shm_open(("/" + name).c_str(), O_RDWR | O_CREAT | O_EXCL, 0600));
    };
    // Names unique to this test process, as /dev/shm is shared by all.
    const auto unique = [](std::string_view rest) {
        return fmt::format("{}:{}", ::getpid(), rest);
    };
    std::vector<std::string> reports;
    PosixLinkPlatform platform([&](std::string_view line) { reports.emplace_back(line); });
    // Ids past pid_max name no process; this process's own id is free for
    // it to take back once nobody here holds the name.
    for (const std::string& name : std::vector<std::string>{
             unique("7FFFFFF0:1"), fmt::format("HOSTLINK:IPC:{:X}:1", ::getpid())}) {
        SCOPED_TRACE(name);
        ASSERT_TRUE(plant(name).valid());
        const MappingHandleValue mapping = platform.CreateMapping(name, 0x8000);
        EXPECT_NE(mapping, 0);
        EXPECT_EQ(platform.LastError(), 0u);
        // Held now by this process: a second link here must not share it.
        PosixLinkPlatform other;
        EXPECT_EQ(other.CreateMapping(name, 0x8000), 0);
        EXPECT_EQ(other.LastError(), kErrorAlreadyExists);
        platform.CloseMapping(mapping);
    }
    // A relay names each link after the thread serving it: a name left with
    // that thread's id by a thread gone before is taken back as well.
    std::thread([&] {
        const auto thread = static_cast<std::uint32_t>(::gettid());
        const std::string name = fmt::format("HOSTLINK:IPC:{:X}:1", thread);
        ASSERT_TRUE(plant(name).valid());
        PosixLinkPlatform relay_link({}, thread);
        EXPECT_NE(relay_link.CreateMapping(name, 0x8000), 0);
    }).join();
    // Process 1 lives.
    const UniqueFd planted = plant(unique("1:1"));
    EXPECT_EQ(platform.CreateMapping(unique("1:1"), 0x8000), 0);
    EXPECT_EQ(platform.LastError(), kErrorAlreadyExists);
    RemoveSharedBlock(unique("1:1"));
    EXPECT_TRUE(reports.empty());

    if (::geteuid() != 0) GTEST_SKIP() << "planting another user's block needs root";
    const std::string name = unique("7FFFFFF1:1");
    ASSERT_EQ(::fchown(plant(name).get(), 65534, 65534), 0);
    EXPECT_EQ(platform.CreateMapping(name, 0x8000), 0);
    EXPECT_EQ(platform.LastError(), kErrorAlreadyExists);
    ASSERT_EQ(reports.size(), 1u);
    EXPECT_NE(reports[0].find(name + " is held by user"), std::string::npos) << reports[0];
    EXPECT_NE(reports[0].find("uid 65534"), std::string::npos) << reports[0];
    RemoveSharedBlock(name);
}

TEST_F(PosixLinkPlatformTest, RefusesAShrunkBlockAndLeavesNothingBehindWhenDestroyedOpen) {
    // This process's own name, as /dev/shm is shared by every test run.
    const std::string name = fmt::format("HOSTLINK:IPC:{:X}:1", ::getpid());
    std::uint16_t atom = 0;
    {
        PosixLinkPlatform platform;
        atom = platform.AddAtom(name + '\0');
        ASSERT_GE(atom, kFirstAtom);
        // The atom holds the name up to its NUL, as a host will look it up.
        EXPECT_EQ(FindAtom(AtomDirectoryPath(runtime_), atom).value, name);
        const MappingHandleValue mapping = platform.CreateMapping(name + '\0', 0x8000);
        ASSERT_NE(mapping, 0);
        std::byte* view = platform.MapView(mapping);
        ASSERT_NE(view, nullptr);
        view[0x7FFF] = std::byte{1};  // the whole block is writable
        ASSERT_TRUE(platform.FlushView(view, 0x8000));
        // A host that shrinks the block before it answers: what is read back
        // is not the block that was sent.
        const UniqueFd block(::shm_open(("/" + name).c_str(), O_RDWR, 0));
        ASSERT_EQ(::ftruncate(block.get(), 0), 0);
        EXPECT_FALSE(platform.RefreshView(view, 0x8000));
    }
    EXPECT_EQ(FindAtom(AtomDirectoryPath(runtime_), atom).error, ENOENT);
    EXPECT_EQ(::shm_open(("/" + name).c_str(), O_RDONLY, 0), -1);
    EXPECT_EQ(errno, ENOENT);
}

}  // namespace
}  // namespace kestrun
