#include "relay/net_address.h"

#include <fmt/core.h>
#include <arpa/inet.h>
#include <netdb.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <poll.h>
#include <sys/socket.h>

#include <algorithm>
#include <cerrno>
#include <iterator>
#include <charconv>
#include <memory>

#include "platform/posix/posix_error.h"

namespace kestrun {
namespace {

struct AddrInfoFree {
    void operator()(addrinfo* list) const { ::freeaddrinfo(list); }
};
using AddrInfoList = std::unique_ptr<addrinfo, AddrInfoFree>;

Status Resolve(const NetAddress& address, bool passive, AddrInfoList& out) {
    addrinfo hints{};
    hints.ai_family = AF_UNSPEC;
    hints.ai_socktype = SOCK_STREAM;
    hints.ai_flags = AI_NUMERICSERV | (passive ? AI_PASSIVE : 0);
    addrinfo* list = nullptr;
    const int failed = ::getaddrinfo(address.host.c_str(), address.port.c_str(), &hints, &list);
    if (failed != 0) {
        return Status::Error(
            fmt::format("Cannot find {}: {}", address.host, ::gai_strerror(failed)));
    }
    out.reset(list);
    return Status::Ok();
}

// A non-blocking socket for `a`; invalid, with `error` set, when none.
UniqueFd NewSocket(const addrinfo& a, int& error) {
    UniqueFd fd(::socket(a.ai_family, a.ai_socktype | SOCK_NONBLOCK | SOCK_CLOEXEC, a.ai_protocol));
    if (!fd.valid()) error = errno;
    return fd;
}

std::string FormatSocketAddress(const sockaddr_storage& address) {
    char host[NI_MAXHOST];
    char port[NI_MAXSERV];
    if (::getnameinfo(reinterpret_cast<const sockaddr*>(&address), sizeof address, host,
                      sizeof host, port, sizeof port, NI_NUMERICHOST | NI_NUMERICSERV) != 0) {
        return "?";
    }
    return address.ss_family == AF_INET6 ? fmt::format("[{}]:{}", host, port)
                                         : fmt::format("{}:{}", host, port);
}

}  // namespace

std::string PeerAddress(int fd) {
    sockaddr_storage peer{};
    socklen_t length = sizeof peer;
    if (::getpeername(fd, reinterpret_cast<sockaddr*>(&peer), &length) != 0) return "?";
    return FormatSocketAddress(peer);
}

std::string ConnectionSource(const sockaddr_storage& from) {
    char text[INET6_ADDRSTRLEN] = "?";
    if (from.ss_family == AF_INET) {
        const auto& v4 = reinterpret_cast<const sockaddr_in&>(from);
        ::inet_ntop(AF_INET, &v4.sin_addr, text, sizeof text);
        return text;
    }
    if (from.ss_family != AF_INET6) return text;
    in6_addr address = reinterpret_cast<const sockaddr_in6&>(from).sin6_addr;
    if (IN6_IS_ADDR_V4MAPPED(&address)) {
        ::inet_ntop(AF_INET, &address.s6_addr[12], text, sizeof text);
        return text;
    }
    std::fill(std::begin(address.s6_addr) + 8, std::end(address.s6_addr), 0);
    ::inet_ntop(AF_INET6, &address, text, sizeof text);
    return fmt::format("{}/64", text);
}

bool WaitForDescriptor(int fd, short events, Deadline deadline) {
    for (;;) {
        const auto left = std::chrono::ceil<std::chrono::milliseconds>(
            deadline - std::chrono::steady_clock::now());
        if (left.count() <= 0) return false;
        pollfd entry{fd, events, 0};
        const int wait = left.count() > 60'000 ? 60'000 : static_cast<int>(left.count());
        const int n = ::poll(&entry, 1, wait);
        // Errors and hang-ups count as ready: the next call on the socket
        // reports them.
        if (n > 0) return true;
        if (n < 0 && errno != EINTR) return true;
    }
}

Status ParseNetAddress(std::string_view text, NetAddress& out, bool allow_any_port) {
    const std::size_t colon = text.rfind(':');
    if (colon == std::string_view::npos || colon == 0) {
        return Status::Error(fmt::format("\"{}\" is not ADDRESS:PORT", text));
    }
    std::string_view host = text.substr(0, colon);
    if (host.front() == '[' && host.back() == ']') host = host.substr(1, host.size() - 2);
    const std::string_view port = text.substr(colon + 1);
    unsigned value = 0;
    const auto [end, ec] = std::from_chars(port.data(), port.data() + port.size(), value);
    if (port.empty() || ec != std::errc() || end != port.data() + port.size() || value > 65535 ||
        (value == 0 && !allow_any_port) || host.empty()) {
        return Status::Error(
            fmt::format("\"{}\" is not ADDRESS:PORT with a port of 1 to 65535", text));
    }
    out = NetAddress{std::string(host), std::string(port), std::string(text)};
    return Status::Ok();
}

Status ListenTcp(const NetAddress& address, UniqueFd& out, std::string& bound) {
    AddrInfoList list;
    if (Status status = Resolve(address, true, list); !status.ok()) return status;
    int error = 0;
    for (const addrinfo* a = list.get(); a != nullptr; a = a->ai_next) {
        UniqueFd fd = NewSocket(*a, error);
        if (!fd.valid()) continue;
        // A restarted server takes its port back at once, even while
        // connections of the one before linger in TIME_WAIT.
        const int on = 1;
        ::setsockopt(fd.get(), SOL_SOCKET, SO_REUSEADDR, &on, sizeof on);
        if (::bind(fd.get(), a->ai_addr, a->ai_addrlen) != 0 ||
            ::listen(fd.get(), SOMAXCONN) != 0) {
            error = errno;
            continue;
        }
        sockaddr_storage local{};
        socklen_t length = sizeof local;
        ::getsockname(fd.get(), reinterpret_cast<sockaddr*>(&local), &length);
        bound = FormatSocketAddress(local);
        out = std::move(fd);
        return Status::Ok();
    }
    return PosixError(fmt::format("Cannot listen on {}", address.text), error);
}

Status ConnectTcp(const NetAddress& address, Deadline deadline, UniqueFd& out) {
    AddrInfoList list;
    if (Status status = Resolve(address, false, list); !status.ok()) return status;
    int error = ETIMEDOUT;
    for (const addrinfo* a = list.get(); a != nullptr; a = a->ai_next) {
        UniqueFd fd = NewSocket(*a, error);
        if (!fd.valid()) continue;
        if (::connect(fd.get(), a->ai_addr, a->ai_addrlen) != 0) {
            if (errno != EINPROGRESS) {
                error = errno;
                continue;
            }
            if (!WaitForDescriptor(fd.get(), POLLOUT, deadline)) {
                error = ETIMEDOUT;
                break;
            }
            int result = 0;
            socklen_t length = sizeof result;
            ::getsockopt(fd.get(), SOL_SOCKET, SO_ERROR, &result, &length);
            if (result != 0) {
                error = result;
                continue;
            }
        }
        // One small message each way per exchange: send each at once.
        const int on = 1;
        ::setsockopt(fd.get(), IPPROTO_TCP, TCP_NODELAY, &on, sizeof on);
        out = std::move(fd);
        return Status::Ok();
    }
    return PosixError(fmt::format("Cannot connect to {}", address.text), error);
}

}  // namespace kestrun
