#include "tools/flight_sample.h"

#include <cmath>

#include "protocol/host_units.h"

namespace kestrun {
namespace {

constexpr double kScales[] = {1e0, 1e1, 1e2, 1e3, 1e4, 1e5, 1e6, 1e7, 1e8, 1e9};

// The value as it prints with `decimals` places, counted in those places;
// rounds half away from zero as the number writer does.
double RoundedUnits(double value, int decimals, double& scale) {
    scale = kScales[decimals];
    return std::round(value * scale);
}

}  // namespace

FlightSample SampleFromRecord(const FlightRecord& record) {
    FlightSample sample;
    sample.latitude_deg = LatitudeFromHost(record.Latitude);
    // A latitude beyond the poles cannot come from a host; it is damage.
    sample.has_position = (record.Latitude != 0 || record.Longitude != 0 ||
                           record.AltitudeMetres != 0 || record.AltitudeFraction != 0) &&
                          std::fabs(sample.latitude_deg) <= 90.0;
    sample.longitude_deg = LongitudeFromHost(record.Longitude);
    if (sample.longitude_deg >= 180.0) sample.longitude_deg -= 360.0;
    sample.altitude_m =
        AltitudeFromHost(HostAltitude{record.AltitudeFraction, record.AltitudeMetres});
    // The host counts nose up and right wing down as negative.
    sample.pitch_deg = -SignedAngleFromHost(record.Pitch);
    sample.bank_deg = -SignedAngleFromHost(record.Bank);
    sample.heading_deg = HeadingFromHost(record.Heading);
    sample.airspeed_kt = AirspeedFromHost(record.IAS);
    return sample;
}

double HeadingForPrint(double heading_deg, int decimals) {
    double scale = 1;
    const double units = RoundedUnits(heading_deg, decimals, scale);
    return units >= 360.0 * scale ? (units - 360.0 * scale) / scale : heading_deg;
}

double LongitudeForPrint(double longitude_deg, int decimals) {
    double scale = 1;
    const double units = RoundedUnits(longitude_deg, decimals, scale);
    return units >= 180.0 * scale ? (units - 360.0 * scale) / scale : longitude_deg;
}

}  // namespace kestrun
