#include "tests/support/tcp_proxy.h"

#include <arpa/inet.h>
#include <fcntl.h>
#include <fmt/core.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <deque>
#include <list>
#include <vector>

namespace kestrun::testing {
namespace {

using Clock = std::chrono::steady_clock;

sockaddr_in Loopback(const char* address, std::uint16_t port) {
    sockaddr_in a{};
    a.sin_family = AF_INET;
    a.sin_port = htons(port);
    ::inet_pton(AF_INET, address, &a.sin_addr);
    return a;
}

// Bytes on their way in one direction, each chunk due at its time.
struct Pipe {
    int from = -1;
    int to = -1;
    std::deque<std::pair<Clock::time_point, std::vector<char>>> chunks;
    bool open = true;
};

struct Link {
    Pipe up;
    Pipe down;
};

}  // namespace

int ConnectFrom(const std::string& source, std::uint16_t port) {
    const int fd = ::socket(AF_INET, SOCK_STREAM | SOCK_NONBLOCK | SOCK_CLOEXEC, 0);
    if (fd < 0) return -1;
    const sockaddr_in local = Loopback(source.c_str(), 0);
    const sockaddr_in remote = Loopback("127.0.0.1", port);
    if (::bind(fd, reinterpret_cast<const sockaddr*>(&local), sizeof local) != 0 ||
        (::connect(fd, reinterpret_cast<const sockaddr*>(&remote), sizeof remote) != 0 &&
         errno != EINPROGRESS)) {
        ::close(fd);
        return -1;
    }
    return fd;
}

TcpProxy::TcpProxy(std::uint16_t target_port, std::chrono::milliseconds delay_each_way)
    : target_port_(target_port), delay_(delay_each_way) {
    listener_ = ::socket(AF_INET, SOCK_STREAM | SOCK_NONBLOCK | SOCK_CLOEXEC, 0);
    sockaddr_in a = Loopback("127.0.0.1", 0);
    socklen_t length = sizeof a;
    if (::bind(listener_, reinterpret_cast<sockaddr*>(&a), sizeof a) == 0 &&
        ::listen(listener_, SOMAXCONN) == 0 &&
        ::getsockname(listener_, reinterpret_cast<sockaddr*>(&a), &length) == 0) {
        port_ = ntohs(a.sin_port);
    }
    if (::pipe2(wake_, O_NONBLOCK | O_CLOEXEC) != 0) wake_[0] = wake_[1] = -1;
    thread_ = std::thread([this] { Run(); });
}

TcpProxy::~TcpProxy() {
    stop_ = true;
    const char byte = 0;
    if (::write(wake_[1], &byte, 1) < 0) {
        // The thread notices `stop_` within its next 10 ms wait anyway.
    }
    thread_.join();
    for (int fd : {listener_, wake_[0], wake_[1]}) {
        if (fd >= 0) ::close(fd);
    }
}

std::string TcpProxy::address() const {
    return fmt::format("127.0.0.1:{}", port_);
}

void TcpProxy::Run() {
    std::list<Link> links;
    const auto close_link = [](Link& link) {
        ::close(link.up.from);
        ::close(link.up.to);
    };
    while (!stop_) {
        if (cut_requested_.exchange(false)) {
            // RST rather than FIN: a cut line, not a polite close.
            for (Link& link : links) {
                const linger hard{1, 0};
                ::setsockopt(link.up.from, SOL_SOCKET, SO_LINGER, &hard, sizeof hard);
                ::setsockopt(link.up.to, SOL_SOCKET, SO_LINGER, &hard, sizeof hard);
                close_link(link);
                ++cut_;
            }
            links.clear();
        }
        std::vector<pollfd> entries{{listener_, POLLIN, 0}, {wake_[0], POLLIN, 0}};
        for (Link& link : links) {
            entries.push_back({link.up.from, POLLIN, 0});
            entries.push_back({link.down.from, POLLIN, 0});
        }
        // Wake for the next chunk due, and at least every 10 ms for a cut.
        auto wait = std::chrono::milliseconds(10);
        const auto now = Clock::now();
        for (Link& link : links) {
            for (Pipe* pipe : {&link.up, &link.down}) {
                if (!pipe->chunks.empty()) {
                    wait = std::min(wait, std::chrono::ceil<std::chrono::milliseconds>(
                                              pipe->chunks.front().first - now));
                }
            }
        }
        ::poll(entries.data(), entries.size(), static_cast<int>(std::max<long>(0, wait.count())));
        if ((entries[0].revents & POLLIN) != 0) {
            for (;;) {
                const int client = ::accept4(listener_, nullptr, nullptr, SOCK_CLOEXEC);
                if (client < 0) break;
                // Bounded, so that a server whose backlog is full cannot
                // hold the proxy (and its destructor) for minutes; long
                // enough for a dropped SYN to be sent again.
                const int server = ConnectFrom("127.0.0.1", target_port_);
                pollfd connecting{server, POLLOUT, 0};
                int error = server < 0 ? 1 : 0;
                socklen_t length = sizeof error;
                if (server >= 0 && (::poll(&connecting, 1, 3500) != 1 ||
                                    ::getsockopt(server, SOL_SOCKET, SO_ERROR, &error, &length) != 0)) {
                    error = 1;
                }
                if (error == 0) {
                    ::fcntl(server, F_SETFL, ::fcntl(server, F_GETFL) & ~O_NONBLOCK);
                } else {
                    if (server >= 0) ::close(server);
                    ::close(client);
                    continue;
                }
                const int on = 1;
                ::setsockopt(server, IPPROTO_TCP, TCP_NODELAY, &on, sizeof on);
                ::setsockopt(client, IPPROTO_TCP, TCP_NODELAY, &on, sizeof on);
                Link link;
                link.up.from = client;
                link.up.to = server;
                link.down.from = server;
                link.down.to = client;
                links.push_back(std::move(link));
            }
        }
        std::size_t i = 2;
        for (auto it = links.begin(); it != links.end(); i += 2) {
            bool alive = true;
            for (std::size_t side = 0; side < 2; ++side) {
                Pipe& pipe = side == 0 ? it->up : it->down;
                // Entries of links accepted just now are not in this poll.
                if (i + side < entries.size() && entries[i + side].fd == pipe.from &&
                    (entries[i + side].revents & (POLLIN | POLLHUP | POLLERR)) != 0) {
                    std::vector<char> bytes(65536);
                    const ssize_t n = ::recv(pipe.from, bytes.data(), bytes.size(), MSG_DONTWAIT);
                    if (n > 0) {
                        bytes.resize(static_cast<std::size_t>(n));
                        pipe.chunks.emplace_back(Clock::now() + delay_, std::move(bytes));
                    } else if (n == 0 || (errno != EAGAIN && errno != EINTR)) {
                        pipe.open = false;
                    }
                }
                while (!pipe.chunks.empty() && pipe.chunks.front().first <= Clock::now()) {
                    const auto& chunk = pipe.chunks.front().second;
                    // Small test traffic: a blocking send takes it whole.
                    if (::send(pipe.to, chunk.data(), chunk.size(), MSG_NOSIGNAL) < 0) {
                        pipe.open = false;
                    }
                    pipe.chunks.pop_front();
                }
                if (!pipe.open && pipe.chunks.empty()) alive = false;
            }
            if (alive) {
                ++it;
            } else {
                close_link(*it);
                it = links.erase(it);
            }
        }
    }
    for (Link& link : links) close_link(link);
}

}  // namespace kestrun::testing
