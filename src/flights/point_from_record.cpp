#include "flights/point_from_record.h"

#include "protocol/host_units.h"
#include "recordfile/flight_sample.h"

namespace kestrun {

FlightPoint PointFromRecord(const FlightRecord& record, const TimePlacement& time,
                            std::uint64_t offset, std::int64_t day_base) {
    const FlightSample sample = PlaceFromRecord(record);
    FlightPoint point;
    point.offset = offset;
    point.seconds = time.seconds + day_base;
    point.new_stretch = time.new_stretch;
    point.has_position = sample.has_position;
    point.latitude_deg = sample.latitude_deg;
    point.longitude_deg = sample.longitude_deg;
    point.altitude_m = sample.altitude_m;
    // The host counts nose up and right wing down as negative.
    point.pitch_deg = -SignedAngleFromHost(record.Pitch);
    point.bank_deg = -SignedAngleFromHost(record.Bank);
    point.airspeed_kt = AirspeedFromHost(record.IAS);
    // The landing analysis measures crab from it.
    point.heading_deg = HeadingFromHost(record.Heading);
    return point;
}

}  // namespace kestrun
