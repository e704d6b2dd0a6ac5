#pragma once
// One sample of the host: the eight reads of a second, exchanged as one batch,
// filling the host fields of a FlightRecord.

#include <optional>

#include "link/host_link.h"
#include "link/link_result.h"
#include "record/flight_record.h"

namespace kestrun {

// Why a sample failed: queueing a read (nothing was sent) or the exchange.
struct SampleFailure {
    enum class Stage { kQueueRead, kProcessQueue };
    Stage stage = Stage::kQueueRead;
    LinkResult result = kResultOkay;
};

// Queues latitude, longitude, altitude (whole metres, then fraction) and
// airspeed into temporaries and pitch, bank and heading straight into
// `record`, then processes the queue. On success the temporaries are copied
// into `record` and the result is nullopt. On failure every host field keeps
// whatever `record` held (zeros for a fresh record): the exchange writes its
// destinations only when the whole reply checks out. A failed queueing
// discards what was already queued, so no later exchange writes into this
// call's temporaries.
std::optional<SampleFailure> SampleHost(HostLink& link, FlightRecord& record);

}  // namespace kestrun
