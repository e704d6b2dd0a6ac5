// What one recorder sample costs against a running kestrun-host: the
// recorder's own eight-read exchange (SampleHost), beside a raw socket round
// trip of one request frame between the same two processes. The raw frame
// carries a message number the host does not know, so the host answers it at
// once without touching any block: what is left is the transport alone.

#include <benchmark/benchmark.h>
#include <fcntl.h>
#include <fmt/format.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <array>
#include <cstdio>
#include <cstdlib>

#include "bench/sample_exchange.h"
#include "link/host_link.h"
#include "platform/posix/endpoint.h"
#include "platform/posix/posix_link_platform.h"
#include "platform/posix/runtime_directory.h"
#include "platform/posix/unique_fd.h"
#include "protocol/frame.h"
#include "tests/support/host_process.h"
#include "tests/support/runtime_sandbox.h"

namespace kestrun {
namespace {

void RawRoundTrip(benchmark::State& state, int fd) {
    // The link's own frame, but with message number 0, which no host knows.
    RequestFrame request{0, 0, -16384, 0};
    std::array<std::byte, kReplyFrameSize> reply{};
    for (auto _ : state) {
        ++request.sequence;
        const auto frame = EncodeRequestFrame(request);
        if (::send(fd, frame.data(), frame.size(), MSG_NOSIGNAL) !=
                static_cast<ssize_t>(frame.size()) ||
            ::recv(fd, reply.data(), reply.size(), MSG_WAITALL) !=
                static_cast<ssize_t>(reply.size())) {
            state.SkipWithError("the raw round trip failed");
            break;
        }
        benchmark::DoNotOptimize(reply);
    }
}

// The allocation count that bench/alloc_count.c keeps for `pid`; 0 when the
// counter is not preloaded.
std::uint64_t AllocationsOf(const char* dir, pid_t pid) {
    const UniqueFd fd(::open(fmt::format("{}/{}", dir, pid).c_str(), O_RDONLY | O_CLOEXEC));
    std::uint64_t count = 0;
    if (!fd.valid() || ::pread(fd.get(), &count, sizeof count, 0) != sizeof count) return 0;
    return count;
}

// Heap allocations per exchange on both sides, counted across many exchanges
// so that one-off allocations do not hide a per-exchange one.
void ReportAllocations(HostLink& link, pid_t host) {
    const char* dir = std::getenv("KESTRUN_ALLOC_DIR");
    if (dir == nullptr) return;
    constexpr int kExchanges = 10000;
    FlightRecord record;
    static_cast<void>(SampleHost(link, record));  // anything lazily set up
    const std::uint64_t client_before = AllocationsOf(dir, ::getpid());
    const std::uint64_t host_before = AllocationsOf(dir, host);
    for (int i = 0; i < kExchanges; ++i) static_cast<void>(SampleHost(link, record));
    const std::uint64_t client = AllocationsOf(dir, ::getpid()) - client_before;
    const std::uint64_t host_count = AllocationsOf(dir, host) - host_before;
    std::printf("allocations per exchange: recorder %.4f, host %.4f (over %d exchanges)\n",
                static_cast<double>(client) / kExchanges,
                static_cast<double>(host_count) / kExchanges, kExchanges);
}

}  // namespace
}  // namespace kestrun

int main(int argc, char** argv) {
    using namespace kestrun;
    benchmark::Initialize(&argc, argv);
    if (benchmark::ReportUnrecognizedArguments(argc, argv)) return 1;

    kestrun::testing::RuntimeSandbox sandbox;
    kestrun::testing::HostProcess host;
    if (!host.Start({})) {
        std::fprintf(stderr, "kestrun-host did not start\n");
        return 1;
    }
    PosixLinkPlatform platform;
    HostLink link(platform);
    LinkResult result = 0;
    link.ResetLink();
    if (!link.OpenLink(0, result)) {
        std::fprintf(stderr, "the link did not open: result %d\n", result);
        return 1;
    }
    // A plain blocking connection to the same host process.
    const auto connected = ConnectEndpoint(EndpointPath(RuntimeDirectoryPath(), kHostWindowClass));
    if (!connected.ok()) {
        std::fprintf(stderr, "cannot connect to the host\n");
        return 1;
    }
    UniqueFd raw(connected.value);
    pollfd writable{raw.get(), POLLOUT, 0};
    ::poll(&writable, 1, 1000);
    const int flags = ::fcntl(raw.get(), F_GETFL);
    ::fcntl(raw.get(), F_SETFL, flags & ~O_NONBLOCK);

    benchmark::RegisterBenchmark("EightReadExchange", [&](benchmark::State& state) {
        SampleExchanges(state, link);
    })->MinTime(0.5);
    benchmark::RegisterBenchmark("RawRoundTrip", [&](benchmark::State& state) {
        RawRoundTrip(state, raw.get());
    })->MinTime(0.5);
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    ReportAllocations(link, host.pid());
    link.CloseLink();
    return 0;
}
