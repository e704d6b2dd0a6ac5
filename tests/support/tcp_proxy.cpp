#include "tests/support/tcp_proxy.h"

#include <arpa/inet.h>
#include <fcntl.h>
#include <fmt/core.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <vector>

namespace kestrun::testing {
namespace {

sockaddr_in Loopback(const char* address, std::uint16_t port) {
    sockaddr_in a{};
    a.sin_family = AF_INET;
    a.sin_port = htons(port);
    ::inet_pton(AF_INET, address, &a.sin_addr);
    return a;
}

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
    listener_ = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    sockaddr_in a = Loopback("127.0.0.1", 0);
    socklen_t length = sizeof a;
    if (::bind(listener_, reinterpret_cast<sockaddr*>(&a), sizeof a) == 0 &&
        ::listen(listener_, SOMAXCONN) == 0 &&
        ::getsockname(listener_, reinterpret_cast<sockaddr*>(&a), &length) == 0) {
        port_ = ntohs(a.sin_port);
    }
    acceptor_ = std::thread([this] {
        // Ends when the destructor shuts the listener down.
        for (int client; (client = ::accept4(listener_, nullptr, nullptr, SOCK_CLOEXEC)) >= 0;) {
            const std::lock_guard lock(mutex_);
            threads_.emplace_back([this, client] { Carry(client); });
        }
    });
}

TcpProxy::~TcpProxy() {
    ::shutdown(listener_, SHUT_RDWR);
    acceptor_.join();
    {
        const std::lock_guard lock(mutex_);
        for (int fd : open_) ::shutdown(fd, SHUT_RDWR);
    }
    for (std::thread& thread : threads_) thread.join();
    ::close(listener_);
}

std::string TcpProxy::address() const {
    return fmt::format("127.0.0.1:{}", port_);
}

void TcpProxy::CutAll() {
    const std::lock_guard lock(mutex_);
    // RST rather than FIN once the carrying thread closes them: a cut line,
    // not a polite close.
    const linger hard{1, 0};
    for (int fd : open_) {
        ::setsockopt(fd, SOL_SOCKET, SO_LINGER, &hard, sizeof hard);
        ::shutdown(fd, SHUT_RDWR);
    }
    cut_ += static_cast<int>(open_.size() / 2);
}

void TcpProxy::Carry(int client) {
    // Bounded, so that a server whose backlog is full cannot hold the proxy
    // (and its destructor) for minutes; long enough for a dropped SYN to be
    // sent again.
    const int server = ConnectFrom("127.0.0.1", target_port_);
    pollfd connecting{server, POLLOUT, 0};
    int error = 1;
    socklen_t length = sizeof error;
    if (server >= 0 && ::poll(&connecting, 1, 3500) == 1) {
        ::getsockopt(server, SOL_SOCKET, SO_ERROR, &error, &length);
    }
    if (error != 0) {
        if (server >= 0) ::close(server);
        ::close(client);
        return;
    }
    ::fcntl(server, F_SETFL, ::fcntl(server, F_GETFL) & ~O_NONBLOCK);
    const int on = 1;
    for (int fd : {client, server}) ::setsockopt(fd, IPPROTO_TCP, TCP_NODELAY, &on, sizeof on);
    std::list<int>::iterator ends;
    {
        const std::lock_guard lock(mutex_);
        ends = open_.insert(open_.end(), {client, server});
    }
    std::thread down([&] { Pump(server, client); });
    Pump(client, server);
    down.join();
    {
        const std::lock_guard lock(mutex_);
        open_.erase(ends, std::next(ends, 2));
    }
    ::close(client);
    ::close(server);
}

// Each chunk goes on `delay_` after it was read. A chunk that arrives while
// one is held waits behind it: fine for request and reply traffic.
void TcpProxy::Pump(int from, int to) {
    std::vector<char> bytes(65536);
    for (ssize_t n; (n = ::recv(from, bytes.data(), bytes.size(), 0)) > 0;) {
        std::this_thread::sleep_for(delay_);
        if (::send(to, bytes.data(), static_cast<std::size_t>(n), MSG_NOSIGNAL) != n) break;
    }
    // Either side gone ends the whole connection, waking the other pump.
    ::shutdown(from, SHUT_RDWR);
    ::shutdown(to, SHUT_RDWR);
}

}  // namespace kestrun::testing
