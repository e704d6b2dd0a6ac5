// A load generator that speaks to a host as recorders do. PROCESSES forked
// processes share CLIENTS recorders; each process opens its recorders (timing
// every open), waits until all have, then runs them for SECONDS at RATE
// exchanges a second each, phases spread evenly, and times every exchange.
// A link names its shared block after its process, so "link" recorders need
// a process each.
//   host_load link|raw CLIENTS RATE SECONDS PROCESSES
// "link": each recorder is a HostLink doing the recorder's eight-read sample.
// "raw": each recorder is a bare connection sending 16-byte request frames and
// reading 8-byte replies, for servers that only echo (bench/echo_server.c).
// Prints one line: opens, failed opens, slowest open, exchanges, failed
// exchanges, and exchange latency p50, p99 and max in microseconds.

#include <poll.h>
#include <sys/socket.h>
#include <sys/wait.h>
#include <time.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <memory>
#include <string>
#include <vector>

#include "link/host_link.h"
#include "platform/posix/endpoint.h"
#include "platform/posix/posix_link_platform.h"
#include "platform/posix/runtime_directory.h"
#include "platform/posix/unique_fd.h"
#include "protocol/frame.h"
#include "recording/host_sample.h"

namespace {

using namespace kestrun;

double Now() {
    timespec t{};
    clock_gettime(CLOCK_MONOTONIC, &t);
    return static_cast<double>(t.tv_sec) + static_cast<double>(t.tv_nsec) * 1e-9;
}

void SleepUntil(double when) {
    timespec t{};
    t.tv_sec = static_cast<time_t>(when);
    t.tv_nsec = static_cast<long>((when - static_cast<double>(t.tv_sec)) * 1e9);
    while (clock_nanosleep(CLOCK_MONOTONIC, TIMER_ABSTIME, &t, nullptr) != 0) {
    }
}

class Recorder {
  public:
    virtual ~Recorder() = default;
    virtual bool Open() = 0;
    virtual bool Exchange() = 0;
};

class LinkRecorder final : public Recorder {
  public:
    bool Open() override {
        LinkResult result = 0;
        link_.ResetLink();
        return link_.OpenLink(0, result);
    }
    bool Exchange() override { return !SampleHost(link_, record_).has_value(); }

  private:
    PosixLinkPlatform platform_;
    HostLink link_{platform_};
    FlightRecord record_;
};

class RawRecorder final : public Recorder {
  public:
    bool Open() override {
        const auto connected =
            ConnectEndpoint(EndpointPath(RuntimeDirectoryPath(), kHostWindowClass));
        if (!connected.ok()) return false;
        fd_.Reset(connected.value);
        return true;
    }
    bool Exchange() override {
        const auto frame = EncodeRequestFrame(RequestFrame{++sequence_, 1, 0, 0});
        std::byte reply[kReplyFrameSize];
        std::size_t got = 0;
        if (::send(fd_.get(), frame.data(), frame.size(), MSG_NOSIGNAL) !=
            static_cast<ssize_t>(frame.size())) {
            return false;
        }
        while (got < sizeof reply) {
            const ssize_t n = ::recv(fd_.get(), reply + got, sizeof reply - got, 0);
            if (n > 0) {
                got += static_cast<std::size_t>(n);
            } else if (n == 0 || (errno != EAGAIN && errno != EINTR)) {
                return false;
            } else {
                pollfd readable{fd_.get(), POLLIN, 0};
                ::poll(&readable, 1, 2000);
            }
        }
        return true;
    }

  private:
    UniqueFd fd_;
    std::uint32_t sequence_ = 0;
};

struct Totals {
    long opens = 0, failed_opens = 0, exchanges = 0, failed = 0;
    double slowest_open = 0;
};

// One process's share; writes its totals and latencies (seconds) to `out`.
bool ReadAll(int fd, void* into, std::size_t size) {
    auto* p = static_cast<char*>(into);
    while (size > 0) {
        const ssize_t n = ::read(fd, p, size);
        if (n <= 0) return false;
        p += n;
        size -= static_cast<std::size_t>(n);
    }
    return true;
}

bool WriteAll(int fd, const void* from, std::size_t size) {
    const auto* p = static_cast<const char*>(from);
    while (size > 0) {
        const ssize_t n = ::write(fd, p, size);
        if (n <= 0) return false;
        p += n;
        size -= static_cast<std::size_t>(n);
    }
    return true;
}

void RunShare(bool raw, int clients, double rate, double seconds, int ready, int go, int out) {
    std::vector<std::unique_ptr<Recorder>> recorders;
    Totals totals;
    for (int i = 0; i < clients; ++i) {
        std::unique_ptr<Recorder> r;
        if (raw) {
            r = std::make_unique<RawRecorder>();
        } else {
            r = std::make_unique<LinkRecorder>();
        }
        const double start = Now();
        const bool opened = r->Open();
        totals.slowest_open = std::max(totals.slowest_open, Now() - start);
        ++totals.opens;
        if (opened) {
            recorders.push_back(std::move(r));
        } else {
            ++totals.failed_opens;
        }
    }
    char byte = 1;
    static_cast<void>(WriteAll(ready, &byte, 1));
    static_cast<void>(ReadAll(go, &byte, 1));
    std::vector<double> latencies;
    if (!recorders.empty() && seconds > 0) {
        const double step = 1.0 / (rate * static_cast<double>(recorders.size()));
        // Processes start at different phases so that their exchanges interleave.
        const double t0 = Now() + step * (static_cast<double>(getpid() % 97) / 97.0);
        const auto count = static_cast<long>(seconds / step);
        latencies.reserve(static_cast<std::size_t>(count));
        for (long i = 0; i < count; ++i) {
            SleepUntil(t0 + static_cast<double>(i) * step);
            const double start = Now();
            const bool ok = recorders[static_cast<std::size_t>(i) % recorders.size()]->Exchange();
            latencies.push_back(Now() - start);
            ++totals.exchanges;
            if (!ok) ++totals.failed;
        }
    }
    static_cast<void>(WriteAll(out, &totals, sizeof totals));
    const std::size_t n = latencies.size();
    static_cast<void>(WriteAll(out, &n, sizeof n));
    const char* p = reinterpret_cast<const char*>(latencies.data());
    std::size_t left = n * sizeof(double);
    while (left > 0) {
        const ssize_t w = ::write(out, p, left);
        if (w <= 0) break;
        p += w;
        left -= static_cast<std::size_t>(w);
    }
}

}  // namespace

int main(int argc, char** argv) {
    if (argc != 6) {
        std::fprintf(stderr, "usage: host_load link|raw CLIENTS RATE SECONDS PROCESSES\n");
        return 2;
    }
    const bool raw = std::string(argv[1]) == "raw";
    const int clients = std::atoi(argv[2]);
    const double rate = std::atof(argv[3]);
    const double seconds = std::atof(argv[4]);
    const int processes = std::max(1, std::min(std::atoi(argv[5]), clients));
    int ready[2], go[2];
    if (::pipe(ready) != 0 || ::pipe(go) != 0) return 1;
    std::vector<std::pair<pid_t, int>> children;
    const double open_start = Now();
    for (int p = 0; p < processes; ++p) {
        int out[2];
        if (::pipe(out) != 0) return 1;
        const int share = clients / processes + (p < clients % processes ? 1 : 0);
        const pid_t pid = ::fork();
        if (pid == 0) {
            ::close(out[0]);
            RunShare(raw, share, rate, seconds, ready[1], go[0], out[1]);
            ::_exit(0);
        }
        ::close(out[1]);
        children.emplace_back(pid, out[0]);
    }
    char byte = 0;
    for (int p = 0; p < processes; ++p) static_cast<void>(ReadAll(ready[0], &byte, 1));
    const double all_open = Now() - open_start;
    std::fprintf(stderr, "all open after %.3f s\n", all_open);
    // Whoever measures the server starts now; the exchanges start after it.
    std::printf("ready\n");
    std::fflush(stdout);
    std::string answer(16, '\0');
    if (std::fgets(answer.data(), static_cast<int>(answer.size()), stdin) == nullptr) {
        // No one measuring: go at once.
    }
    for (int p = 0; p < processes; ++p) static_cast<void>(WriteAll(go[1], "g", 1));
    Totals all;
    std::vector<double> latencies;
    for (const auto& [pid, fd] : children) {
        Totals t;
        std::size_t n = 0;
        if (ReadAll(fd, &t, sizeof t) && ReadAll(fd, &n, sizeof n)) {
            const std::size_t old = latencies.size();
            latencies.resize(old + n);
            if (!ReadAll(fd, latencies.data() + old, n * sizeof(double))) latencies.resize(old);
        }
        ::close(fd);
        ::waitpid(pid, nullptr, 0);
        all.opens += t.opens;
        all.failed_opens += t.failed_opens;
        all.exchanges += t.exchanges;
        all.failed += t.failed;
        all.slowest_open = std::max(all.slowest_open, t.slowest_open);
    }
    std::sort(latencies.begin(), latencies.end());
    const auto at = [&](double q) {
        return latencies.empty()
                   ? 0.0
                   : latencies[std::min(
                         latencies.size() - 1,
                         static_cast<std::size_t>(q * static_cast<double>(latencies.size())))] *
                         1e6;
    };
    std::printf(
        "opens %ld failed_opens %ld all_open_s %.3f slowest_open_s %.3f exchanges %ld failed %ld "
        "p50_us %.1f p99_us %.1f max_us %.1f\n",
        all.opens, all.failed_opens, all_open, all.slowest_open, all.exchanges, all.failed, at(0.5),
        at(0.99), latencies.empty() ? 0.0 : latencies.back() * 1e6);
    return 0;
}
