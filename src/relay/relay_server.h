#pragma once
// kestrun-relay serve: accepts peers on a TCP port and carries their blocks
// to the local host. Handshakes run on the event loop, a step whenever bytes
// arrive, so that one waiting costs a descriptor and a few bytes until its
// peer speaks; they are bounded in time, per source and in all, and a source
// with more of them gives way before one with fewer, so a flood from some
// addresses cannot keep a peer from another out. A peer that has proved the
// key gets a thread of its own: its requests, each checked as the host checks
// a block, are forwarded over the peer's own link. A peer that sends anything
// malformed or oversized is dropped; one that sends too fast is slowed;
// neither touches another peer.

#include <atomic>
#include <chrono>
#include <cstddef>
#include <functional>
#include <list>
#include <memory>
#include <string>
#include <string_view>
#include <thread>
#include <unordered_map>

#include "host/event_loop.h"
#include "relay/net_address.h"
#include "relay/tls_channel.h"
#include "platform/posix/unique_fd.h"
#include "platform/status.h"

namespace kestrun {

struct RelayServerLimits {
    // Peers that have proved the key, each with its own link to the host.
    std::size_t peers = 64;
    // Connections still in their handshake, in all and from one source (an
    // IPv4 address or an IPv6 /64). A source at its share is turned away;
    // with all taken, the oldest of the source holding the most goes when
    // that is more than the newcomer's source holds, else the newcomer.
    std::size_t handshakes = 256;
    std::size_t handshakes_per_source = 8;
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
    using Clock = std::chrono::steady_clock;
    // A connection in its handshake; the loop's alone.
    struct Handshake {
        UniqueFd fd;
        std::string source;
        Clock::time_point deadline;
        std::unique_ptr<TlsChannel> channel;  // made once its first bytes arrive
    };
    using HandshakeList = std::list<Handshake>;  // oldest first
    struct Peer {
        UniqueFd fd;  // closed only after the thread has ended
        std::unique_ptr<TlsChannel> channel;  // the thread's, released when it ends
        std::string who;
        std::thread thread;
        std::atomic<bool> finished{false};
    };

    void Accept();
    // Makes room for a handshake from a source holding `held` of them;
    // false when the newcomer is the one to go.
    bool MakeRoom(std::size_t held);
    void Step(HandshakeList::iterator handshake);
    // Ends a handshake; with a reason, logs it as its source's failure.
    void Drop(HandshakeList::iterator handshake, std::string_view why = {});
    void Promote(HandshakeList::iterator handshake);
    void Serve(Peer& peer);
    void ServeRequests(TlsChannel& channel);
    // One line about a source's failed handshake, at most once a minute for
    // each source, so that a wrong key shows without a flood filling the log.
    void LogFailure(const std::string& source, std::string_view what);
    // Joins the threads that have ended.
    void Reap();
    // Reaps, ends handshakes past their time, forgets old failures, and lets
    // the listener accept again after descriptors ran out.
    void Tidy();

    EventLoop& loop_;
    const TlsContext& context_;
    RelayServerLimits limits_;
    Log log_;
    UniqueFd listener_;
    bool accepting_ = false;
    bool out_of_descriptors_ = false;
    HandshakeList handshakes_;
    std::unordered_map<std::string, std::size_t> handshakes_by_source_;
    std::unordered_map<std::string, Clock::time_point> failure_logged_;
    std::list<std::unique_ptr<Peer>> peers_;
    std::atomic<std::size_t> serving_{0};
};

}  // namespace kestrun
