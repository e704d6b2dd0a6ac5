#pragma once

namespace kestrun {

// A position in degrees, north and east positive.
struct GeoPoint {
    double latitude_deg = 0;
    double longitude_deg = 0;
};

}  // namespace kestrun
