#include "relay/host_forwarder.h"

#include "protocol/request_block.h"

namespace kestrun {

HostForwarder::HostForwarder(std::uint32_t link_id) : platform_({}, link_id), link_(platform_) {
    link_.ResetLink();
}

HostForwarder::~HostForwarder() {
    link_.CloseLink();
}

RelayStatus HostForwarder::Forward(std::span<std::byte> block) {
    LinkResult result = kResultOkay;
    if (!link_.IsOpen() && !link_.OpenLink(0, result)) return RelayStatus::kNoHost;

    RequestWalker walker(block);
    Request request;
    bool queued = false;
    while (walker.Next(request) == RequestWalker::Step::kRequest) {
        // Counts and offsets are small: the block was bounded against the
        // host's image before it got here.
        const auto offset = static_cast<std::int32_t>(request.offset);
        const auto count = static_cast<std::int32_t>(request.count);
        std::byte* data = block.data() + request.data_at;
        const bool ok = request.identifier == kReadIdentifier
                            ? link_.QueueRead(offset, count, data, result)
                            : link_.QueueWrite(offset, count, data, result);
        if (!ok) {
            link_.DiscardQueue();
            return RelayStatus::kRefused;
        }
        queued = true;
    }
    // A host answers an empty block at once; so does the relay.
    if (!queued) return RelayStatus::kServed;
    if (link_.ProcessQueue(result)) return RelayStatus::kServed;
    if (result == kResultBadData) return RelayStatus::kRefused;
    link_.CloseLink();
    return RelayStatus::kHostFailed;
}

}  // namespace kestrun
