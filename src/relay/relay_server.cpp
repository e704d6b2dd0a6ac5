#include "relay/relay_server.h"

#include <fmt/core.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <poll.h>
#include <sys/socket.h>
#include <sys/syscall.h>
#include <unistd.h>

#include <algorithm>
#include <array>
#include <cerrno>
#include <iterator>
#include <system_error>
#include <vector>

#include "relay/host_forwarder.h"
#include "relay/relay_message.h"

namespace kestrun {
namespace {

using Clock = std::chrono::steady_clock;

constexpr std::chrono::minutes kFailureLogPeriod{1};
// Sources whose last failure is remembered; past this, failures of further
// sources go unlogged until a minute has cleared room.
constexpr std::size_t kFailureLogSources = 1024;

// Spends tokens at one per exchange and refills them at `rate` a second up
// to `burst`; a peer past its rate waits, on its own thread.
class RateLimiter {
  public:
    RateLimiter(double rate, double burst) : rate_(rate), burst_(burst), tokens_(burst) {}
    void Take() {
        const auto now = Clock::now();
        tokens_ =
            std::min(burst_, tokens_ + rate_ * std::chrono::duration<double>(now - last_).count());
        last_ = now;
        if (tokens_ < 1) {
            std::this_thread::sleep_for(std::chrono::duration<double>((1 - tokens_) / rate_));
            tokens_ = 1;
            last_ = Clock::now();
        }
        tokens_ -= 1;
    }

  private:
    double rate_;
    double burst_;
    double tokens_;
    Clock::time_point last_ = Clock::now();
};

// Peers that vanish without a word (a machine switched off) are noticed
// within a minute, and their link and thread let go.
void KeepAlive(int fd) {
    const int on = 1, idle = 30, interval = 10, count = 3;
    ::setsockopt(fd, SOL_SOCKET, SO_KEEPALIVE, &on, sizeof on);
    ::setsockopt(fd, IPPROTO_TCP, TCP_KEEPIDLE, &idle, sizeof idle);
    ::setsockopt(fd, IPPROTO_TCP, TCP_KEEPINTVL, &interval, sizeof interval);
    ::setsockopt(fd, IPPROTO_TCP, TCP_KEEPCNT, &count, sizeof count);
    ::setsockopt(fd, IPPROTO_TCP, TCP_NODELAY, &on, sizeof on);
}

}  // namespace

RelayServer::RelayServer(EventLoop& loop, const TlsContext& context, RelayServerLimits limits,
                         Log log)
    : loop_(loop), context_(context), limits_(limits), log_(std::move(log)) {}

RelayServer::~RelayServer() {
    if (accepting_) loop_.Unwatch(listener_.get());
    for (auto& handshake : handshakes_) loop_.Unwatch(handshake.fd.get());
    // Waking every thread out of its socket wait ends it.
    for (auto& peer : peers_) ::shutdown(peer->fd.get(), SHUT_RDWR);
    for (auto& peer : peers_) peer->thread.join();
}

Status RelayServer::Listen(const NetAddress& address, std::string& bound) {
    if (Status status = ListenTcp(address, listener_, bound); !status.ok()) return status;
    loop_.Watch(listener_.get(), POLLIN, [this](short) { Accept(); });
    accepting_ = true;
    return loop_.AddTimer(std::chrono::milliseconds(200), [this](double) { Tidy(); });
}

void RelayServer::Accept() {
    for (;;) {
        sockaddr_storage from{};
        socklen_t length = sizeof from;
        UniqueFd fd(::accept4(listener_.get(), reinterpret_cast<sockaddr*>(&from), &length,
                              SOCK_NONBLOCK | SOCK_CLOEXEC));
        if (!fd.valid()) {
            if (errno == EMFILE || errno == ENFILE) {
                // Waiting connections would wake the loop at once, again and
                // again: stop listening until a peer has gone.
                loop_.Unwatch(listener_.get());
                accepting_ = false;
                if (!out_of_descriptors_) log_("out of file descriptors; not accepting for now");
                out_of_descriptors_ = true;
            }
            return;
        }
        std::string source = ConnectionSource(from);
        const auto held = handshakes_by_source_.find(source);
        const std::size_t count = held == handshakes_by_source_.end() ? 0 : held->second;
        if (count >= limits_.handshakes_per_source) {
            LogFailure(source, fmt::format("turned away: {} handshakes from it are under way",
                                           count));
            continue;  // drops `fd`
        }
        if (handshakes_.size() >= limits_.handshakes && !MakeRoom(count)) {
            LogFailure(source, fmt::format("turned away: {} handshakes are under way",
                                           handshakes_.size()));
            continue;
        }
        const int raw = fd.get();
        ++handshakes_by_source_[source];
        handshakes_.push_back(Handshake{std::move(fd), std::move(source),
                                        Clock::now() + limits_.handshake_time, nullptr});
        const auto handshake = std::prev(handshakes_.end());
        loop_.Watch(raw, POLLIN, [this, handshake](short) { Step(handshake); });
    }
}

bool RelayServer::MakeRoom(std::size_t held) {
    const auto busiest =
        std::max_element(handshakes_by_source_.begin(), handshakes_by_source_.end(),
                         [](const auto& a, const auto& b) { return a.second < b.second; });
    if (busiest == handshakes_by_source_.end() || busiest->second <= held) return false;
    const std::string& source = busiest->first;
    const auto oldest = std::find_if(handshakes_.begin(), handshakes_.end(),
                                     [&](const Handshake& h) { return h.source == source; });
    Drop(oldest, "cut off: the server's handshakes are all taken, most by it");
    return true;
}

void RelayServer::Step(HandshakeList::iterator handshake) {
    std::string error;
    if (!handshake->channel) {
        // A connection closed without a word (most of a flood) goes without
        // the cost of a TLS state; one that speaks is worth one.
        char first = 0;
        const ssize_t n = ::recv(handshake->fd.get(), &first, 1, MSG_PEEK | MSG_DONTWAIT);
        if (n == 0 || (n < 0 && errno != EAGAIN && errno != EINTR)) {
            return Drop(handshake, "closed before it began");
        }
        if (n < 0) return;
        handshake->channel = TlsChannel::Begin(context_, handshake->fd.get(), error);
        if (!handshake->channel) return Drop(handshake, error);
    }
    switch (handshake->channel->Continue(error)) {
        case TlsChannel::Progress::kDone:
            return Promote(handshake);
        case TlsChannel::Progress::kWantRead:
            return loop_.SetEvents(handshake->fd.get(), POLLIN);
        case TlsChannel::Progress::kWantWrite:
            return loop_.SetEvents(handshake->fd.get(), POLLOUT);
        case TlsChannel::Progress::kFailed:
            return Drop(handshake, error);
    }
}

void RelayServer::Drop(HandshakeList::iterator handshake, std::string_view why) {
    if (handshake->fd.valid()) loop_.Unwatch(handshake->fd.get());
    if (!why.empty()) LogFailure(handshake->source, why);
    const auto held = handshakes_by_source_.find(handshake->source);
    if (held != handshakes_by_source_.end() && --held->second == 0) {
        handshakes_by_source_.erase(held);
    }
    handshakes_.erase(handshake);
}

void RelayServer::Promote(HandshakeList::iterator handshake) {
    const std::string who = PeerAddress(handshake->fd.get());
    if (serving_ >= limits_.peers) {
        log_(fmt::format("{} turned away: {} peers are served already", who, limits_.peers));
        return Drop(handshake);
    }
    loop_.Unwatch(handshake->fd.get());
    KeepAlive(handshake->fd.get());
    auto peer = std::make_unique<Peer>();
    peer->fd = std::move(handshake->fd);
    peer->channel = std::move(handshake->channel);
    peer->who = who;
    Drop(handshake);
    Peer& raw = *peer;
    peers_.push_back(std::move(peer));
    ++serving_;
    try {
        raw.thread = std::thread([this, &raw] { Serve(raw); });
    } catch (const std::system_error&) {
        // No thread to be had (a process limit): this peer goes, the others
        // stay.
        --serving_;
        peers_.pop_back();
    }
}

void RelayServer::Serve(Peer& peer) {
    log_(fmt::format("{} connected", peer.who));
    ServeRequests(*peer.channel);
    log_(fmt::format("{} left", peer.who));
    peer.channel.reset();
    --serving_;
    peer.finished = true;
}

void RelayServer::LogFailure(const std::string& source, std::string_view what) {
    const auto now = Clock::now();
    const auto last = failure_logged_.find(source);
    if (last != failure_logged_.end()) {
        if (now - last->second < kFailureLogPeriod) return;
        last->second = now;
    } else {
        if (failure_logged_.size() >= kFailureLogSources) return;
        failure_logged_.emplace(source, now);
    }
    log_(fmt::format("a handshake from {} failed: {} (its next failures are not logged for a "
                     "minute)",
                     source, what));
}

void RelayServer::ServeRequests(TlsChannel& channel) {
    // The thread's own id names the link's block: unique among the links of
    // this process, and a live id for as long as the link is open.
    HostForwarder forwarder(static_cast<std::uint32_t>(::syscall(SYS_gettid)));
    RateLimiter limiter(limits_.exchanges_per_second, limits_.burst);
    std::vector<std::byte> block(kRelayMaxBlock);
    for (;;) {
        // A peer may stay quiet between exchanges as long as it likes.
        std::array<std::byte, kRelayRequestHeaderSize> header{};
        if (!channel.Read(header, kNoDeadline)) return;
        const auto length = DecodeRelayRequestLength(header);
        if (!length) return;
        const std::span<std::byte> request(block.data(), *length);
        const auto deadline = Clock::now() + limits_.message_time;
        if (!channel.Read(request, deadline)) return;
        // Only what the host itself would serve goes any further.
        if (ServableLength(request) != request.size()) return;
        limiter.Take();
        const RelayStatus status = forwarder.Forward(request);
        if (!channel.Write(EncodeRelayReply(status, request),
                           Clock::now() + limits_.message_time)) {
            return;
        }
    }
}

void RelayServer::Reap() {
    for (auto it = peers_.begin(); it != peers_.end();) {
        if ((*it)->finished) {
            (*it)->thread.join();
            it = peers_.erase(it);
        } else {
            ++it;
        }
    }
}

void RelayServer::Tidy() {
    Reap();
    const auto now = Clock::now();
    // Every handshake has the same time, so the oldest end first.
    while (!handshakes_.empty() && handshakes_.front().deadline <= now) {
        Drop(handshakes_.begin(), "not finished in time");
    }
    std::erase_if(failure_logged_,
                  [now](const auto& entry) { return now - entry.second >= kFailureLogPeriod; });
    if (!accepting_ && handshakes_.size() + peers_.size() < limits_.handshakes + limits_.peers) {
        loop_.Watch(listener_.get(), POLLIN, [this](short) { Accept(); });
        accepting_ = true;
        out_of_descriptors_ = false;
    }
}

}  // namespace kestrun
