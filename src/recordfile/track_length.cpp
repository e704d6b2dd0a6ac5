#include "recordfile/track_length.h"

#include <cmath>
#include <numbers>

namespace kestrun {
namespace {

constexpr double kRadiansPerDegree = std::numbers::pi / 180.0;
// Steps shorter than this in both directions (about 5.5 km) take the flat
// formula. The cosine of latitude is reused while latitude stays within
// kCosineReuseDeg of where it was taken. Together they put each step's length
// off by at most a few parts in ten thousand, and only at high latitudes; a
// once-a-second step of an aircraft is off by far less.
constexpr double kShortStepDeg = 0.05;
constexpr double kCosineReuseDeg = 0.005;

}  // namespace

double GreatCircleMetres(double lat1_deg, double lon1_deg, double lat2_deg, double lon2_deg) {
    const double lat1 = lat1_deg * kRadiansPerDegree;
    const double lat2 = lat2_deg * kRadiansPerDegree;
    const double half_dlat = (lat2 - lat1) / 2;
    const double half_dlon = (lon2_deg - lon1_deg) * kRadiansPerDegree / 2;
    const double h = std::sin(half_dlat) * std::sin(half_dlat) +
                     std::cos(lat1) * std::cos(lat2) * std::sin(half_dlon) * std::sin(half_dlon);
    return 2 * kEarthMeanRadiusMetres * std::asin(std::sqrt(std::fmin(1.0, h)));
}

void TrackLength::Add(double latitude_deg, double longitude_deg) {
    if (has_last_) {
        const double dlat = latitude_deg - last_lat_;
        double dlon = longitude_deg - last_lon_;
        if (dlon > 180) dlon -= 360;
        if (dlon < -180) dlon += 360;
        if (std::fabs(dlat) < kShortStepDeg && std::fabs(dlon) < kShortStepDeg) {
            if (std::fabs(latitude_deg - cos_lat_at_) > kCosineReuseDeg) {
                cos_lat_at_ = latitude_deg;
                cos_lat_ = std::cos(latitude_deg * kRadiansPerDegree);
            }
            const double x = dlon * cos_lat_;
            metres_ += kEarthMeanRadiusMetres * kRadiansPerDegree * std::sqrt(dlat * dlat + x * x);
        } else {
            metres_ += GreatCircleMetres(last_lat_, last_lon_, latitude_deg, longitude_deg);
        }
    }
    has_last_ = true;
    last_lat_ = latitude_deg;
    last_lon_ = longitude_deg;
}

}  // namespace kestrun
