#include "replay/udp_sender.h"

#include <arpa/inet.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <string>

#include "platform/posix/posix_error.h"

namespace kestrun {
namespace {

Status Failed(const char* what, const FlightGearAddress& to) {
    return Status::Error(std::string(what) + " " + FormatEndpoint(to.ipv4, to.port) + ": " +
                         PosixErrorText(errno));
}

}  // namespace

Status UdpSender::Open(const FlightGearAddress& to, std::unique_ptr<UdpSender>& sender) {
    const int fd = ::socket(AF_INET, SOCK_DGRAM | SOCK_CLOEXEC | SOCK_NONBLOCK, 0);
    if (fd < 0) return Failed("cannot make a UDP socket for", to);
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = htonl(to.ipv4);
    address.sin_port = htons(to.port);
    if (::connect(fd, reinterpret_cast<const sockaddr*>(&address), sizeof address) != 0) {
        const Status status = Failed("cannot send to", to);
        ::close(fd);
        return status;
    }
    sender.reset(new UdpSender(fd, to));
    return Status::Ok();
}

UdpSender::~UdpSender() {
    ::close(fd_);
}

Status UdpSender::Send(std::string_view datagram) {
    if (::send(fd_, datagram.data(), datagram.size(), 0) >= 0) return Status::Ok();
    if (errno == ECONNREFUSED || errno == EAGAIN || errno == EWOULDBLOCK || errno == ENOBUFS) {
        return Status::Ok();
    }
    return Failed("cannot send to", to_);
}

}  // namespace kestrun
