#pragma once
// The host's single poll loop. Everything the host waits for is a descriptor
// with a callback: listening sockets, client connections, the aircraft's
// timer, the stop signals, and any further feed a source brings along.
// Callbacks may watch and unwatch descriptors (their own included) while the
// loop runs.

#include <chrono>
#include <csignal>
#include <cstdint>
#include <functional>
#include <initializer_list>
#include <map>
#include <memory>
#include <vector>

#include "platform/posix/unique_fd.h"
#include "platform/status.h"

namespace kestrun {

class EventLoop {
  public:
    // Called with poll's revents for the descriptor.
    using Handler = std::function<void(short revents)>;

    EventLoop() = default;
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

    // Runs until Stop() or a stop signal; an error when poll itself fails.
    Status Run();
    void Stop() { running_ = false; }

    // The last stop signal received, 0 when none.
    int stop_signal() const { return stop_signal_; }

  private:
    struct Entry {
        short events = 0;
        std::uint64_t generation = 0;
        // Shared, so that a handler that unwatches itself can finish running.
        std::shared_ptr<Handler> handler;
    };
    std::map<int, Entry> entries_;
    std::uint64_t next_generation_ = 1;
    std::vector<UniqueFd> owned_;
    bool running_ = false;
    int stop_signal_ = 0;
};

// The steady clock in seconds.
double SteadySeconds();

}  // namespace kestrun
