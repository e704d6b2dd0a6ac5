// kestrun-relay end to end. Machine A holds the host and the server, machine
// B the client and the recorders: two runtime folders, each process started
// with its own XDG_RUNTIME_DIR.

#include <fmt/core.h>
#include <gtest/gtest.h>
#include <poll.h>
#include <signal.h>
#include <sys/socket.h>

#include <algorithm>
#include <array>
#include <cstdio>
#include <deque>
#include <atomic>
#include <chrono>
#include <filesystem>
#include <random>
#include <thread>
#include <tuple>
#include <vector>

#include "relay/net_address.h"
#include "relay/relay_client.h"
#include "relay/relay_key.h"
#include "relay/relay_message.h"
#include "relay/tls_channel.h"
#include "platform/posix/endpoint.h"
#include "protocol/host_units.h"
#include "protocol/little_endian.h"
#include "tests/support/host_process.h"
#include "tests/support/runtime_sandbox.h"
#include "tests/support/tcp_proxy.h"
#include "tests/support/test_files.h"

namespace kestrun {
namespace {

using namespace std::chrono_literals;
using testing::Accepting;
using testing::Eventually;
using Clock = std::chrono::steady_clock;

constexpr const char* kResult14 =
    "Error: Maybe running on the network client, but FS not running on Server, or wrong "
    "simulator host";

class RelayTest : public ::testing::Test {
  protected:
    RelayTest() {
        for (const std::string& dir : {a_, b_}) std::filesystem::create_directories(dir);
        for (const std::string& key : {key_, other_key_}) EXPECT_TRUE(WriteNewKey(key).ok());
        // A port nobody listens on now; the server takes it later.
        UniqueFd probe;
        address_ = ListenOnAnyPort(probe);
    }
    ~RelayTest() override {
        // Stopped as a user stops them, so that their links leave no shared
        // block behind; killed only when one does not stop.
        for (pid_t pid : started_) ::kill(pid, SIGTERM);
        for (pid_t pid : started_) {
            if (testing::WaitForChildWithin(pid, 5s)) continue;
            ::kill(pid, SIGKILL);
            testing::WaitForChild(pid);
        }
        ::setenv("XDG_RUNTIME_DIR", sandbox_.root().c_str(), 1);
    }

    // Listens on a free loopback port; the address it took.
    static std::string ListenOnAnyPort(UniqueFd& listener) {
        NetAddress any;
        std::string bound;
        EXPECT_TRUE(ParseNetAddress("127.0.0.1:0", any, true).ok());
        EXPECT_TRUE(ListenTcp(any, listener, bound).ok());
        return bound;
    }
    // A TLS context holding the relay key, null (a failure) without one.
    std::unique_ptr<TlsContext> Context(TlsContext::Role role = TlsContext::Role::kClient) {
        RelayKey key{};
        std::string error;
        EXPECT_TRUE(ReadKey(key_, key).ok());
        auto context = TlsContext::Make(role, key, error);
        EXPECT_TRUE(context) << error;
        return context;
    }
    // Starts `program` as on the machine whose runtime folder is `machine`.
    pid_t Spawn(const std::string& machine, const std::string& program,
                const std::vector<std::string>& args, const std::string& output = "") {
        ::setenv("XDG_RUNTIME_DIR", machine.c_str(), 1);
        const pid_t pid = testing::SpawnProgram(program, args, output);
        EXPECT_GT(pid, 0);
        started_.push_back(pid);
        return pid;
    }
    void StartHost(const std::vector<std::string>& args = {}) {
        ::setenv("XDG_RUNTIME_DIR", a_.c_str(), 1);
        ASSERT_TRUE(host_.Start(args));
    }
    pid_t StartServer(const std::string& key) {
        const pid_t pid = Spawn(a_, KESTRUN_RELAY_PATH,
                                {"serve", "--listen", address_, "--key", key}, server_log_);
        EXPECT_TRUE(Eventually([&] { return Connect() != nullptr; }));
        return pid;
    }
    void StartClient(const std::string& key, const std::string& server = "") {
        Spawn(b_, KESTRUN_RELAY_PATH,
              {"client", "--server", server.empty() ? address_ : server, "--key", key},
              client_log_);
        ASSERT_TRUE(
            Eventually([&] { return Accepting(EndpointPath(b_ + "/kestrun", "SIMMAIN")); }));
    }
    // Starts kestrun-record on `machine`, then waits for it: its exit
    // status and what it printed.
    pid_t StartRecorder(const std::string& machine, const std::string& output, int seconds) {
        return Spawn(machine, KESTRUN_RECORD_PATH,
                     {"--seconds", std::to_string(seconds), "--output", output}, output + ".txt");
    }
    std::pair<int, std::string> Finish(pid_t recorder, const std::string& output) {
        const int status = testing::ExitStatus(testing::WaitForChild(recorder));
        std::erase(started_, recorder);
        return {status, testing::ReadFile(output + ".txt")};
    }
    std::pair<int, std::string> Record(const std::string& machine, const std::string& output,
                                       int seconds) {
        return Finish(StartRecorder(machine, output, seconds), output);
    }
    // A raw TCP connection to the server; with a key, its handshake done.
    std::unique_ptr<UniqueFd> Connect() {
        NetAddress address;
        auto fd = std::make_unique<UniqueFd>();
        if (!ParseNetAddress(address_, address).ok() ||
            !ConnectTcp(address, Clock::now() + 1s, *fd).ok()) {
            return nullptr;
        }
        return fd;
    }

    testing::RuntimeSandbox sandbox_;
    std::string a_ = sandbox_.root() + "/a";
    std::string b_ = sandbox_.root() + "/b";
    std::string key_ = sandbox_.root() + "/relay.key";
    std::string other_key_ = sandbox_.root() + "/other.key";
    std::string client_log_ = sandbox_.root() + "/client.txt";
    std::string server_log_ = sandbox_.root() + "/server.txt";
    std::string direct_ = sandbox_.root() + "/direct.dat";
    std::string relayed_ = sandbox_.root() + "/relayed.dat";
    std::string address_;
    testing::HostProcess host_;
    std::vector<pid_t> started_;
};

TEST_F(RelayTest, ShowsResult14WithoutAServerAHostOrTheRightKey) {
    const auto shows_result_14 = [&] {
        const auto [status, printed] = Record(b_, sandbox_.root() + "/none.dat", 1);
        EXPECT_EQ(status, 3);
        EXPECT_NE(printed.find(kResult14), std::string::npos) << printed;
    };
    StartClient(key_);  // no server at all
    shows_result_14();
    const pid_t server = StartServer(key_);  // a server, but no host behind it
    shows_result_14();
    ::kill(server, SIGKILL);
    StartHost();
    StartServer(other_key_);  // a host and a server, but another key
    shows_result_14();
    // The wrong key shows on the server's side too, once for its address.
    const std::string log = testing::ReadFile(server_log_);
    const auto failed = log.find("a handshake from 127.0.0.1 failed");
    EXPECT_NE(failed, std::string::npos) << log;
    EXPECT_EQ(log.find("a handshake from 127.0.0.1 failed", failed + 1), std::string::npos) << log;
}

TEST_F(RelayTest, KeysAreNewAndPrivate) {
    EXPECT_FALSE(WriteNewKey(key_).ok());  // never replaces a key
    RelayKey first{}, second{};
    ASSERT_TRUE(ReadKey(key_, first).ok());
    ASSERT_TRUE(ReadKey(other_key_, second).ok());
    EXPECT_NE(first, second);
    EXPECT_EQ(std::filesystem::status(key_).permissions(), std::filesystem::perms(0600));
    // Either end refuses a key that others can read, and says so.
    std::filesystem::permissions(key_, std::filesystem::perms(0640));
    EXPECT_EQ(testing::RunProgram(KESTRUN_RELAY_PATH,
                                  {"client", "--server", address_, "--key", key_}, client_log_),
              1);
    EXPECT_FALSE(ReadKey(key_, first).ok());

    // 64 digits without the newline are the same key; one byte repeated is
    // no key, whatever its length, and the refusal says how to make one.
    const auto key_file = [&](const std::string& text) {
        const std::string path = sandbox_.Write("typed.key", text);
        std::filesystem::permissions(path, std::filesystem::perms(0600));
        RelayKey key{};
        return std::pair{ReadKey(path, key), key};
    };
    std::string digits;
    for (int i = 0; i < 32; ++i) digits += fmt::format("{:02x}", i);
    const auto [typed, typed_key] = key_file(digits);
    ASSERT_TRUE(typed.ok()) << typed.message();
    EXPECT_EQ(typed_key[31], 31);
    EXPECT_TRUE(key_file(digits + "\n").first.ok());
    EXPECT_FALSE(key_file(digits + "\n\n").first.ok());
    for (const std::string& repeated : {std::string(64, '0'), std::string(64, 'a') + "\n"}) {
        const Status refused = key_file(repeated).first;
        EXPECT_FALSE(refused.ok());
        EXPECT_NE(refused.message().find("keygen"), std::string::npos) << refused.message();
    }
}

std::uint16_t PortOf(const std::string& address) {
    return static_cast<std::uint16_t>(std::stoi(address.substr(address.rfind(':') + 1)));
}

std::size_t Unfilled(const std::vector<FlightRecord>& records) {
    return static_cast<std::size_t>(std::count_if(
        records.begin(), records.end(), [](const FlightRecord& r) { return r.Latitude == 0; }));
}

// One recording straight from the host and one through the relay, side by
// side, while the host stops for 3 s, the server is killed and started
// again, and the line between client and server is cut.
TEST_F(RelayTest, ARelayedRecordingLosesWhatADirectOneLosesThroughStallsRestartsAndCuts) {
    StartHost();
    pid_t server = StartServer(key_);
    testing::TcpProxy line(PortOf(address_), 0ms);
    StartClient(key_, line.address());
    const pid_t straight_recorder = StartRecorder(a_, direct_, 12);
    const pid_t relayed_recorder = StartRecorder(b_, relayed_, 12);
    std::this_thread::sleep_for(2s);
    ::kill(host_.pid(), SIGSTOP);
    std::this_thread::sleep_for(3s);
    ::kill(host_.pid(), SIGCONT);
    std::this_thread::sleep_for(1500ms);
    ::kill(server, SIGKILL);
    testing::WaitForChild(server);
    std::erase(started_, server);
    server = StartServer(key_);
    std::this_thread::sleep_for(2s);
    line.CutAll();
    const auto [relayed_status, relayed_printed] = Finish(relayed_recorder, relayed_);
    const auto [direct_status, direct_printed] = Finish(straight_recorder, direct_);
    EXPECT_EQ(relayed_status, direct_status) << relayed_printed;
    const auto straight = testing::ReadFlightRecords(direct_);
    const auto through = testing::ReadFlightRecords(relayed_);
    // The stall costs both the same seconds; the restart and the cut cost
    // the relayed one nothing more. The two tick on their own clocks, so a
    // stall may catch one a tick earlier than the other.
    EXPECT_EQ(Unfilled(through), Unfilled(straight)) << relayed_printed;
    EXPECT_NEAR(static_cast<double>(through.size()), static_cast<double>(straight.size()), 1);
    EXPECT_GE(straight.size(), 8u);
    // Both the restart and the cut really broke the connection.
    const std::string log = testing::ReadFile(client_log_);
    std::size_t lost = 0;
    for (auto at = log.find("lost the server"); at != std::string::npos;
         at = log.find("lost the server", at + 1)) {
        ++lost;
    }
    EXPECT_GE(lost, 2u) << log;
    EXPECT_EQ(line.cut(), 1) << log;
}

// A block that reads both version words, as a recorder opening its link.
std::vector<std::byte> VersionBlock() {
    std::vector<std::byte> block(2 * (kReadHeaderSize + 4) + kTerminatorSize);
    EncodeReadHeader(block.data(), kOffsetHostVersion, 4, 1);
    EncodeReadHeader(block.data() + 20, kOffsetSimulatorVersion, 4, 2);
    EncodeTerminator(block.data() + 40);
    return block;
}

TEST_F(RelayTest, RecordsTheSameTrackAsStraightFromTheHostWhileHostilePeersTry) {
    StartHost({"--hold", "60"});  // holding still at the runway threshold
    StartServer(key_);
    const auto context = Context();
    ASSERT_TRUE(context);
    std::string error;
    // With the key: is the connection dropped after `message`?
    auto dropped_after = [&](std::vector<std::byte> message) {
        auto fd = Connect();
        auto channel = TlsChannel::Open(*context, fd->get(), Clock::now() + 2s, error);
        if (!channel || !channel->Write(message, Clock::now() + 2s)) return false;
        std::array<std::byte, kRelayReplyHeaderSize> reply{};
        return !channel->Read(reply, Clock::now() + 2s);
    };
    std::vector<std::byte> oversized(kRelayRequestHeaderSize);
    StoreU32(oversized.data(), 0xFFFFFFFF);
    EXPECT_TRUE(dropped_after(oversized));
    auto unknown = VersionBlock();
    StoreU32(unknown.data() + 20, 7);  // no such request
    EXPECT_TRUE(dropped_after(EncodeRelayRequest(unknown)));
    EXPECT_TRUE(dropped_after(EncodeRelayRequest(std::vector<std::byte>(8))));  // no terminator
    EXPECT_FALSE(dropped_after(EncodeRelayRequest(VersionBlock())));

    // Thousands of connections with random bytes, the last hundreds kept
    // open.
    std::mt19937 random(14);
    std::vector<std::unique_ptr<UniqueFd>> flood;
    for (int i = 0; i < 2000; ++i) {
        auto fd = Connect();
        ASSERT_NE(fd, nullptr);
        std::array<std::uint32_t, 16> junk{};
        for (auto& word : junk) word = static_cast<std::uint32_t>(random());
        ::send(fd->get(), junk.data(), sizeof junk, MSG_NOSIGNAL);
        flood.push_back(std::move(fd));
        if (flood.size() > 300) flood.erase(flood.begin());
    }
    // And one peer with the key asking as fast as it can.
    std::atomic<bool> stop{false};
    std::thread greedy([&] {
        auto fd = Connect();
        auto channel = TlsChannel::Open(*context, fd->get(), Clock::now() + 2s, error);
        const auto request = EncodeRelayRequest(VersionBlock());
        std::vector<std::byte> reply(kRelayReplyHeaderSize + VersionBlock().size());
        while (channel && !stop && channel->Write(request, kNoDeadline) &&
               channel->Read(reply, kNoDeadline)) {
        }
    });
    StartClient(key_);
    const pid_t straight_recorder = StartRecorder(a_, direct_, 2);
    const auto [status, printed] = Record(b_, relayed_, 2);
    stop = true;
    greedy.join();
    EXPECT_EQ(status, 0) << printed;
    EXPECT_EQ(Finish(straight_recorder, direct_).first, 0);
    const auto straight = testing::ReadFlightRecords(direct_);
    const auto through = testing::ReadFlightRecords(relayed_);
    ASSERT_EQ(straight.size(), 2u);
    ASSERT_EQ(through.size(), 2u);
    for (std::size_t i = 0; i < 2; ++i) {
        // Byte for byte but the time, which each recorder takes at its own tick.
        const FlightRecord& r = through[i];
        FlightRecord s = straight[i];
        std::tie(s.Hour, s.Minute, s.Second) = std::tie(r.Hour, r.Minute, r.Second);
        EXPECT_NE(r.Latitude, 0);
        EXPECT_EQ(EncodeFlightRecord(r), EncodeFlightRecord(s));
    }
}

// A flooder on four other loopback addresses opens plain connections as
// fast as it can (one thread, so that the machine's other core is left to
// the server and the peer), each address keeping its last hundred open, while a peer with the
// key, 25 ms away each way, connects twenty times.
TEST_F(RelayTest, AFloodFromOtherAddressesLocksNoPeerOut) {
    StartHost();
    StartServer(key_);
    const auto context = Context();
    ASSERT_TRUE(context);
    std::string error;
    const std::uint16_t port = PortOf(address_);
    testing::TcpProxy far(port, 25ms);
    NetAddress far_address;
    ASSERT_TRUE(ParseNetAddress(far.address(), far_address).ok());

    std::atomic<bool> stop{false};
    std::atomic<long> flood{0};
    std::thread flooder([&] {
        std::vector<std::deque<int>> open(4);
        // Bounded in time as well as by the good peer's twenty.
        const auto until = Clock::now() + 30s;
        for (long i = 0; !stop && Clock::now() < until; ++i) {
            auto& mine = open[static_cast<std::size_t>(i % 4)];
            const int fd = testing::ConnectFrom(fmt::format("127.0.0.{}", 2 + i % 4), port);
            if (fd < 0) continue;
            ++flood;
            mine.push_back(fd);
            if (mine.size() > 100) {
                ::close(mine.front());
                mine.pop_front();
            }
        }
        for (auto& fds : open) {
            for (int fd : fds) ::close(fd);
        }
    });
    std::this_thread::sleep_for(300ms);  // the flood under way
    const auto began = Clock::now();
    int connected = 0;
    std::string failures;
    for (int i = 0; i < 20; ++i) {
        UniqueFd fd;
        const auto deadline = Clock::now() + 3s;
        const auto attempt = Clock::now();
        if (const Status status = ConnectTcp(far_address, deadline, fd); !status.ok()) {
            failures += status.message() + "\n";
            continue;
        }
        auto channel = TlsChannel::Open(*context, fd.get(), deadline, error);
        std::vector<std::byte> reply(kRelayReplyHeaderSize + VersionBlock().size());
        if (channel && channel->Write(EncodeRelayRequest(VersionBlock()), deadline) &&
            channel->Read(reply, deadline)) {
            ++connected;
        } else {
            failures += fmt::format(
                "after {} ms: {}\n",
                std::chrono::duration_cast<std::chrono::milliseconds>(Clock::now() - attempt).count(),
                channel ? "no reply" : error);
        }
    }
    const double seconds = std::chrono::duration<double>(Clock::now() - began).count();
    stop = true;
    flooder.join();
    EXPECT_EQ(connected, 20) << failures;
    std::printf("%d of 20 connected in %.1f s through 25 ms each way, against %ld flood "
                "connections (%.0f a second)\n",
                connected, seconds, flood.load(), static_cast<double>(flood) / (seconds + 0.3));
}

// A server that proves the key and hangs up at once: the client tries
// again after a growing pause, not at every tick.
TEST_F(RelayTest, TheClientBacksOffFromAServerThatDropsItRightAway) {
    const auto server_context = Context(TlsContext::Role::kServer);
    const auto client_context = Context();
    ASSERT_TRUE(server_context && client_context);
    UniqueFd listener;
    const std::string bound = ListenOnAnyPort(listener);
    std::atomic<bool> stop{false};
    std::atomic<int> served{0};
    std::thread server([&] {
        while (!stop) {
            if (!WaitForDescriptor(listener.get(), POLLIN, Clock::now() + 50ms)) continue;
            UniqueFd peer(::accept4(listener.get(), nullptr, nullptr, SOCK_CLOEXEC));
            std::string ignored;
            if (peer.valid() &&
                TlsChannel::Open(*server_context, peer.get(), Clock::now() + 1s, ignored)) {
                ++served;
            }
        }
    });
    NetAddress server_address;
    ASSERT_TRUE(ParseNetAddress(bound, server_address).ok());
    std::vector<std::string> lines;
    RelayClient client(*client_context, server_address,
                       [&](std::string_view line) { lines.emplace_back(line); });
    const auto until = Clock::now() + 3s;
    while (Clock::now() < until) {
        client.Tick();
        std::this_thread::sleep_for(50ms);
    }
    stop = true;
    server.join();
    // After 0, 0.25, 0.75 and 1.75 s; at every tick it would be about 30.
    EXPECT_GE(served, 3);
    EXPECT_LE(served, 5);
}

}  // namespace
}  // namespace kestrun
