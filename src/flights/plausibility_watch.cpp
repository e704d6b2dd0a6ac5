#include "flights/plausibility_watch.h"

#include <fmt/format.h>

#include <algorithm>
#include <cmath>
#include <numbers>

#include "protocol/host_units.h"
#include "recordfile/track_length.h"

namespace kestrun {
namespace {

constexpr double kKnotsPerMps = 3600.0 / 1852.0;
constexpr double kFeetPerMetre = 1 / kMetresPerFoot;
constexpr double kRadiansPerDegree = std::numbers::pi / 180;

}  // namespace

void PlausibilityWatch::Run::Add(bool above, std::int64_t dt, double value) {
    if (!above) {
        seconds = 0;
        peak = 0;
        return;
    }
    seconds += dt;
    peak = std::max(peak, value);
    if (seconds >= longest) {
        longest = seconds;
        longest_peak = peak;
    }
}

void PlausibilityWatch::Add(const FlightPoint& before, const FlightPoint& p) {
    const std::int64_t dt = p.seconds - before.seconds;
    if (dt <= 0) return;
    // Nearly always one second, where dividing changes no bit.
    const auto per_second = [dt](double x) { return dt == 1 ? x : x / static_cast<double>(dt); };
    const double climb_fpm = per_second((p.altitude_m - before.altitude_m) * kFeetPerMetre * 60);
    climbing_.Add(climb_fpm > kImplausibleClimbFpm, dt, climb_fpm);
    // The great circle costs sines, cosines and an arc sine, and nearly
    // every step is far too short to matter: an upper bound of it first.
    // In the haversine sin x <= x and cos <= 1, so sqrt(h) <= s with
    // (2s)^2 = dlat^2 + dlon^2, and asin(s) <= 1.05 s while s <= 0.5; the
    // bound's rounding is nothing beside the margin of a tenth.
    const double dlat = (p.latitude_deg - before.latitude_deg) * kRadiansPerDegree;
    double dlon_deg = p.longitude_deg - before.longitude_deg;
    if (dlon_deg > 180) dlon_deg -= 360;
    if (dlon_deg < -180) dlon_deg += 360;
    const double dlon = dlon_deg * kRadiansPerDegree;
    const double two_s_squared = dlat * dlat + dlon * dlon;
    // 2s at which the bound reaches nine tenths of the limit.
    constexpr double kFarBelowPerSecond =
        0.9 * kImplausibleGroundKt / kKnotsPerMps / (1.05 * kEarthMeanRadiusMetres);
    const double far_below = kFarBelowPerSecond * static_cast<double>(dt);
    if (two_s_squared <= 1 && two_s_squared < far_below * far_below) {
        fast_.Add(false, dt, 0);
        return;
    }
    const double ground_kt = per_second(GreatCircleMetres(before.latitude_deg, before.longitude_deg,
                                                          p.latitude_deg, p.longitude_deg)) *
                             kKnotsPerMps;
    fast_.Add(ground_kt > kImplausibleGroundKt, dt, ground_kt);
}

void PlausibilityWatch::Break() {
    fast_.Add(false, 0, 0);
    climbing_.Add(false, 0, 0);
}

std::string PlausibilityWatch::Reason(const DetectedFlight& flight) const {
    std::string reason;
    const auto add = [&reason](const std::string& part) {
        reason += (reason.empty() ? "" : "; ") + part;
    };
    if (fast_.longest >= kImplausibleFastForS) {
        add(fmt::format("a ground speed above {:.0f} kt for {} s (up to {:.0f} kt)",
                        kImplausibleGroundKt, fast_.longest, fast_.longest_peak));
    }
    if (climbing_.longest >= kImplausibleClimbForS) {
        add(fmt::format("a climb faster than {:.0f} ft/min for {} s (up to {:.0f} ft/min)",
                        kImplausibleClimbFpm, climbing_.longest, climbing_.longest_peak));
    }
    if (flight.touchdown && flight.touchdown->rate_fpm &&
        *flight.touchdown->rate_fpm < kImplausibleTouchdownFpm) {
        add(fmt::format("a touchdown at {:.0f} ft/min, beyond what a landing gear survives",
                        *flight.touchdown->rate_fpm));
    }
    return reason;
}

}  // namespace kestrun
