#pragma once
// kestrun-relay client: a host to the recorders of this machine, listening
// on SIMMAIN, that carries each of their blocks to the relay server in one
// message and its served block back in one message. Recorders share one
// connection to the server, one exchange at a time.
//
// With no server (or no host behind it) a recorder opening its link is
// answered with zero versions, so that it shows result 14; any other block
// then, and every block whose exchange breaks off, hangs up on its recorder,
// which sees the link's failure result. The connection comes back by itself,
// with back-off, so that Disconnect and Connect work again once the server
// is back.

#include <chrono>
#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <span>
#include <string_view>

#include "relay/net_address.h"
#include "relay/tls_channel.h"
#include "platform/posix/unique_fd.h"

namespace kestrun {

class RelayClient {
  public:
    using Log = std::function<void(std::string_view line)>;

    RelayClient(const TlsContext& context, NetAddress server, Log log);
    RelayClient(const RelayClient&) = delete;
    RelayClient& operator=(const RelayClient&) = delete;

    // A recorder's block: the answer for the recorder, or nullopt to hang up
    // on it. After answer 1, `used` holds how many bytes may have changed.
    std::optional<std::int32_t> Exchange(std::span<std::byte> block, std::size_t& used);

    // Connects when it is time to try again; call it every fraction of a
    // second.
    void Tick();

    bool connected() const { return channel_ != nullptr; }

  private:
    // Drops a connection the server has closed while idle (it sends nothing
    // unasked), then connects when it is time to try again.
    void Refresh();
    void TryConnect();
    void Disconnect(std::string_view why);
    std::optional<std::int32_t> AnswerWithoutHost(std::span<std::byte> block);

    const TlsContext& context_;
    NetAddress server_;
    Log log_;
    UniqueFd socket_;
    std::unique_ptr<TlsChannel> channel_;
    std::chrono::steady_clock::time_point next_attempt_{};
    std::chrono::milliseconds back_off_;
    bool told_unreachable_ = false;
};

}  // namespace kestrun
