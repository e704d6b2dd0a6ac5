#include "recording/host_sample.h"

#include <bit>
#include <cstdint>

#include "protocol/host_units.h"

namespace kestrun {

// The host's values are copied byte for byte into native integers.
static_assert(std::endian::native == std::endian::little,
              "host values are little-endian and are copied unconverted");

std::optional<SampleFailure> SampleHost(HostLink& link, FlightRecord& record) {
    std::int64_t latitude = 0;
    std::int64_t longitude = 0;
    std::int32_t altitude_metres = 0;
    std::uint32_t altitude_fraction = 0;
    std::int32_t airspeed = 0;

    struct Read {
        std::uint32_t offset;
        std::int32_t size;
        void* destination;
    };
    const Read reads[] = {
        {kOffsetLatitude, 8, &latitude},
        {kOffsetLongitude, 8, &longitude},
        {kOffsetAltitudeMetres, 4, &altitude_metres},
        {kOffsetAltitudeFraction, 4, &altitude_fraction},
        {kOffsetIndicatedAirspeed, 4, &airspeed},
        {kOffsetPitch, 4, &record.Pitch},
        {kOffsetBank, 4, &record.Bank},
        {kOffsetHeading, 4, &record.Heading},
    };

    LinkResult result = kResultOkay;
    for (const Read& read : reads) {
        if (!link.QueueRead(static_cast<std::int32_t>(read.offset), read.size, read.destination,
                            result)) {
            // The reads queued so far point at this call's locals; they must
            // never reach a later exchange.
            link.DiscardQueue();
            return SampleFailure{SampleFailure::Stage::kQueueRead, result};
        }
    }
    if (!link.ProcessQueue(result)) {
        return SampleFailure{SampleFailure::Stage::kProcessQueue, result};
    }
    record.Latitude = latitude;
    record.Longitude = longitude;
    record.AltitudeMetres = altitude_metres;
    record.AltitudeFraction = altitude_fraction;
    record.IAS = airspeed;
    return std::nullopt;
}

}  // namespace kestrun
