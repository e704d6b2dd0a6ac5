#include "relay/relay_client.h"

#include <fmt/core.h>
#include <poll.h>

#include <algorithm>
#include <array>
#include <thread>
#include <utility>

#include "host/block_server.h"

namespace kestrun {

RelayClient::RelayClient(const TlsContext& context, NetAddress server, Log log)
    : RelayClient(context, std::move(server), std::move(log), Timing{}) {}

RelayClient::RelayClient(const TlsContext& context, NetAddress server, Log log, Timing timing)
    : context_(context),
      server_(std::move(server)),
      log_(std::move(log)),
      timing_(timing),
      back_off_(timing.first_back_off) {}

void RelayClient::Tick() {
    Refresh();
}

void RelayClient::Refresh() {
    if (channel_ && awaiting_reply_) {
        // A reply that came too late for its send: taken in and dropped, so
        // that the next request finds the stream in step.
        if (ReadReply(Clock::now()) == ReplyState::kBroken) Disconnect("the connection broke");
    } else if (channel_) {
        pollfd entry{socket_.get(), POLLIN, 0};
        if (::poll(&entry, 1, 0) != 0) Disconnect("it closed the connection");
    }
    if (!channel_ && Clock::now() >= next_attempt_) {
        TryConnect(Clock::now() + timing_.connect_time);
    }
}

bool RelayClient::ConnectBy(Clock::time_point deadline) {
    while (!channel_) {
        const auto now = Clock::now();
        if (now >= deadline || next_attempt_ >= deadline) return false;
        if (next_attempt_ > now) std::this_thread::sleep_until(next_attempt_);
        TryConnect(std::min(Clock::now() + timing_.connect_time, deadline));
    }
    return true;
}

void RelayClient::TryConnect(Clock::time_point deadline) {
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
        back_off_ = std::min(back_off_ * 2, timing_.longest_back_off);
        return;
    }
    socket_ = std::move(socket);
    connected_at_ = Clock::now();
    served_on_connection_ = false;
    told_unreachable_ = false;
    log_(fmt::format("connected to the server {}", server_.text));
}

void RelayClient::Disconnect(std::string_view why) {
    const auto now = Clock::now();
    const bool steady = served_on_connection_ || now - connected_at_ >= timing_.steady_after;
    channel_.reset();
    socket_.Reset();
    awaiting_reply_ = false;
    if (steady) {
        // A connection that worked: once again at once, then with back-off.
        back_off_ = timing_.first_back_off;
        next_attempt_ = now;
        log_(fmt::format("lost the server {}: {}", server_.text, why));
        return;
    }
    // Lost right after it was made (a server turning peers away, say): as
    // a failed attempt, or the client would connect again and again.
    next_attempt_ = now + back_off_;
    log_(fmt::format("lost the server {} right after connecting: {}; trying again in {} ms",
                     server_.text, why, back_off_.count()));
    back_off_ = std::min(back_off_ * 2, timing_.longest_back_off);
}

RelayClient::ReplyState RelayClient::ReadReply(Clock::time_point deadline) {
    for (;;) {
        const std::size_t whole =
            kRelayReplyHeaderSize + (reply_header_ ? reply_header_->second : 0);
        if (reply_header_ && reply_read_ == whole) {
            awaiting_reply_ = false;
            return ReplyState::kComplete;
        }
        reply_.resize(whole);
        const int n =
            channel_->ReadSome(std::span(reply_).subspan(reply_read_, whole - reply_read_), deadline);
        if (n < 0) return ReplyState::kBroken;
        if (n == 0) return ReplyState::kTimedOut;
        reply_read_ += static_cast<std::size_t>(n);
        if (!reply_header_ && reply_read_ == kRelayReplyHeaderSize) {
            std::array<std::byte, kRelayReplyHeaderSize> header{};
            std::copy_n(reply_.begin(), header.size(), header.begin());
            reply_header_ = DecodeRelayReplyHeader(header, sent_length_);
            if (!reply_header_) return ReplyState::kBroken;  // not a reply to what was sent
        }
    }
}

std::optional<std::int32_t> RelayClient::AnswerWithoutHost(std::span<std::byte> block) {
    if (!ReadsVersionWords(block)) return std::nullopt;
    ZeroReadData(block);
    return kAnswerProcessed;
}

std::optional<std::int32_t> RelayClient::Answer(std::span<std::byte> block) {
    switch (reply_header_->first) {
        case RelayStatus::kServed:
            CopyReadData(std::span(reply_).subspan(kRelayReplyHeaderSize), block);
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

std::optional<std::int32_t> RelayClient::Exchange(std::span<std::byte> whole_block,
                                                  std::size_t& used) {
    // What a host would refuse is refused here, without a round trip.
    const std::size_t length = ServableLength(whole_block);
    if (length == 0) return kAnswerRefused;
    const std::span<std::byte> block = whole_block.first(length);
    used = length;

    const auto deadline = Clock::now() + timing_.exchange_time;
    Refresh();
    // Each pass needs a new connection, which the back-off paces, so the
    // deadline ends the loop.
    for (;;) {
        if (!channel_ && !ConnectBy(deadline)) return AnswerWithoutHost(block);
        if (awaiting_reply_) {
            // The server is still on an earlier send (its host is slow):
            // that reply first, then this request.
            const ReplyState earlier = ReadReply(deadline);
            if (earlier == ReplyState::kTimedOut) return std::nullopt;
            if (earlier == ReplyState::kBroken) {
                Disconnect("the connection broke");
                continue;
            }
        }
        if (!channel_->Write(EncodeRelayRequest(block), deadline)) {
            Disconnect("the request could not be sent");
            continue;
        }
        awaiting_reply_ = true;
        sent_length_ = length;
        reply_read_ = 0;
        reply_header_.reset();
        const ReplyState state = ReadReply(deadline);
        if (state == ReplyState::kTimedOut) return std::nullopt;
        if (state == ReplyState::kBroken) {
            Disconnect("the reply broke off");
            continue;
        }
        served_on_connection_ = true;
        return Answer(block);
    }
}

}  // namespace kestrun
