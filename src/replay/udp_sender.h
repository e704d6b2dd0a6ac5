#pragma once
// Sends datagrams to one UDP address.

#include <memory>
#include <string_view>

#include "flightgear/flightgear_address.h"
#include "platform/status.h"

namespace kestrun {

class UdpSender {
  public:
    // Fails when no socket can be made for `to` or the system refuses the
    // address (no route to it, a broadcast address).
    static Status Open(const FlightGearAddress& to, std::unique_ptr<UdpSender>& sender);
    ~UdpSender();
    UdpSender(const UdpSender&) = delete;
    UdpSender& operator=(const UdpSender&) = delete;

    // Nobody listening yet (FlightGear not started, or restarting) and a full
    // send queue are not failures: the next datagram supersedes this one.
    // Anything else is.
    Status Send(std::string_view datagram);

  private:
    UdpSender(int fd, const FlightGearAddress& to) : fd_(fd), to_(to) {}
    int fd_;
    FlightGearAddress to_;
};

}  // namespace kestrun
