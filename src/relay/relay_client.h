#pragma once
// kestrun-relay client: a host to the recorders of this machine, listening
// on SIMMAIN, that carries each of their blocks to the relay server in one
// message and its served block back in one message. Recorders share one
// connection to the server, one exchange at a time.
//
// A fault on the far side never hangs up on a recorder: the exchange it hit
// goes unanswered, as with a host that does not answer in time, and the
// recorder's next send (its retry, or its next second) goes through as soon
// as server and host answer again. A connection that breaks during an
// exchange is made again and the block sent again within that exchange's
// time. With no server (or no host behind it) a recorder opening its link is
// answered with zero versions, so that it shows result 14. The connection
// comes back by itself, with back-off after every attempt that failed or
// connection that was lost right after it was made.

#include <chrono>
#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <span>
#include <string_view>
#include <vector>

#include "relay/net_address.h"
#include "relay/relay_message.h"
#include "relay/tls_channel.h"
#include "platform/posix/unique_fd.h"

namespace kestrun {

class RelayClient {
  public:
    using Log = std::function<void(std::string_view line)>;
    using Clock = std::chrono::steady_clock;

    // Attempts follow each other after `first_back_off`, doubling up to
    // `longest_back_off`; a connection counts as lost right after it was
    // made when it ends within `steady_after` without serving an exchange.
    struct Timing {
        std::chrono::milliseconds first_back_off{250};
        std::chrono::milliseconds longest_back_off{4000};
        std::chrono::milliseconds steady_after{2000};
        // Connecting and the handshake, each attempt.
        std::chrono::milliseconds connect_time{1000};
        // Below the recorder's own 2-second time-out, so that the answer
        // reaches it before it gives up on this send.
        std::chrono::milliseconds exchange_time{1800};
    };

    RelayClient(const TlsContext& context, NetAddress server, Log log);
    RelayClient(const TlsContext& context, NetAddress server, Log log, Timing timing);
    RelayClient(const RelayClient&) = delete;
    RelayClient& operator=(const RelayClient&) = delete;

    // A recorder's block: the answer for the recorder, or nullopt to leave
    // this send unanswered. After answer 1, `used` holds how many bytes may
    // have changed.
    std::optional<std::int32_t> Exchange(std::span<std::byte> block, std::size_t& used);

    // Connects when it is time to try again, and takes in a late reply;
    // call it every fraction of a second.
    void Tick();

    bool connected() const { return channel_ != nullptr; }

  private:
    enum class ReplyState { kComplete, kTimedOut, kBroken };

    // Drops a connection the server has closed while idle (it sends nothing
    // unasked), then connects when it is time to try again.
    void Refresh();
    // Connects, waiting for the back-off when it ends before `deadline`;
    // false when there is no connection by then.
    bool ConnectBy(Clock::time_point deadline);
    void TryConnect(Clock::time_point deadline);
    void Disconnect(std::string_view why);
    // Reads the reply to the request in flight, or what of it arrives by
    // `deadline`; what it read stays for the next call.
    ReplyState ReadReply(Clock::time_point deadline);
    // The answer for `block` from a complete reply to it.
    std::optional<std::int32_t> Answer(std::span<std::byte> block);
    std::optional<std::int32_t> AnswerWithoutHost(std::span<std::byte> block);

    const TlsContext& context_;
    NetAddress server_;
    Log log_;
    Timing timing_;
    UniqueFd socket_;
    std::unique_ptr<TlsChannel> channel_;
    Clock::time_point connected_at_{};
    bool served_on_connection_ = false;
    Clock::time_point next_attempt_{};
    std::chrono::milliseconds back_off_;
    bool told_unreachable_ = false;
    // The request in flight on the connection: its block length, and the
    // part of its reply read so far (the header, then the served block).
    bool awaiting_reply_ = false;
    std::size_t sent_length_ = 0;
    std::vector<std::byte> reply_;
    std::size_t reply_read_ = 0;
    std::optional<std::pair<RelayStatus, std::size_t>> reply_header_;
};

}  // namespace kestrun
