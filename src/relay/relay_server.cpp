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
#include <system_error>
#include <vector>

#include "relay/host_forwarder.h"
#include "relay/relay_message.h"

namespace kestrun {
namespace {

using Clock = std::chrono::steady_clock;

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
        UniqueFd fd(::accept4(listener_.get(), nullptr, nullptr, SOCK_NONBLOCK | SOCK_CLOEXEC));
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
        Reap();
        std::size_t live = 0;
        std::size_t handshaking = 0;
        Peer* oldest_handshake = nullptr;
        for (const auto& peer : peers_) {
            if (peer->finished || peer->evicted) continue;
            ++live;
            if (!peer->authenticated) {
                ++handshaking;
                if (oldest_handshake == nullptr) oldest_handshake = peer.get();
            }
        }
        if (handshaking >= limits_.handshakes && oldest_handshake != nullptr) {
            ::shutdown(oldest_handshake->fd.get(), SHUT_RDWR);
            oldest_handshake->evicted = true;
            --live;
        }
        if (live >= limits_.peers + limits_.handshakes) continue;  // drops `fd`
        KeepAlive(fd.get());
        auto peer = std::make_unique<Peer>();
        peer->fd = std::move(fd);
        Peer& raw = *peer;
        peers_.push_back(std::move(peer));
        try {
            raw.thread = std::thread([this, &raw] { Serve(raw); });
        } catch (const std::system_error&) {
            // No thread to be had (a process limit): this connection goes,
            // the others stay.
            peers_.pop_back();
        }
    }
}

void RelayServer::Serve(Peer& peer) {
    std::string error;
    auto channel =
        TlsChannel::Open(context_, peer.fd.get(), Clock::now() + limits_.handshake_time, error);
    if (channel) {
        const std::string who = PeerAddress(peer.fd.get());
        if (authenticated_.fetch_add(1) < limits_.peers) {
            peer.authenticated = true;
            log_(fmt::format("{} connected", who));
            ServeRequests(*channel);
            log_(fmt::format("{} left", who));
        } else {
            log_(fmt::format("{} turned away: {} peers are served already", who, limits_.peers));
        }
        authenticated_.fetch_sub(1);
        channel.reset();
    }
    peer.finished = true;
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
    if (!accepting_ && peers_.size() < limits_.peers) {
        loop_.Watch(listener_.get(), POLLIN, [this](short) { Accept(); });
        accepting_ = true;
        out_of_descriptors_ = false;
    }
}

}  // namespace kestrun
