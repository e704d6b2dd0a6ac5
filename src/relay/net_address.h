#pragma once
// The relay's network addresses, "HOST:PORT" or "[IPV6]:PORT", and the TCP
// sockets behind them. HOST may be a name; it is looked up when the socket is
// made, so that a client keeps working when the server's address changes.

#include <sys/socket.h>

#include <chrono>
#include <cstdint>
#include <string>
#include <string_view>

#include "platform/posix/unique_fd.h"
#include "platform/status.h"

namespace kestrun {

using Deadline = std::chrono::steady_clock::time_point;

struct NetAddress {
    std::string host;
    std::string port;
    std::string text;  // as given, for messages
};

// The server's default: this machine only.
inline constexpr std::string_view kDefaultListenAddress = "127.0.0.1:47810";

// Splits "HOST:PORT" or "[IPV6]:PORT"; PORT is 1 to 65535 (0 too when
// `allow_any_port`, which lets the system choose).
Status ParseNetAddress(std::string_view text, NetAddress& out, bool allow_any_port = false);

// A non-blocking listening socket on `address`; `bound` then says where it
// listens (with the port the system chose for port 0).
Status ListenTcp(const NetAddress& address, UniqueFd& out, std::string& bound);

// A non-blocking connected socket to `address`, trying each address the
// name has until one answers or the deadline passes.
Status ConnectTcp(const NetAddress& address, Deadline deadline, UniqueFd& out);

// "ADDRESS:PORT" of the other end of the connected socket `fd`.
std::string PeerAddress(int fd);

// Who a connection comes from, for counting and logging: the IPv4 address
// ("192.0.2.7"), or for IPv6 its /64 network ("2001:db8:1:2::/64"), since
// one machine may draw any number of addresses from its /64.
std::string ConnectionSource(const sockaddr_storage& from);

// Waits for `events` on `fd` until the deadline; false on a time-out.
bool WaitForDescriptor(int fd, short events, Deadline deadline);

}  // namespace kestrun
