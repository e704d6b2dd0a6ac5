#include "flights/point_from_record.h"

#include "recordfile/flight_sample.h"

namespace kestrun {

FlightPoint PointFromRecord(const FlightRecord& record, const TimePlacement& time,
                            std::uint64_t offset, std::int64_t day_base) {
    const FlightSample sample = SampleFromRecord(record);
    FlightPoint point;
    point.offset = offset;
    point.seconds = time.seconds + day_base;
    point.new_stretch = time.new_stretch;
    point.has_position = sample.has_position;
    point.latitude_deg = sample.latitude_deg;
    point.longitude_deg = sample.longitude_deg;
    point.altitude_m = sample.altitude_m;
    point.pitch_deg = sample.pitch_deg;
    point.bank_deg = sample.bank_deg;
    point.airspeed_kt = sample.airspeed_kt;
    point.heading_deg = sample.heading_deg;
    return point;
}

}  // namespace kestrun
