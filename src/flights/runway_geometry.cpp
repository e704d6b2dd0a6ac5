#include "flights/runway_geometry.h"

#include <cmath>
#include <numbers>

#include "recordfile/track_length.h"

namespace kestrun {
namespace {

constexpr double kRadiansPerDegree = std::numbers::pi / 180;
constexpr double kMetresPerDegree = kEarthMeanRadiusMetres * kRadiansPerDegree;
// Lined up: the track within this of the runway's direction.
constexpr double kAlignedDeg = 30;
// A touchdown beside the paved edge or just off its ends still belongs to
// that runway; parallel runways lie 200 m apart or more, far beyond this.
constexpr double kSurfaceMarginM = 15;
// The funnel an approach must be in: half the width and this much at the
// runway's approach end, widening by this share of the distance before it
// (about 6 degrees).
constexpr double kFunnelM = 100;
constexpr double kFunnelSlope = 0.1;

}  // namespace

double AngleDifference(double a_deg, double b_deg) {
    double d = std::fmod(a_deg - b_deg, 360.0);
    if (d <= -180) d += 360;
    if (d > 180) d -= 360;
    return d;
}

double TrackDegrees(const GeoPoint& from, const GeoPoint& to) {
    const double north = (to.latitude_deg - from.latitude_deg) * kMetresPerDegree;
    const double east = AngleDifference(to.longitude_deg, from.longitude_deg) * kMetresPerDegree *
                        std::cos(from.latitude_deg * kRadiansPerDegree);
    const double deg = std::atan2(east, north) / kRadiansPerDegree;
    return deg < 0 ? deg + 360 : deg;
}

RunwayFrame::RunwayFrame(const Runway& runway, int end)
    : runway_(runway),
      end_(end),
      origin_lat_(runway.ends[end].threshold.latitude_deg),
      origin_lon_(runway.ends[end].threshold.longitude_deg),
      metres_east_per_deg_(kMetresPerDegree * std::cos(origin_lat_ * kRadiansPerDegree)),
      metres_north_per_deg_(kMetresPerDegree) {
    const GeoPoint& far = runway.ends[1 - end].threshold;
    const double east = AngleDifference(far.longitude_deg, origin_lon_) * metres_east_per_deg_;
    const double north = (far.latitude_deg - origin_lat_) * metres_north_per_deg_;
    length_m_ = std::hypot(east, north);
    east_x_ = length_m_ > 0 ? east / length_m_ : 0;
    east_y_ = length_m_ > 0 ? north / length_m_ : 1;
    heading_deg_ = std::atan2(east_x_, east_y_) / kRadiansPerDegree;
    if (heading_deg_ < 0) heading_deg_ += 360;
}

RunwayPlace RunwayFrame::PlaceOf(const GeoPoint& point) const {
    const double east = AngleDifference(point.longitude_deg, origin_lon_) * metres_east_per_deg_;
    const double north = (point.latitude_deg - origin_lat_) * metres_north_per_deg_;
    // Right of the direction (x, y) is (y, -x).
    return {east * east_x_ + north * east_y_, east * east_y_ - north * east_x_};
}

GeoPoint RunwayFrame::PointAt(const RunwayPlace& place) const {
    const double east = place.along_m * east_x_ + place.across_m * east_y_;
    const double north = place.along_m * east_y_ - place.across_m * east_x_;
    return {origin_lat_ + north / metres_north_per_deg_, origin_lon_ + east / metres_east_per_deg_};
}

std::optional<double> RunwayFrame::elevation_m() const {
    return end().elevation_m ? end().elevation_m : runway_.airport_elevation_m;
}

bool RunwayFrame::OnSurface(const RunwayPlace& place, double margin_m) const {
    return place.along_m >= -margin_m && place.along_m <= length_m_ + margin_m &&
           std::fabs(place.across_m) <= runway_.width_m / 2 + margin_m;
}

namespace {

template <typename Accept>
std::optional<RunwayFrame> Nearest(const std::vector<Runway>& runways, const GeoPoint& point,
                                   double track_deg, const Accept& accept) {
    std::optional<RunwayFrame> best;
    double best_across = 0;
    for (const Runway& runway : runways) {
        for (int end = 0; end < 2; ++end) {
            RunwayFrame frame(runway, end);
            if (frame.length_m() <= 0) continue;
            if (std::fabs(AngleDifference(track_deg, frame.heading_deg())) > kAlignedDeg) continue;
            const RunwayPlace place = frame.PlaceOf(point);
            if (!accept(frame, place)) continue;
            if (!best || std::fabs(place.across_m) < best_across) {
                best_across = std::fabs(place.across_m);
                best = std::move(frame);
            }
        }
    }
    return best;
}

}  // namespace

std::optional<RunwayFrame> RunwayUnder(const std::vector<Runway>& runways, const GeoPoint& point,
                                       double track_deg) {
    return Nearest(runways, point, track_deg, [](const RunwayFrame& frame, const RunwayPlace& at) {
        return frame.OnSurface(at, kSurfaceMarginM);
    });
}

std::optional<RunwayFrame> RunwayAhead(const std::vector<Runway>& runways, const GeoPoint& point,
                                       double track_deg, double before_m) {
    return Nearest(runways, point, track_deg,
                   [before_m](const RunwayFrame& frame, const RunwayPlace& at) {
                       if (at.along_m < -before_m || at.along_m > frame.length_m()) return false;
                       const double funnel = frame.runway().width_m / 2 + kFunnelM +
                                             kFunnelSlope * std::max(0.0, -at.along_m);
                       return std::fabs(at.across_m) <= funnel;
                   });
}

}  // namespace kestrun
