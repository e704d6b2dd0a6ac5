#include "flights/plausibility_watch.h"

#include <fmt/format.h>

#include <algorithm>
#include <cmath>

#include "protocol/host_units.h"
#include "recordfile/track_length.h"

namespace kestrun {
namespace {

constexpr double kKnotsPerMps = 3600.0 / 1852.0;
constexpr double kFeetPerMetre = 1 / kMetresPerFoot;

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
    const double ground_kt = GreatCircleMetres(before.latitude_deg, before.longitude_deg,
                                               p.latitude_deg, p.longitude_deg) /
                             static_cast<double>(dt) * kKnotsPerMps;
    const double climb_fpm =
        (p.altitude_m - before.altitude_m) * kFeetPerMetre * 60 / static_cast<double>(dt);
    fast_.Add(ground_kt > kImplausibleGroundKt, dt, ground_kt);
    climbing_.Add(climb_fpm > kImplausibleClimbFpm, dt, climb_fpm);
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
