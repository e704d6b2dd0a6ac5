#include "platform/posix/posix_link_platform.h"

#include <fcntl.h>
#include <fmt/core.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <cstdio>
#include <ctime>

#include "platform/posix/atom_table.h"
#include "platform/posix/endpoint.h"
#include "platform/posix/runtime_directory.h"
#include "platform/posix/shared_block.h"
#include "protocol/frame.h"

namespace kestrun {
namespace {

std::int64_t NowNs() {
    return std::chrono::duration_cast<std::chrono::nanoseconds>(
               std::chrono::steady_clock::now().time_since_epoch())
        .count();
}

// Milliseconds left until `deadline_ns`, rounded up so that poll never wakes
// before the deadline; 0 once it has passed.
int MillisecondsLeft(std::int64_t deadline_ns) {
    const std::int64_t left = deadline_ns - NowNs();
    if (left <= 0) return 0;
    return static_cast<int>((left + 999'999) / 1'000'000);
}

// Handles are non-zero by contract; descriptor 0 appears only when standard
// input was closed, so move it out of the way then.
int NonZeroDescriptor(int fd) {
    if (fd != 0) return fd;
    const int moved = ::fcntl(fd, F_DUPFD_CLOEXEC, 1);
    ::close(fd);
    return moved;
}

std::string_view UpToNul(std::string_view name) {
    return name.substr(0, name.find('\0'));
}

// Waits for `events` on `fd` until the deadline: 1 ready, 0 time-out, or
// -errno.
int WaitFor(int fd, short events, std::int64_t deadline_ns) {
    for (;;) {
        pollfd entry{fd, events, 0};
        const int n = ::poll(&entry, 1, MillisecondsLeft(deadline_ns));
        if (n > 0) return 1;
        if (n == 0) {
            if (NowNs() >= deadline_ns) return 0;
            continue;
        }
        if (errno != EINTR) return -errno;
    }
}

}  // namespace

PosixLinkPlatform::~PosixLinkPlatform() {
    for (auto& [view, size] : views_) UnmapSharedBlock(view, size);
    for (auto& [handle, mapping] : mappings_) RemoveSharedBlock(mapping.name);
    for (auto& [atom, directory] : atoms_) kestrun::DeleteAtom(directory, atom);
}

bool PosixLinkPlatform::PrepareRuntime(std::string& runtime) {
    const Status status = PrepareRuntimeDirectory(runtime);
    if (status.ok()) {
        runtime_problem_.clear();
        return true;
    }
    if (status.message() != runtime_problem_) {
        std::fprintf(stderr, "kestrun: %s\n", status.message().c_str());
    }
    runtime_problem_ = status.message();
    Fail(EACCES);
    return false;
}

WindowHandle PosixLinkPlatform::FindHostWindow(std::string_view window_class) {
    if (window_class.empty() || window_class.find('/') != std::string_view::npos) {
        Fail(EINVAL);
        return 0;
    }
    std::string runtime;
    if (!PrepareRuntime(runtime)) return 0;
    const auto connected = ConnectEndpoint(EndpointPath(runtime, window_class));
    if (!connected.ok()) {
        Fail(connected.error);
        return 0;
    }
    const int fd = NonZeroDescriptor(connected.value);
    if (fd < 0) {
        Fail(errno);
        return 0;
    }
    Connection connection;
    connection.fd.Reset(fd);
    connections_.emplace(fd, std::move(connection));
    last_error_ = 0;
    return fd;
}

void PosixLinkPlatform::ReleaseWindow(WindowHandle window) {
    connections_.erase(window);
}

std::uint32_t PosixLinkPlatform::RegisterMessage(std::string_view name) {
    if (name.empty()) {
        Fail(EINVAL);
        return 0;
    }
    return RegisteredMessageNumber(name);
}

std::uint32_t PosixLinkPlatform::CurrentProcessId() {
    return static_cast<std::uint32_t>(::getpid());
}

std::uint16_t PosixLinkPlatform::AddAtom(std::string_view name) {
    std::string runtime;
    if (!PrepareRuntime(runtime)) return 0;
    std::string directory = AtomDirectoryPath(runtime);
    const auto added = kestrun::AddAtom(directory, UpToNul(name));
    if (!added.ok()) {
        Fail(added.error);
        return 0;
    }
    atoms_[added.value] = std::move(directory);
    last_error_ = 0;
    return added.value;
}

void PosixLinkPlatform::DeleteAtom(std::uint16_t atom) {
    // Only atoms this object added: another process's atom file names its
    // block for its host, and removing it would cut that link.
    const auto it = atoms_.find(atom);
    if (it == atoms_.end()) {
        Fail(EINVAL);
        return;
    }
    Fail(kestrun::DeleteAtom(it->second, atom));
    atoms_.erase(it);
}

MappingHandleValue PosixLinkPlatform::CreateMapping(std::string_view name, std::uint32_t size) {
    if (size == 0) {
        Fail(EINVAL);
        return 0;
    }
    const std::string block_name(UpToNul(name));
    const auto created = CreateSharedBlock(block_name, size);
    if (!created.ok()) {
        if (created.error == EEXIST) {
            last_error_ = kErrorAlreadyExists;
        } else {
            Fail(created.error);
        }
        return 0;
    }
    const int fd = NonZeroDescriptor(created.value);
    if (fd < 0) {
        Fail(errno);
        RemoveSharedBlock(block_name);
        return 0;
    }
    Mapping mapping;
    mapping.fd.Reset(fd);
    mapping.name = block_name;
    mapping.size = size;
    mappings_.emplace(fd, std::move(mapping));
    last_error_ = 0;
    return fd;
}

std::byte* PosixLinkPlatform::MapView(MappingHandleValue mapping) {
    const auto it = mappings_.find(mapping);
    if (it == mappings_.end()) {
        Fail(EBADF);
        return nullptr;
    }
    const auto mapped = MapSharedBlock(it->second.fd.get(), it->second.size);
    if (!mapped.ok()) {
        Fail(mapped.error);
        return nullptr;
    }
    views_[mapped.value] = it->second.size;
    last_error_ = 0;
    return mapped.value;
}

void PosixLinkPlatform::UnmapView(std::byte* view) {
    const auto it = views_.find(view);
    if (it == views_.end()) {
        Fail(EINVAL);
        return;
    }
    UnmapSharedBlock(it->first, it->second);
    views_.erase(it);
}

void PosixLinkPlatform::CloseMapping(MappingHandleValue mapping) {
    const auto it = mappings_.find(mapping);
    if (it == mappings_.end()) {
        Fail(EBADF);
        return;
    }
    // The creator's close removes the name, as the last handle's close would
    // destroy a page-file-backed mapping.
    RemoveSharedBlock(it->second.name);
    mappings_.erase(it);
}

int PosixLinkPlatform::Flush(Connection& connection, std::int64_t deadline_ns) {
    std::size_t sent = 0;
    int error = 0;
    while (sent < connection.outgoing.size()) {
        const ssize_t n = ::send(connection.fd.get(), connection.outgoing.data() + sent,
                                 connection.outgoing.size() - sent, MSG_NOSIGNAL | MSG_DONTWAIT);
        if (n > 0) {
            sent += static_cast<std::size_t>(n);
            continue;
        }
        if (n < 0 && errno == EINTR) continue;
        if (n < 0 && (errno == EAGAIN || errno == EWOULDBLOCK)) {
            const int ready = WaitFor(connection.fd.get(), POLLOUT, deadline_ns);
            if (ready > 0) continue;
            error = ready == 0 ? -1 : -ready;
            break;
        }
        error = n < 0 ? errno : EPIPE;
        break;
    }
    connection.outgoing.erase(connection.outgoing.begin(),
                              connection.outgoing.begin() + static_cast<std::ptrdiff_t>(sent));
    return error;
}

bool PosixLinkPlatform::SendMessageTimeout(WindowHandle window, std::uint32_t message,
                                           std::int32_t wparam, std::int32_t lparam,
                                           std::uint32_t timeout_ms, std::int32_t& answer) {
    const auto it = connections_.find(window);
    if (it == connections_.end()) {
        Fail(EBADF);
        return false;
    }
    Connection& connection = it->second;
    const std::int64_t deadline_ns = NowNs() + static_cast<std::int64_t>(timeout_ms) * 1'000'000;

    RequestFrame request;
    request.sequence = connection.next_sequence++;
    if (connection.next_sequence == 0) connection.next_sequence = 1;
    request.message = message;
    request.wparam = wparam;
    request.lparam = lparam;
    const auto frame = EncodeRequestFrame(request);
    connection.outgoing.insert(connection.outgoing.end(), frame.begin(), frame.end());

    if (const int error = Flush(connection, deadline_ns); error != 0) {
        last_error_ = error == -1 ? 0 : static_cast<std::uint32_t>(error);
        return false;
    }

    for (;;) {
        // Replies to requests that timed out earlier may still be queued in
        // front of ours; only the one carrying our sequence number counts.
        while (connection.incoming.size() >= kReplyFrameSize) {
            const ReplyFrame reply = DecodeReplyFrame(connection.incoming.data());
            connection.incoming.erase(
                connection.incoming.begin(),
                connection.incoming.begin() + static_cast<std::ptrdiff_t>(kReplyFrameSize));
            if (reply.sequence == request.sequence) {
                answer = reply.result;
                last_error_ = 0;
                return true;
            }
        }

        // The reply cannot be there yet this soon after the request: wait
        // first, then read, which saves a read that would find nothing. The
        // deadline is checked even when data keeps coming, so a host that
        // streams stray replies cannot hold the window past the time-out.
        const int ready =
            NowNs() >= deadline_ns ? 0 : WaitFor(connection.fd.get(), POLLIN, deadline_ns);
        if (ready == 0) {
            last_error_ = 0;
            return false;
        }
        if (ready < 0) {
            Fail(-ready);
            return false;
        }
        std::byte buffer[256];
        const ssize_t n = ::recv(connection.fd.get(), buffer, sizeof buffer, MSG_DONTWAIT);
        if (n > 0) {
            connection.incoming.insert(connection.incoming.end(), buffer,
                                       buffer + static_cast<std::size_t>(n));
            continue;
        }
        if (n == 0) {
            Fail(ECONNRESET);
            return false;
        }
        if (errno != EINTR && errno != EAGAIN && errno != EWOULDBLOCK) {
            Fail(errno);
            return false;
        }
    }
}

void PosixLinkPlatform::Sleep(std::uint32_t milliseconds) {
    timespec left{static_cast<time_t>(milliseconds / 1000),
                  static_cast<long>(milliseconds % 1000) * 1'000'000L};
    while (::nanosleep(&left, &left) != 0 && errno == EINTR) {
    }
}

}  // namespace kestrun
