#pragma once
// The UDP feed that makes a host follow FlightGear's live state.
//
// FlightGear sends one datagram per frame of its generic-protocol output
// (kestrun.xml). The feed owns a non-blocking UDP socket; the host's poll
// loop watches fd() and calls OnReadable when it is readable, and calls
// Update, as for any aircraft source, so the feed can notice silence. Times
// are the steady clock in seconds, as the host's loop gives them.
//
// Only datagrams from the machine the feed listens for count: with a
// loopback address, any loopback sender (the same machine); otherwise
// exactly that address. The sender's port is not pinned, so a FlightGear
// that restarts from a new port is followed again at once. Every other
// datagram is counted by reason and ignored, and the image keeps the last
// good state. The console hears, once each, when the feed starts, stops and
// comes back, and the first datagram ignored for each reason.

#include <array>
#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <string_view>

#include "flightgear/flightgear_address.h"
#include "host/aircraft_source.h"
#include "flightgear/flightgear_datagram.h"
#include "host/offset_image.h"
#include "platform/status.h"

namespace kestrun {

class FlightGearFeed final : public AircraftSource {
  public:
    // Receives one line for the host's console, without a newline.
    using Console = std::function<void(std::string_view)>;

    // FlightGear sends ten datagrams a second as the docs start it; two
    // seconds of nothing good means it has stopped or paused.
    static constexpr double kDefaultStaleAfterSeconds = 2;

    // Opens the socket: bound to `listen_for` itself when that is a loopback
    // address (nothing from the network can reach it), otherwise to every
    // interface on its port. Port 0 picks a free port (see port()). Returns
    // null with the reason in `status` when the socket cannot be opened.
    static std::unique_ptr<FlightGearFeed> Open(
        const FlightGearAddress& listen_for, Console console, Status& status,
        double stale_after_seconds = kDefaultStaleAfterSeconds);

    ~FlightGearFeed() override;
    FlightGearFeed(const FlightGearFeed&) = delete;
    FlightGearFeed& operator=(const FlightGearFeed&) = delete;

    // The socket to poll for reading. Owned by the feed.
    int fd() const { return fd_; }
    // The UDP port the socket is bound to.
    std::uint16_t port() const { return port_; }

    // Drains the datagrams waiting on the socket (a bounded number per call,
    // so a flood cannot starve the host) and stores the newest good one into
    // `image`. Datagrams that are not good leave the image as it was.
    void OnReadable(double now_seconds, OffsetImage& image);
    // Reports, once, that the feed has stopped when no good datagram came for
    // the stale time. The image keeps the last good state.
    void Update(double now_seconds, OffsetImage& image) override;

    // Datagrams seen, by verdict (kAccepted counts the good ones).
    std::uint64_t count(DatagramVerdict verdict) const {
        return counts_[static_cast<std::size_t>(verdict)];
    }
    // True while good datagrams keep arriving.
    bool live() const { return phase_ == Phase::kLive; }
    // One line for the end of a run: good datagrams, and ignored ones by reason.
    std::string Summary() const;

  private:
    enum class Phase { kWaiting, kLive, kStopped };

    FlightGearFeed(int fd, std::uint16_t port, const FlightGearAddress& listen_for, Console console,
                   double stale_after_seconds);
    bool FromFlightGearMachine(std::uint32_t sender) const;
    void Count(DatagramVerdict verdict, const std::string& sender);

    int fd_;
    std::uint16_t port_;
    FlightGearAddress listen_for_;
    Console console_;
    double stale_after_seconds_;
    Phase phase_ = Phase::kWaiting;
    double last_good_seconds_ = 0;
    std::array<std::uint64_t, kDatagramVerdictCount> counts_{};
    std::array<bool, kDatagramVerdictCount> reported_{};
};

}  // namespace kestrun
