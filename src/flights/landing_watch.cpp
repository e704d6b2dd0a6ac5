#include "flights/landing_watch.h"

#include "flights/point_from_record.h"

namespace kestrun {

void LandingWatch::Add(const FlightRecord& record) {
    const TimePlacement time = timeline_.Place(record.Hour, record.Minute, record.Second);
    detector_.Add(PointFromRecord(record, time, offset_));
    offset_ += kFlightRecordSize;
}

}  // namespace kestrun
