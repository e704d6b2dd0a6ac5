#include "recordfile/flight_sample.h"

#include <cmath>

#include "protocol/host_units.h"

namespace kestrun {

FlightSample PositionFromRecord(const FlightRecord& record) {
    FlightSample sample;
    sample.latitude_deg = LatitudeFromHost(record.Latitude);
    // A latitude beyond the poles cannot come from a host; it is damage.
    sample.has_position = (record.Latitude != 0 || record.Longitude != 0 ||
                           record.AltitudeMetres != 0 || record.AltitudeFraction != 0) &&
                          std::fabs(sample.latitude_deg) <= 90.0;
    sample.longitude_deg = LongitudeFromHost(record.Longitude);
    if (sample.longitude_deg >= 180.0) sample.longitude_deg -= 360.0;
    return sample;
}

FlightSample PlaceFromRecord(const FlightRecord& record) {
    FlightSample sample = PositionFromRecord(record);
    sample.altitude_m =
        AltitudeFromHost(HostAltitude{record.AltitudeFraction, record.AltitudeMetres});
    return sample;
}

FlightSample SampleFromRecord(const FlightRecord& record) {
    FlightSample sample = PlaceFromRecord(record);
    // The host counts nose up and right wing down as negative.
    sample.pitch_deg = -SignedAngleFromHost(record.Pitch);
    sample.bank_deg = -SignedAngleFromHost(record.Bank);
    sample.heading_deg = HeadingFromHost(record.Heading);
    sample.airspeed_kt = AirspeedFromHost(record.IAS);
    return sample;
}

}  // namespace kestrun
