#include "relay/relay_client.h"

#include <fmt/core.h>
#include <poll.h>

#include <algorithm>
#include <array>
#include <utility>
#include <vector>

#include "host/block_server.h"
#include "relay/relay_message.h"

namespace kestrun {
namespace {

using Clock = std::chrono::steady_clock;

constexpr std::chrono::milliseconds kFirstBackOff{250};
constexpr std::chrono::milliseconds kLongestBackOff{4000};
constexpr std::chrono::milliseconds kConnectTime{1000};
// Below the recorder's own 2-second time-out, so that a server that stops
// answering costs one failed exchange rather than the recorder's retries.
constexpr std::chrono::milliseconds kExchangeTime{1800};

}  // namespace

RelayClient::RelayClient(const TlsContext& context, NetAddress server, Log log)
    : context_(context),
      server_(std::move(server)),
      log_(std::move(log)),
      back_off_(kFirstBackOff) {}

void RelayClient::Tick() {
    Refresh();
}

void RelayClient::Refresh() {
    if (channel_) {
        pollfd entry{socket_.get(), POLLIN, 0};
        if (::poll(&entry, 1, 0) != 0) Disconnect("it closed the connection");
    }
    if (!channel_ && Clock::now() >= next_attempt_) TryConnect();
}

void RelayClient::TryConnect() {
    const auto deadline = Clock::now() + kConnectTime;
    UniqueFd socket;
    std::string error;
    Status status = ConnectTcp(server_, deadline, socket);
    if (status.ok()) {
        channel_ = TlsChannel::Open(context_, socket.get(), deadline, error);
        if (!channel_) status = Status::Error(error);
    }
    if (!status.ok()) {
        if (!told_unreachable_) {
            log_(fmt::format("cannot reach the server {}: {}; trying again", server_.text,
                             status.message()));
            told_unreachable_ = true;
        }
        next_attempt_ = Clock::now() + back_off_;
        back_off_ = std::min(back_off_ * 2, kLongestBackOff);
        return;
    }
    socket_ = std::move(socket);
    back_off_ = kFirstBackOff;
    told_unreachable_ = false;
    log_(fmt::format("connected to the server {}", server_.text));
}

void RelayClient::Disconnect(std::string_view why) {
    channel_.reset();
    socket_.Reset();
    log_(fmt::format("lost the server {}: {}", server_.text, why));
    next_attempt_ = Clock::now();  // once at once, then with back-off
}

std::optional<std::int32_t> RelayClient::AnswerWithoutHost(std::span<std::byte> block) {
    if (!ReadsVersionWords(block)) return std::nullopt;
    ZeroReadData(block);
    return kAnswerProcessed;
}

std::optional<std::int32_t> RelayClient::Exchange(std::span<std::byte> whole_block,
                                                  std::size_t& used) {
    // What a host would refuse is refused here, without a round trip.
    const std::size_t length = ServableLength(whole_block);
    if (length == 0) return kAnswerRefused;
    const std::span<std::byte> block = whole_block.first(length);
    used = length;

    Refresh();
    if (!channel_) return AnswerWithoutHost(block);

    const auto deadline = Clock::now() + kExchangeTime;
    std::array<std::byte, kRelayReplyHeaderSize> header{};
    if (!channel_->Write(EncodeRelayRequest(block), deadline) ||
        !channel_->Read(header, deadline)) {
        Disconnect("no answer");
        return std::nullopt;
    }
    const auto reply = DecodeRelayReplyHeader(header, length);
    if (!reply) {
        Disconnect("a reply that does not fit the request");
        return std::nullopt;
    }
    std::vector<std::byte> served(reply->second);
    if (!channel_->Read(served, deadline)) {
        Disconnect("the reply broke off");
        return std::nullopt;
    }
    switch (reply->first) {
        case RelayStatus::kServed:
            CopyReadData(served, block);
            return kAnswerProcessed;
        case RelayStatus::kRefused:
            return kAnswerRefused;
        case RelayStatus::kNoHost:
            return AnswerWithoutHost(block);
        case RelayStatus::kHostFailed:
            break;
    }
    return std::nullopt;
}

}  // namespace kestrun
