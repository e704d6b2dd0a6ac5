#pragma once
// kestrun-relay serve: accepts peers on a TCP port and carries their blocks
// to the local host. Each connection gets a thread of its own: first the
// handshake, bounded in time, then, once the peer has proved the key, its
// requests, each checked as the host checks a block and forwarded over the
// peer's own link. A peer that sends anything malformed or oversized is
// dropped; one that sends too fast is slowed; neither touches another peer.

#include <atomic>
#include <chrono>
#include <cstddef>
#include <functional>
#include <list>
#include <memory>
#include <string>
#include <string_view>
#include <thread>

#include "host/event_loop.h"
#include "relay/net_address.h"
#include "relay/tls_channel.h"
#include "platform/posix/unique_fd.h"
#include "platform/status.h"

namespace kestrun {

struct RelayServerLimits {
    // Peers that have proved the key, each with its own link to the host.
    std::size_t peers = 64;
    // Connections still in their handshake; when a new one would pass this,
    // the oldest goes, so a flood of idle connections cannot lock peers out.
    std::size_t handshakes = 16;
    std::chrono::milliseconds handshake_time{3000};
    // Once a request has begun, the rest of it and the reply's sending.
    std::chrono::milliseconds message_time{5000};
    // Sustained exchanges a second per peer, and the burst allowed above it.
    double exchanges_per_second = 1000;
    double burst = 200;
};

class RelayServer {
  public:
    // Called from the peers' threads too.
    using Log = std::function<void(std::string_view line)>;

    RelayServer(EventLoop& loop, const TlsContext& context, RelayServerLimits limits, Log log);
    // Cuts every peer off and waits for their threads.
    ~RelayServer();
    RelayServer(const RelayServer&) = delete;
    RelayServer& operator=(const RelayServer&) = delete;

    // Listens on `address`; `bound` says where.
    Status Listen(const NetAddress& address, std::string& bound);

  private:
    struct Peer {
        UniqueFd fd;  // closed only after the thread has ended
        std::thread thread;
        std::atomic<bool> authenticated{false};
        std::atomic<bool> finished{false};
        bool evicted = false;  // cut off in its handshake; the loop's own
    };

    void Accept();
    void Serve(Peer& peer);
    void ServeRequests(TlsChannel& channel);
    // Joins the threads that have ended.
    void Reap();
    // Reaps, and lets the listener accept again after descriptors ran out.
    void Tidy();

    EventLoop& loop_;
    const TlsContext& context_;
    RelayServerLimits limits_;
    Log log_;
    UniqueFd listener_;
    bool accepting_ = false;
    bool out_of_descriptors_ = false;
    std::list<std::unique_ptr<Peer>> peers_;  // oldest first
    std::atomic<std::size_t> authenticated_{0};
};

}  // namespace kestrun
