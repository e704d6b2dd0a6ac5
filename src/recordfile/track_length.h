#pragma once
// Distance flown along a track of positions, on a sphere of the earth's mean
// radius (the WGS-84 mean, 6 371 008.8 m). Steps between once-a-second
// positions are short, where a flat-earth step with the cosine of latitude is
// as good as the great circle and much cheaper; longer steps (a gap in the
// recording) use the haversine formula.

namespace kestrun {

inline constexpr double kEarthMeanRadiusMetres = 6371008.8;
inline constexpr double kMetresPerNauticalMile = 1852.0;

// Great-circle distance in metres between two positions in degrees.
double GreatCircleMetres(double lat1_deg, double lon1_deg, double lat2_deg, double lon2_deg);

class TrackLength {
  public:
    void Add(double latitude_deg, double longitude_deg);
    // Ends the track: the next position starts a new one and the step to it
    // is not counted.
    void Break() { has_last_ = false; }
    double metres() const { return metres_; }

  private:
    bool has_last_ = false;
    double last_lat_ = 0;
    double last_lon_ = 0;
    double cos_lat_ = 1;
    double cos_lat_at_ = 1000;  // latitude cos_lat_ belongs to; none yet
    double metres_ = 0;
};

}  // namespace kestrun
