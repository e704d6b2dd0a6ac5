#include "host/event_loop.h"

#include <poll.h>
#include <sys/epoll.h>
#include <sys/signalfd.h>
#include <sys/timerfd.h>
#include <unistd.h>

#include <array>
#include <cerrno>

#include "platform/posix/posix_error.h"

namespace kestrun {

double SteadySeconds() {
    return std::chrono::duration<double>(std::chrono::steady_clock::now().time_since_epoch())
        .count();
}

// poll's and epoll's flags for these events are the same bits on Linux.
static_assert(POLLIN == EPOLLIN && POLLOUT == EPOLLOUT && POLLERR == EPOLLERR &&
              POLLHUP == EPOLLHUP);

EventLoop::EventLoop() : epoll_(::epoll_create1(EPOLL_CLOEXEC)) {
    if (!epoll_.valid()) epoll_error_ = errno;
}

void EventLoop::Control(int operation, int fd, const Entry& entry) {
    epoll_event event{};
    event.events = static_cast<std::uint32_t>(static_cast<unsigned short>(entry.events));
    event.data.u64 = std::uint64_t{entry.generation} << 32 | static_cast<std::uint32_t>(fd);
    // A failure (no memory, a descriptor epoll cannot watch) leaves the
    // descriptor unwatched, as a closed one would be; its owner sees nothing
    // more of it, and the rest of the loop goes on.
    static_cast<void>(::epoll_ctl(epoll_.get(), operation, fd, &event));
}

void EventLoop::Watch(int fd, short events, Handler handler) {
    Entry entry{events, next_generation_++, std::make_shared<Handler>(std::move(handler))};
    const auto [it, added] = entries_.insert_or_assign(fd, std::move(entry));
    Control(added ? EPOLL_CTL_ADD : EPOLL_CTL_MOD, fd, it->second);
}

void EventLoop::SetEvents(int fd, short events) {
    const auto it = entries_.find(fd);
    // Most wake-ups leave the events as they were: no system call for those.
    if (it == entries_.end() || it->second.events == events) return;
    it->second.events = events;
    Control(EPOLL_CTL_MOD, fd, it->second);
}

void EventLoop::Unwatch(int fd) {
    if (entries_.erase(fd) == 0) return;
    static_cast<void>(::epoll_ctl(epoll_.get(), EPOLL_CTL_DEL, fd, nullptr));
}

Status EventLoop::AddTimer(std::chrono::nanoseconds period, std::function<void(double)> tick) {
    UniqueFd fd(::timerfd_create(CLOCK_MONOTONIC, TFD_NONBLOCK | TFD_CLOEXEC));
    if (!fd.valid()) return PosixError("Cannot create a timer", errno);
    const auto seconds = std::chrono::duration_cast<std::chrono::seconds>(period);
    itimerspec timing{};
    timing.it_interval.tv_sec = static_cast<time_t>(seconds.count());
    timing.it_interval.tv_nsec = static_cast<long>((period - seconds).count());
    timing.it_value = timing.it_interval;
    if (::timerfd_settime(fd.get(), 0, &timing, nullptr) != 0) {
        return PosixError("Cannot start a timer", errno);
    }
    const int raw = fd.get();
    Watch(raw, POLLIN, [raw, tick = std::move(tick)](short) {
        std::uint64_t expirations = 0;
        // Ticks missed while the loop was busy collapse into one: the
        // callback gets the time, not a count.
        if (::read(raw, &expirations, sizeof expirations) > 0) tick(SteadySeconds());
    });
    owned_.push_back(std::move(fd));
    return Status::Ok();
}

Status EventLoop::StopOnSignals(std::initializer_list<int> signals) {
    sigset_t set;
    sigemptyset(&set);
    for (int s : signals) sigaddset(&set, s);
    if (::sigprocmask(SIG_BLOCK, &set, nullptr) != 0) {
        return PosixError("Cannot block the stop signals", errno);
    }
    UniqueFd fd(::signalfd(-1, &set, SFD_NONBLOCK | SFD_CLOEXEC));
    if (!fd.valid()) return PosixError("Cannot watch the stop signals", errno);
    const int raw = fd.get();
    Watch(raw, POLLIN, [this, raw](short) {
        signalfd_siginfo info{};
        if (::read(raw, &info, sizeof info) == static_cast<ssize_t>(sizeof info)) {
            stop_signal_ = static_cast<int>(info.ssi_signo);
            Stop();
        }
    });
    owned_.push_back(std::move(fd));
    return Status::Ok();
}

Status EventLoop::Run() {
    if (!epoll_.valid()) return PosixError("Cannot create the host's event loop", epoll_error_);
    running_ = true;
    std::array<epoll_event, 64> ready{};
    while (running_) {
        const int count = ::epoll_wait(epoll_.get(), ready.data(), ready.size(), -1);
        if (count < 0) {
            if (errno == EINTR) continue;
            return PosixError("The host's event loop failed", errno);
        }
        for (int i = 0; i < count && running_; ++i) {
            const std::uint64_t data = ready[static_cast<std::size_t>(i)].data.u64;
            const auto fd = static_cast<int>(static_cast<std::uint32_t>(data));
            // A callback earlier in this round may have closed this
            // descriptor, and the number may even be in use again.
            const auto it = entries_.find(fd);
            if (it == entries_.end() || it->second.generation != data >> 32) continue;
            const std::shared_ptr<Handler> handler = it->second.handler;
            (*handler)(static_cast<short>(ready[static_cast<std::size_t>(i)].events));
        }
    }
    return Status::Ok();
}

}  // namespace kestrun
