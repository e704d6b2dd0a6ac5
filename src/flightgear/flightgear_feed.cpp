#include "flightgear/flightgear_feed.h"

#include <arpa/inet.h>
#include <fmt/core.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <array>
#include <cerrno>
#include <cstring>

#include "flightgear/flightgear_state.h"
#include "platform/posix/posix_error.h"

namespace kestrun {
namespace {

// Larger than any datagram the parser accepts, so that an oversized one is
// seen as too long rather than cut into something that might parse.
constexpr std::size_t kReceiveBuffer = 2048;
// Enough for seconds of FlightGear at any rate it can send; the rest waits for
// the next call, and the poll loop calls again at once.
constexpr int kMaxDatagramsPerCall = 1024;

}  // namespace

std::unique_ptr<FlightGearFeed> FlightGearFeed::Open(const FlightGearAddress& listen_for,
                                                     Console console, Status& status,
                                                     double stale_after_seconds) {
    const int fd = socket(AF_INET, SOCK_DGRAM | SOCK_NONBLOCK | SOCK_CLOEXEC, 0);
    if (fd < 0) {
        status = Status::Error(fmt::format("cannot open a UDP socket: {}", PosixErrorText(errno)));
        return nullptr;
    }
    const std::uint32_t bind_to = IsLoopback(listen_for.ipv4) ? listen_for.ipv4 : INADDR_ANY;
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = htonl(bind_to);
    address.sin_port = htons(listen_for.port);
    socklen_t length = sizeof address;
    if (bind(fd, reinterpret_cast<const sockaddr*>(&address), sizeof address) != 0 ||
        getsockname(fd, reinterpret_cast<sockaddr*>(&address), &length) != 0) {
        status = Status::Error(fmt::format("cannot listen on UDP {}: {}",
                                           FormatEndpoint(bind_to, listen_for.port),
                                           PosixErrorText(errno)));
        close(fd);
        return nullptr;
    }
    const std::uint16_t port = ntohs(address.sin_port);
    status = Status::Ok();
    auto feed = std::unique_ptr<FlightGearFeed>(
        new FlightGearFeed(fd, port, listen_for, std::move(console), stale_after_seconds));
    feed->console_(fmt::format(
        "Waiting for FlightGear datagrams from {} on UDP port {}",
        IsLoopback(listen_for.ipv4) ? std::string("this machine") : FormatIpv4(listen_for.ipv4),
        port));
    return feed;
}

FlightGearFeed::FlightGearFeed(int fd, std::uint16_t port, const FlightGearAddress& listen_for,
                               Console console, double stale_after_seconds)
    : fd_(fd),
      port_(port),
      listen_for_(listen_for),
      console_(std::move(console)),
      stale_after_seconds_(stale_after_seconds) {}

FlightGearFeed::~FlightGearFeed() {
    close(fd_);
}

bool FlightGearFeed::FromFlightGearMachine(std::uint32_t sender) const {
    if (IsLoopback(listen_for_.ipv4)) return IsLoopback(sender);
    return sender == listen_for_.ipv4;
}

void FlightGearFeed::Count(DatagramVerdict verdict, const std::string& sender) {
    const auto index = static_cast<std::size_t>(verdict);
    ++counts_[index];
    if (verdict == DatagramVerdict::kAccepted || reported_[index]) return;
    reported_[index] = true;
    console_(fmt::format("Ignoring a datagram from {}: {} (further ones are only counted)", sender,
                         VerdictText(verdict)));
}

void FlightGearFeed::OnReadable(double now_seconds, OffsetImage& image) {
    std::array<char, kReceiveBuffer> buffer;
    FlightGearState newest;
    std::string newest_sender;
    bool have_good = false;
    for (int i = 0; i < kMaxDatagramsPerCall; ++i) {
        sockaddr_in from{};
        socklen_t from_length = sizeof from;
        // MSG_TRUNC makes the result the datagram's real length, so an
        // oversized datagram is recognised even though only its start fits.
        const ssize_t received = recvfrom(fd_, buffer.data(), buffer.size(), MSG_TRUNC,
                                          reinterpret_cast<sockaddr*>(&from), &from_length);
        if (received < 0) {
            if (errno == EINTR) continue;
            break;  // EAGAIN: drained. Anything else: try again on the next call.
        }
        const std::uint32_t sender_ip = ntohl(from.sin_addr.s_addr);
        const std::string sender = FormatEndpoint(sender_ip, ntohs(from.sin_port));
        if (from.sin_family != AF_INET || !FromFlightGearMachine(sender_ip)) {
            Count(DatagramVerdict::kWrongSender, sender);
            continue;
        }
        const auto length = static_cast<std::size_t>(received);
        // Only the start of a datagram longer than the buffer was read: it is
        // too long, whatever that start looks like.
        const std::string_view datagram(buffer.data(), std::min(length, buffer.size()));
        const DatagramVerdict verdict = length > buffer.size()
                                            ? DatagramVerdict::kLong
                                            : ParseFlightGearDatagram(datagram, newest);
        Count(verdict, sender);
        if (verdict == DatagramVerdict::kAccepted) {
            have_good = true;
            newest_sender = sender;
        }
    }
    if (!have_good) return;

    StoreFlightGearState(newest, image);
    last_good_seconds_ = now_seconds;
    if (phase_ == Phase::kWaiting) {
        console_(fmt::format("FlightGear feed started (from {})", newest_sender));
    } else if (phase_ == Phase::kStopped) {
        console_(fmt::format("FlightGear feed is back (from {})", newest_sender));
    }
    phase_ = Phase::kLive;
}

void FlightGearFeed::Update(double now_seconds, OffsetImage&) {
    if (phase_ != Phase::kLive || now_seconds - last_good_seconds_ < stale_after_seconds_) return;
    phase_ = Phase::kStopped;
    console_(fmt::format(
        "FlightGear feed stopped: nothing good for {:.0f} s; the host keeps the last state",
        stale_after_seconds_));
}

std::string FlightGearFeed::Summary() const {
    std::string ignored;
    std::uint64_t total_ignored = 0;
    for (std::size_t i = 1; i < kDatagramVerdictCount; ++i) {
        if (counts_[i] == 0) continue;
        total_ignored += counts_[i];
        ignored += fmt::format("{}{} {}", ignored.empty() ? " (" : ", ", counts_[i],
                               VerdictText(static_cast<DatagramVerdict>(i)));
    }
    if (!ignored.empty()) ignored += ")";
    return fmt::format("FlightGear feed: {} good datagrams, {} ignored{}",
                       counts_[static_cast<std::size_t>(DatagramVerdict::kAccepted)], total_ignored,
                       ignored);
}

}  // namespace kestrun
