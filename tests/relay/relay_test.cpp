// kestrun-relay end to end. Machine A holds the host and the server, machine
// B the client and the recorders: two runtime folders, each process started
// with its own XDG_RUNTIME_DIR.

#include <gtest/gtest.h>
#include <signal.h>
#include <sys/socket.h>

#include <array>
#include <atomic>
#include <chrono>
#include <filesystem>
#include <random>
#include <thread>
#include <tuple>
#include <vector>

#include "relay/net_address.h"
#include "relay/relay_key.h"
#include "relay/relay_message.h"
#include "relay/tls_channel.h"
#include "platform/posix/endpoint.h"
#include "protocol/host_units.h"
#include "protocol/little_endian.h"
#include "tests/support/host_process.h"
#include "tests/support/runtime_sandbox.h"
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
        EXPECT_TRUE(WriteNewKey(key_).ok());
        // A port nobody listens on now; the server takes it later.
        NetAddress any;
        UniqueFd probe;
        std::string bound;
        EXPECT_TRUE(ParseNetAddress("127.0.0.1:0", any, true).ok());
        EXPECT_TRUE(ListenTcp(any, probe, bound).ok());
        address_ = bound;
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
        const pid_t pid =
            Spawn(a_, KESTRUN_RELAY_PATH, {"serve", "--listen", address_, "--key", key});
        EXPECT_TRUE(Eventually([&] { return Connect() != nullptr; }));
        return pid;
    }
    void StartClient(const std::string& key) {
        Spawn(b_, KESTRUN_RELAY_PATH, {"client", "--server", address_, "--key", key}, client_log_);
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
    std::string client_log_ = sandbox_.root() + "/client.txt";
    std::string address_;
    testing::HostProcess host_;
    std::vector<pid_t> started_;
};

TEST_F(RelayTest, ShowsResult14WithoutAServerAHostOrTheRightKey) {
    const std::string other_key = sandbox_.root() + "/other.key";
    ASSERT_TRUE(WriteNewKey(other_key).ok());
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
    StartServer(other_key);  // a host and a server, but another key
    shows_result_14();
}

TEST_F(RelayTest, KeysAreNewAndPrivate) {
    EXPECT_FALSE(WriteNewKey(key_).ok());  // never replaces a key
    RelayKey first{}, second{};
    const std::string other_key = sandbox_.root() + "/other.key";
    ASSERT_TRUE(WriteNewKey(other_key).ok());
    ASSERT_TRUE(ReadKey(key_, first).ok());
    ASSERT_TRUE(ReadKey(other_key, second).ok());
    EXPECT_NE(first, second);
    EXPECT_EQ(std::filesystem::status(key_).permissions(), std::filesystem::perms(0600));
    // Either end refuses a key that others can read, and says so.
    std::filesystem::permissions(key_, std::filesystem::perms(0640));
    EXPECT_EQ(testing::RunProgram(KESTRUN_RELAY_PATH,
                                  {"client", "--server", address_, "--key", key_}, client_log_),
              1);
    EXPECT_FALSE(ReadKey(key_, first).ok());
}

TEST_F(RelayTest, ServerKilledAndRestartedDuringARecording) {
    StartHost();
    const pid_t server = StartServer(key_);
    StartClient(key_);
    const std::string output = sandbox_.root() + "/flight.dat";
    const pid_t recorder = StartRecorder(b_, output, 5);
    std::this_thread::sleep_for(2s);
    ::kill(server, SIGKILL);
    testing::WaitForChild(server);
    std::erase(started_, server);
    std::this_thread::sleep_for(500ms);
    StartServer(key_);
    const auto [status, printed] = Finish(recorder, output);
    EXPECT_EQ(status, 5) << printed;  // saved, with seconds the host did not fill
    EXPECT_NE(printed.find("Processing error: IPC sendmessage failed all retries"),
              std::string::npos)
        << printed;
    const auto records = testing::ReadFlightRecords(output);
    ASSERT_GE(records.size(), 4u);
    EXPECT_NE(records.front().Latitude, 0);
    EXPECT_EQ(records.back().Latitude, 0);

    // The client finds the server again by itself: Connect works again.
    ASSERT_TRUE(Eventually([&] {
        const std::string log = testing::ReadFile(client_log_);
        const auto first = log.find("connected to the server");
        return first != std::string::npos &&
               log.find("connected to the server", first + 1) != std::string::npos;
    }));
    EXPECT_EQ(Record(b_, sandbox_.root() + "/again.dat", 1).first, 0);
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
    RelayKey key{};
    ASSERT_TRUE(ReadKey(key_, key).ok());
    std::string error;
    const auto context = TlsContext::Make(TlsContext::Role::kClient, key, error);
    ASSERT_TRUE(context) << error;
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
    const std::string direct = sandbox_.root() + "/direct.dat";
    const std::string relayed = sandbox_.root() + "/relayed.dat";
    const pid_t straight_recorder = StartRecorder(a_, direct, 2);
    const auto [status, printed] = Record(b_, relayed, 2);
    stop = true;
    greedy.join();
    EXPECT_EQ(status, 0) << printed;
    EXPECT_EQ(Finish(straight_recorder, direct).first, 0);
    const auto straight = testing::ReadFlightRecords(direct);
    const auto through = testing::ReadFlightRecords(relayed);
    ASSERT_EQ(straight.size(), 2u);
    ASSERT_EQ(through.size(), 2u);
    for (std::size_t i = 0; i < 2; ++i) {
        const FlightRecord& r = through[i];
        const FlightRecord& s = straight[i];
        EXPECT_NE(r.Latitude, 0);
        EXPECT_EQ(std::tie(r.Latitude, r.Longitude, r.AltitudeFraction, r.AltitudeMetres, r.Pitch,
                           r.Bank, r.Heading, r.IAS),
                  std::tie(s.Latitude, s.Longitude, s.AltitudeFraction, s.AltitudeMetres, s.Pitch,
                           s.Bank, s.Heading, s.IAS));
    }
}

}  // namespace
}  // namespace kestrun
