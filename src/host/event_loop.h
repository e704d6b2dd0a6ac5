#pragma once
// The host's single event loop. Everything the host waits for is a descriptor
// with a callback: listening sockets, client connections, the aircraft's
// timer, the stop signals, and any further feed a source brings along.
// Callbacks may watch and unwatch descriptors (their own included) while the
// loop runs. The set lives in the kernel (epoll), so a wake-up costs what the
// ready descriptors cost, not what all of them do: a host serving hundreds of
// recorders wakes for one.

#include <chrono>
#include <csignal>
#include <cstdint>
#include <functional>
#include <initializer_list>
#include <memory>
#include <unordered_map>
#include <vector>

#include "platform/posix/unique_fd.h"
#include "platform/status.h"

namespace kestrun {

class EventLoop {
  public:
    // Called with the ready events for the descriptor, as poll's flags
    // (POLLIN, POLLOUT, POLLERR, POLLHUP).
    using Handler = std::function<void(short revents)>;

    EventLoop();
    EventLoop(const EventLoop&) = delete;
    EventLoop& operator=(const EventLoop&) = delete;

    // Watches `fd` (not owned) for `events`, replacing an earlier watch of
    // the same descriptor.
    void Watch(int fd, short events, Handler handler);
    // Changes the events of a watched descriptor.
    void SetEvents(int fd, short events);
    void Unwatch(int fd);

    // Calls `tick` every `period`, with the steady clock in seconds, from a
    // timer descriptor that the loop owns.
    Status AddTimer(std::chrono::nanoseconds period, std::function<void(double)> tick);

    // Makes the loop return when one of `signals` arrives. Blocks them for
    // the whole process, so call it before starting any thread.
    Status StopOnSignals(std::initializer_list<int> signals);

    // Runs until Stop() or a stop signal; an error when waiting itself fails.
    Status Run();
    void Stop() { running_ = false; }

    // The last stop signal received, 0 when none.
    int stop_signal() const { return stop_signal_; }

  private:
    struct Entry {
        short events = 0;
        // Tells a descriptor from an earlier one of the same number, whose
        // events may still be in the batch being handled.
        std::uint32_t generation = 0;
        // Shared, so that a handler that unwatches itself can finish running.
        std::shared_ptr<Handler> handler;
    };
    void Control(int operation, int fd, const Entry& entry);

    UniqueFd epoll_;
    int epoll_error_ = 0;  // errno of a failed epoll_create1
    std::unordered_map<int, Entry> entries_;
    std::uint32_t next_generation_ = 1;
    std::vector<UniqueFd> owned_;
    bool running_ = false;
    int stop_signal_ = 0;
};

// The steady clock in seconds.
double SteadySeconds();

}  // namespace kestrun
