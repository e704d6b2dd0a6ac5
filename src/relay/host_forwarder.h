#pragma once
// The relay server's side of one peer: an ordinary client of the local host
// through the recorder's own link, HostLink over PosixLinkPlatform. Each
// forwarded block becomes the same reads and writes, queued and processed in
// one exchange.

#include <cstdint>
#include <span>

#include "relay/relay_message.h"
#include "link/host_link.h"
#include "platform/posix/posix_link_platform.h"

namespace kestrun {

class HostForwarder {
  public:
    // `link_id` names this link's shared block; it must differ from every
    // other link of the process and be a live process or thread id.
    explicit HostForwarder(std::uint32_t link_id);
    ~HostForwarder();
    HostForwarder(const HostForwarder&) = delete;
    HostForwarder& operator=(const HostForwarder&) = delete;

    // Serves `block`, a block ServableLength accepted (cut at its
    // terminator), filling its reads in place. Opens the link first when it
    // is closed, and closes it when the host fails, so that the next block
    // finds a host that came back.
    RelayStatus Forward(std::span<std::byte> block);

  private:
    PosixLinkPlatform platform_;
    HostLink link_;
};

}  // namespace kestrun
