#include "platform/posix/posix_link_platform.h"

#include <fcntl.h>
#include <fmt/core.h>
#include <poll.h>
#include <pwd.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <cstdio>
#include <ctime>
#include <mutex>
#include <vector>

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

// "user alice (uid 1001)", or "user 1001" when the user has no name.
std::string UserName(uid_t uid) {
    passwd entry{};
    passwd* found = nullptr;
    std::vector<char> buffer(4096);
    if (::getpwuid_r(uid, &entry, buffer.data(), buffer.size(), &found) == 0 && found != nullptr) {
        return fmt::format("user {} (uid {})", found->pw_name, uid);
    }
    return fmt::format("user {}", uid);
}

// How far `reply` is ahead of `request`, in sequence numbers that wrap.
std::int32_t SequenceDistance(std::uint32_t reply, std::uint32_t request) {
    return static_cast<std::int32_t>(reply - request);
}

}  // namespace

std::size_t RemoveLeftoverLinks(const std::string& runtime) {
    return RemoveStaleAtoms(AtomDirectoryPath(runtime)) +
           RemoveStaleSharedBlocks(fmt::format("{}:", kExchangeMessageName));
}

PosixLinkPlatform::PosixLinkPlatform(Reporter report, std::uint32_t process_id)
    : process_id_(process_id), report_(std::move(report)) {
    if (!report_) {
        report_ = [](std::string_view line) {
            fmt::print(stderr, "kestrun: {}\n", line);
            std::fflush(stderr);
        };
    }
}

PosixLinkPlatform::~PosixLinkPlatform() {
    for (auto& [handle, mapping] : mappings_) RemoveSharedBlock(mapping.name);
    for (auto& [atom, directory] : atoms_) kestrun::DeleteAtom(directory, atom);
}

bool PosixLinkPlatform::PrepareRuntime(std::string& runtime) {
    const Status status = PrepareRuntimeDirectory(runtime);
    if (status.ok()) {
        runtime_problem_.clear();
        static std::once_flag swept;
        std::call_once(swept, [&runtime] { RemoveLeftoverLinks(runtime); });
        return true;
    }
    if (status.message() != runtime_problem_) report_(status.message());
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
    return process_id_ != 0 ? process_id_ : static_cast<std::uint32_t>(::getpid());
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
    auto created = CreateSharedBlock(block_name, size);
    if (created.error == EEXIST && ReclaimBlockName(block_name)) {
        created = CreateSharedBlock(block_name, size);
    }
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

bool PosixLinkPlatform::ReclaimBlockName(const std::string& name) {
    const auto holder = InspectSharedBlock(name);
    // Gone meanwhile: simply try again.
    if (!holder.ok()) return holder.error == ENOENT;
    if (holder.value.uid != ::geteuid()) {
        report_(
            fmt::format("the shared block name {} is held by {}, not by you; the link "
                        "cannot be opened until it is removed",
                        name, UserName(holder.value.uid)));
        return false;
    }
    if (!holder.value.stale) return false;
    const int removed = RemoveSharedBlock(name);
    return removed == 0 || removed == ENOENT;
}

std::byte* PosixLinkPlatform::MapView(MappingHandleValue mapping) {
    const auto it = mappings_.find(mapping);
    if (it == mappings_.end()) {
        Fail(EBADF);
        return nullptr;
    }
    View view{mapping, std::make_unique<std::byte[]>(it->second.size)};
    std::byte* const base = view.bytes.get();
    views_.emplace(base, std::move(view));
    last_error_ = 0;
    return base;
}

void PosixLinkPlatform::UnmapView(std::byte* view) {
    if (views_.erase(view) == 0) Fail(EINVAL);
}

PosixLinkPlatform::Mapping* PosixLinkPlatform::MappingOf(std::byte* view) {
    const auto it = views_.find(view);
    const auto mapping = it == views_.end() ? mappings_.end() : mappings_.find(it->second.mapping);
    if (mapping == mappings_.end()) {
        Fail(EBADF);
        return nullptr;
    }
    return &mapping->second;
}

bool PosixLinkPlatform::FlushView(std::byte* view, std::size_t length) {
    Mapping* mapping = MappingOf(view);
    if (mapping == nullptr) return false;
    if (length > mapping->size) {
        Fail(EINVAL);
        return false;
    }
    const int error = WriteBlock(mapping->fd.get(), std::span<const std::byte>(view, length));
    Fail(error);
    return error == 0;
}

bool PosixLinkPlatform::RefreshView(std::byte* view, std::size_t length) {
    Mapping* mapping = MappingOf(view);
    if (mapping == nullptr) return false;
    struct stat info {};
    if (::fstat(mapping->fd.get(), &info) != 0) {
        Fail(errno);
        return false;
    }
    // A block resized while the host held it is not the block we sent.
    if (length > mapping->size || info.st_size != static_cast<off_t>(mapping->size)) {
        Fail(EIO);
        return false;
    }
    const int error = ReadBlock(mapping->fd.get(), std::span<std::byte>(view, length));
    Fail(error);
    return error == 0;
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
    // Replies left over from the last exchange were read before this request
    // existed: one numbered ahead of the last request cannot be an answer.
    if (connection.broken == 0 && RepliesAhead(connection)) Cut(connection);
    if (connection.broken != 0) {
        Fail(connection.broken);
        return false;
    }
    const std::int64_t deadline_ns = NowNs() + static_cast<std::int64_t>(timeout_ms) * 1'000'000;

    RequestFrame request;
    request.sequence = connection.next_sequence++;
    if (connection.next_sequence == 0) connection.next_sequence = 1;
    connection.last_sent = request.sequence;
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
            const std::int32_t ahead = SequenceDistance(reply.sequence, request.sequence);
            if (ahead == 0) {
                answer = reply.result;
                last_error_ = 0;
                return true;
            }
            if (ahead > 0) {
                Cut(connection);
                Fail(connection.broken);
                return false;
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

bool PosixLinkPlatform::RepliesAhead(const Connection& connection) {
    for (std::size_t at = 0; at + kReplyFrameSize <= connection.incoming.size();
         at += kReplyFrameSize) {
        const ReplyFrame reply = DecodeReplyFrame(connection.incoming.data() + at);
        if (SequenceDistance(reply.sequence, connection.last_sent) > 0) return true;
    }
    return false;
}

void PosixLinkPlatform::Cut(Connection& connection) {
    // The stream no longer says which reply answers which request, so no
    // later reply on it could be trusted either.
    ::shutdown(connection.fd.get(), SHUT_RDWR);
    connection.incoming.clear();
    connection.outgoing.clear();
    connection.broken = EPROTO;
}

std::string PosixLinkPlatform::WhereHostsListen() {
    const std::string runtime = RuntimeDirectoryPath();
    return fmt::format("{} or {}", EndpointPath(runtime, kHostWindowClass),
                       EndpointPath(runtime, kSimulatorWindowClass));
}

void PosixLinkPlatform::Sleep(std::uint32_t milliseconds) {
    timespec left{static_cast<time_t>(milliseconds / 1000),
                  static_cast<long>(milliseconds % 1000) * 1'000'000L};
    while (::nanosleep(&left, &left) != 0 && errno == EINTR) {
    }
}

}  // namespace kestrun
