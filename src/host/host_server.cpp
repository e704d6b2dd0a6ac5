#include "host/host_server.h"

#include <fmt/core.h>
#include <poll.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>

#include "host/block_server.h"
#include "platform/posix/endpoint.h"
#include "platform/posix/posix_error.h"
#include "platform/posix/runtime_directory.h"
#include "protocol/frame.h"

namespace kestrun {
namespace {

// A client that sends requests but never reads its replies is cut off
// rather than allowed to grow the host's memory without end.
constexpr std::size_t kMaxPendingReplyBytes = 64 * 1024;

// How often a host that ran out of descriptors tries to accept again, should
// no client of its own leave meanwhile.
constexpr std::chrono::milliseconds kAcceptRetryPeriod{250};

}  // namespace

HostServer::HostServer(EventLoop& loop, OffsetImage& image, std::string runtime_directory,
                       FaultMode fault, Reporter report)
    : loop_(loop),
      handler_([&image](std::span<std::byte> block, std::size_t& used) {
          return std::optional<std::int32_t>(ServeBlock(block, image, &used));
      }),
      runtime_directory_(std::move(runtime_directory)),
      fault_(fault),
      report_(std::move(report)) {}

HostServer::HostServer(EventLoop& loop, BlockHandler handler, std::string runtime_directory,
                       Reporter report)
    : loop_(loop),
      handler_(std::move(handler)),
      runtime_directory_(std::move(runtime_directory)),
      fault_(FaultMode::kNone),
      report_(std::move(report)) {}

HostServer::~HostServer() {
    for (auto& [fd, client] : clients_) loop_.Unwatch(fd);
    clients_.clear();
    for (Listener& listener : listeners_) {
        loop_.Unwatch(listener.fd.get());
        listener.fd.Reset();
        // Remove the file only while it is still ours: had someone replaced
        // it, the new one belongs to another host.
        struct stat info {};
        if (::lstat(listener.path.c_str(), &info) == 0 && info.st_dev == listener.device &&
            info.st_ino == listener.inode) {
            ::unlink(listener.path.c_str());
        }
    }
}

Status HostServer::Listen(std::string_view window_class) {
    // The retry timer is made now: out of descriptors, no timer could be.
    if (!resume_timer_) {
        Status status = loop_.AddTimer(kAcceptRetryPeriod, [this](double) {
            if (paused_) ResumeAccepting();
        });
        if (!status.ok()) return status;
        resume_timer_ = true;
    }
    const std::string path = EndpointPath(runtime_directory_, window_class);
    const auto listening = ListenEndpoint(path);
    if (!listening.ok()) {
        if (listening.error == EADDRINUSE) {
            return Status::Error(fmt::format("Another host already listens on {}", path));
        }
        return PosixError(fmt::format("Cannot listen on {}", path), listening.error);
    }
    Listener listener;
    listener.fd.Reset(listening.value);
    listener.path = path;
    struct stat info {};
    if (::lstat(path.c_str(), &info) == 0) {
        listener.device = info.st_dev;
        listener.inode = info.st_ino;
    }
    const int fd = listener.fd.get();
    if (!paused_) WatchListener(fd);
    listeners_.push_back(std::move(listener));
    return Status::Ok();
}

void HostServer::WatchListener(int listener_fd) {
    loop_.Watch(listener_fd, POLLIN, [this, listener_fd](short) { Accept(listener_fd); });
}

void HostServer::PauseAccepting(int error) {
    if (paused_) return;
    paused_ = true;
    for (const Listener& listener : listeners_) loop_.Unwatch(listener.fd.get());
    if (!said_paused_ && report_) {
        said_paused_ = true;
        report_(
            fmt::format("out of file descriptors ({}); new connections wait until some "
                        "come free, the connected clients are still served",
                        PosixErrorText(error)));
    }
}

void HostServer::ResumeAccepting() {
    paused_ = false;
    for (const Listener& listener : listeners_) WatchListener(listener.fd.get());
    // Take what waited now rather than rely on the loop reporting it again.
    for (const Listener& listener : listeners_) {
        if (paused_) break;
        Accept(listener.fd.get());
    }
}

std::vector<std::string> HostServer::endpoints() const {
    std::vector<std::string> paths;
    for (const Listener& listener : listeners_) paths.push_back(listener.path);
    return paths;
}

void HostServer::Accept(int listener_fd) {
    for (;;) {
        const int fd = ::accept4(listener_fd, nullptr, nullptr, SOCK_NONBLOCK | SOCK_CLOEXEC);
        if (fd < 0) {
            if (errno == EMFILE || errno == ENFILE) PauseAccepting(errno);
            // EAGAIN: all taken. Anything else (a client that gave up while
            // queued) affects only that client.
            return;
        }
        UniqueFd connection(fd);
        // A client is served only its own user's blocks.
        ucred peer{};
        socklen_t length = sizeof peer;
        if (::getsockopt(fd, SOL_SOCKET, SO_PEERCRED, &peer, &length) != 0) continue;
        Client client{std::move(connection),
                      ClientSession(AtomDirectoryPath(runtime_directory_), handler_, peer.uid),
                      {},
                      {}};
        clients_.emplace(fd, std::move(client));
        loop_.Watch(fd, POLLIN, [this, fd](short revents) { OnClient(fd, revents); });
    }
}

void HostServer::OnClient(int fd, short revents) {
    const auto it = clients_.find(fd);
    if (it == clients_.end()) return;
    Client& client = it->second;
    bool open = true;
    if ((revents & (POLLIN | POLLHUP | POLLERR)) != 0) {
        // Requests that arrived before the client hung up are still served:
        // a client that only shut its sending side can read the replies.
        open = Receive(client);
        if (!HandleFrames(client)) {
            Drop(fd);
            return;
        }
    }
    if (!Send(client) || !open) {
        Drop(fd);
        return;
    }
    loop_.SetEvents(fd, client.outgoing.empty() ? POLLIN : POLLIN | POLLOUT);
}

bool HostServer::Receive(Client& client) {
    // One read per wake-up: the frames it brings are answered before the next
    // read, so a client that never stops sending can neither grow the host's
    // memory nor keep the other clients waiting. The poll is level-triggered
    // and wakes again for whatever is left.
    std::byte buffer[4096];
    for (;;) {
        const ssize_t n = ::recv(client.fd.get(), buffer, sizeof buffer, MSG_DONTWAIT);
        if (n > 0) {
            client.incoming.insert(client.incoming.end(), buffer,
                                   buffer + static_cast<std::size_t>(n));
            return true;
        }
        if (n == 0) return false;
        if (errno == EINTR) continue;
        return errno == EAGAIN || errno == EWOULDBLOCK;
    }
}

bool HostServer::HandleFrames(Client& client) {
    std::size_t used = 0;
    while (client.incoming.size() - used >= kRequestFrameSize) {
        const RequestFrame request = DecodeRequestFrame(client.incoming.data() + used);
        used += kRequestFrameSize;
        ReplyFrame reply{request.sequence, 0};
        switch (fault_) {
            case FaultMode::kDropConnection:
                return false;
            case FaultMode::kNeverAnswer:
                continue;
            case FaultMode::kAnswerZero:
                break;
            case FaultMode::kNone: {
                const auto answer = client.session.Answer(request);
                // Unanswered, as a host that is too slow: the client's
                // send times out and it tries again.
                if (!answer) continue;
                reply.result = *answer;
                break;
            }
        }
        const auto bytes = EncodeReplyFrame(reply);
        client.outgoing.insert(client.outgoing.end(), bytes.begin(), bytes.end());
    }
    client.incoming.erase(client.incoming.begin(),
                          client.incoming.begin() + static_cast<std::ptrdiff_t>(used));
    return client.outgoing.size() <= kMaxPendingReplyBytes;
}

bool HostServer::Send(Client& client) {
    std::size_t sent = 0;
    bool ok = true;
    while (sent < client.outgoing.size()) {
        const ssize_t n = ::send(client.fd.get(), client.outgoing.data() + sent,
                                 client.outgoing.size() - sent, MSG_NOSIGNAL | MSG_DONTWAIT);
        if (n > 0) {
            sent += static_cast<std::size_t>(n);
            continue;
        }
        if (n < 0 && errno == EINTR) continue;
        ok = n < 0 && (errno == EAGAIN || errno == EWOULDBLOCK);
        break;
    }
    client.outgoing.erase(client.outgoing.begin(),
                          client.outgoing.begin() + static_cast<std::ptrdiff_t>(sent));
    return ok;
}

void HostServer::Drop(int fd) {
    loop_.Unwatch(fd);
    clients_.erase(fd);
    // A descriptor came free: a waiting client may have it.
    if (paused_) ResumeAccepting();
}

}  // namespace kestrun
