#pragma once
// FlightSample: one record's host words as the physical values people read,
// with the signs pilots expect.

#include "protocol/host_units.h"
#include "record/flight_record.h"

namespace kestrun {

struct FlightSample {
    // False when the record holds no position: the recorder writes zeros in
    // every copied host field when the link was closed or an exchange failed.
    // Latitude, longitude, altitude and airspeed mean nothing then. Also false
    // for a latitude beyond the poles.
    bool has_position = false;
    double latitude_deg = 0;   // north positive
    double longitude_deg = 0;  // east positive, [-180, 180)
    double altitude_m = 0;     // above mean sea level
    double pitch_deg = 0;      // positive nose up
    double bank_deg = 0;       // positive right wing down
    double heading_deg = 0;    // true, [0, 360)
    double airspeed_kt = 0;    // indicated
};

FlightSample SampleFromRecord(const FlightRecord& record);
// Only has_position, latitude_deg and longitude_deg, for readers that need no
// more and run over millions of records.
FlightSample PositionFromRecord(const FlightRecord& record);
// The position and altitude_m: what a track point prints.
FlightSample PlaceFromRecord(const FlightRecord& record);

}  // namespace kestrun
