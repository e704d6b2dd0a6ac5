// What kestrun-relay adds to one recorder sample: the recorder's eight-read
// exchange straight to a running kestrun-host, beside the same exchange
// through kestrun-relay client and server on loopback. The host and the
// server share one runtime folder, the client another, as on two machines;
// both links live in this one process, each opened in its own folder.

#include <benchmark/benchmark.h>
#include <signal.h>
#include <sys/syscall.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <functional>
#include <future>
#include <string>
#include <thread>

#include "bench/sample_exchange.h"
#include "relay/net_address.h"
#include "link/host_link.h"
#include "platform/posix/endpoint.h"
#include "platform/posix/posix_link_platform.h"
#include "protocol/frame.h"
#include "tests/support/host_process.h"
#include "tests/support/runtime_sandbox.h"

namespace kestrun {
namespace {

// Below the server's limit of 1000 exchanges a second per peer, for both.
constexpr std::chrono::microseconds kPace{1500};

bool Open(HostLink& link, const std::string& runtime_root) {
    ::setenv("XDG_RUNTIME_DIR", runtime_root.c_str(), 1);
    LinkResult result = 0;
    link.ResetLink();
    // The client may still be connecting to the server: a few tries.
    for (int attempt = 0; attempt < 20; ++attempt) {
        if (link.OpenLink(0, result)) return true;
        std::this_thread::sleep_for(std::chrono::milliseconds(100));
    }
    std::fprintf(stderr, "the link in %s did not open: result %d\n", runtime_root.c_str(), result);
    return false;
}

bool WaitFor(const std::function<bool()>& ready) {
    for (int i = 0; i < 250; ++i) {
        if (ready()) return true;
        std::this_thread::sleep_for(std::chrono::milliseconds(20));
    }
    return false;
}

}  // namespace
}  // namespace kestrun

int main(int argc, char** argv) {
    using namespace kestrun;
    benchmark::Initialize(&argc, argv);
    if (benchmark::ReportUnrecognizedArguments(argc, argv)) return 1;

    kestrun::testing::RuntimeSandbox sandbox;
    const std::string a = sandbox.root() + "/a";
    const std::string b = sandbox.root() + "/b";
    const std::string key = sandbox.root() + "/relay.key";
    std::filesystem::create_directories(a);
    std::filesystem::create_directories(b);
    NetAddress any;
    UniqueFd probe;
    std::string address;
    if (!ParseNetAddress("127.0.0.1:0", any, true).ok() || !ListenTcp(any, probe, address).ok()) {
        return 1;
    }
    probe.Reset();

    ::setenv("XDG_RUNTIME_DIR", a.c_str(), 1);
    kestrun::testing::HostProcess host;
    if (!host.Start({})) {
        std::fprintf(stderr, "kestrun-host did not start\n");
        return 1;
    }
    kestrun::testing::WaitForChild(
        kestrun::testing::SpawnProgram(KESTRUN_RELAY_PATH, {"keygen", key}));
    const pid_t server = kestrun::testing::SpawnProgram(
        KESTRUN_RELAY_PATH, {"serve", "--listen", address, "--key", key}, "/dev/null");
    ::setenv("XDG_RUNTIME_DIR", b.c_str(), 1);
    const pid_t client = kestrun::testing::SpawnProgram(
        KESTRUN_RELAY_PATH, {"client", "--server", address, "--key", key}, "/dev/null");
    const std::string endpoint = EndpointPath(b + "/kestrun", kSimulatorWindowClass);
    if (!WaitFor([&] {
            const auto connected = ConnectEndpoint(endpoint);
            if (connected.ok()) ::close(connected.value);
            return connected.ok();
        })) {
        std::fprintf(stderr, "kestrun-relay client did not start\n");
        return 1;
    }

    // Both links name their block after a process or thread id; a parked
    // thread lends the second link an id of its own.
    std::promise<void> done;
    std::promise<std::uint32_t> id;
    std::thread parked([&] {
        id.set_value(static_cast<std::uint32_t>(::syscall(SYS_gettid)));
        done.get_future().wait();
    });
    PosixLinkPlatform direct_platform;
    PosixLinkPlatform relayed_platform({}, id.get_future().get());
    HostLink direct(direct_platform);
    HostLink relayed(relayed_platform);
    int exit_code = 1;
    if (Open(direct, a) && Open(relayed, b)) {
        benchmark::RegisterBenchmark("StraightToHost", [&](benchmark::State& state) {
            SampleExchanges(state, direct, kPace);
        })->Iterations(400);
        benchmark::RegisterBenchmark("ThroughRelay", [&](benchmark::State& state) {
            SampleExchanges(state, relayed, kPace);
        })->Iterations(400);
        benchmark::RunSpecifiedBenchmarks();
        exit_code = 0;
    }
    benchmark::Shutdown();
    direct.CloseLink();
    relayed.CloseLink();
    done.set_value();
    parked.join();
    for (pid_t pid : {client, server}) {
        ::kill(pid, SIGTERM);
        kestrun::testing::WaitForChild(pid);
    }
    return exit_code;
}
