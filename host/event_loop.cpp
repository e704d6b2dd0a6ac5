#include "host/event_loop.h"

#include <poll.h>
#include <sys/signalfd.h>
#include <sys/timerfd.h>
#include <unistd.h>

#include <cerrno>

#include "platform/posix/posix_error.h"

namespace kestrun {

double SteadySeconds() {
    return std::chrono::duration<double>(std::chrono::steady_clock::now().time_since_epoch())
        .count();
}

void EventLoop::Watch(int fd, short events, Handler handler) {
    entries_[fd] = Entry{events, next_generation_++, std::make_shared<Handler>(std::move(handler))};
}

void EventLoop::SetEvents(int fd, short events) {
    const auto it = entries_.find(fd);
    if (it != entries_.end()) it->second.events = events;
}

void EventLoop::Unwatch(int fd) {
    entries_.erase(fd);
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
    running_ = true;
    std::vector<pollfd> polled;
    std::vector<std::uint64_t> generations;
    while (running_) {
        polled.clear();
        generations.clear();
        for (const auto& [fd, entry] : entries_) {
            polled.push_back(pollfd{fd, entry.events, 0});
            generations.push_back(entry.generation);
        }
        const int ready = ::poll(polled.data(), polled.size(), -1);
        if (ready < 0) {
            if (errno == EINTR) continue;
            return PosixError("The host's poll loop failed", errno);
        }
        for (std::size_t i = 0; i < polled.size() && running_; ++i) {
            if (polled[i].revents == 0) continue;
            // A callback earlier in this round may have closed this
            // descriptor, and the number may even be in use again.
            const auto it = entries_.find(polled[i].fd);
            if (it == entries_.end() || it->second.generation != generations[i]) continue;
            const std::shared_ptr<Handler> handler = it->second.handler;
            (*handler)(polled[i].revents);
        }
    }
    return Status::Ok();
}

}  // namespace kestrun
