#include "flights/touchdown_analysis.h"

#include <fmt/format.h>

#include <cmath>
#include <numbers>

#include "protocol/host_units.h"
#include "recordfile/track_length.h"

namespace kestrun {
namespace {

constexpr double kFeetPerMetre = 1 / kMetresPerFoot;
constexpr double kKnotsPerMps = 3600.0 / 1852.0;
constexpr double kRadiansPerDegree = std::numbers::pi / 180;
constexpr double kMetresPerDegree = kEarthMeanRadiusMetres * kRadiansPerDegree;
// Within this of the ground level a record is on the ground: the wheels and
// the altitude's noise.
constexpr double kContactM = 0.3;
// A hop that reaches this high above the runway lasts about a second
// (falling 1 m takes 0.45 s), so one record this high between two on the
// ground is a bounce.
constexpr double kBounceM = 1.0;
// Higher than this after a touch the aircraft has climbed away.
constexpr double kClimbOutM = 10;
// The low run before a touchdown: everything below 50 ft, so that bounces
// and a long float belong to it.
constexpr double kLowRunM = 50 * kMetresPerFoot;
// The landing roll ends, and a takeoff roll begins, below taxi speed.
constexpr double kTaxiKt = 30;
// A lowest point higher than this above the runway is neither a go-around
// nor a low pass.
constexpr double kGoAroundFt = 300;
// An approach counts from this far before the runway.
constexpr double kApproachReachM = 8000;
// A flat lowest point this near the runway's listed elevation is the
// aircraft rolling on it: lists and simulator scenery disagree by metres.
constexpr double kElevationToleranceM = 10;
// The detector's band for coming down onto the departure field's level.
constexpr double kFieldBandAboveM = 2.5;
constexpr double kFieldBandBelowM = 10;
// Flat: the lowest record and a neighbour within this of each other.
constexpr double kFlatM = 0.5;
// Stabilised approach: the gates and their limits.
constexpr double kGateHeightsFt[] = {1000, 500};
constexpr double kGlidepathDeg = 3;
constexpr double kAimPointM = 300;
constexpr double kStableSinkFpm = 1000;
constexpr double kStableBankDeg = 15;
constexpr double kStableGlidepathDeg = 1;
// Across the extended centreline, seen from the landing threshold; about
// what a localizer shows at two dots.
constexpr double kStableLateralDeg = 2;
constexpr double kAlignedDeg = 30;

double StepMetres(const GeoPoint& a, const GeoPoint& b) {
    const double north = (b.latitude_deg - a.latitude_deg) * kMetresPerDegree;
    const double east = AngleDifference(b.longitude_deg, a.longitude_deg) * kMetresPerDegree *
                        std::cos(a.latitude_deg * kRadiansPerDegree);
    return std::hypot(north, east);
}

GeoPoint Where(const FlightPoint& p) {
    return {p.latitude_deg, p.longitude_deg};
}

double Seconds(const FlightPoint& a, const FlightPoint& b) {
    return static_cast<double>(b.seconds - a.seconds);
}

// Both records in one stretch of time, one after the other.
bool Follows(const std::vector<FlightPoint>& p, std::size_t i) {
    return i > 0 && !p[i].new_stretch && p[i].seconds > p[i - 1].seconds;
}

double GroundKt(const std::vector<FlightPoint>& p, std::size_t i) {
    return StepMetres(Where(p[i - 1]), Where(p[i])) / Seconds(p[i - 1], p[i]) * kKnotsPerMps;
}

double Lerp(double a, double b, double f) {
    return a + (b - a) * f;
}

// The sink (positive down, m/s) at points[a] and how it changes a second,
// from the airborne records before it; the change is kept only when the
// sink eases (a flare), never to steepen a descent.
struct Descent {
    double sink_mps = 0;
    double change = 0;
};
std::optional<Descent> DescentAt(const std::vector<FlightPoint>& p, std::size_t a) {
    if (!Follows(p, a)) return std::nullopt;
    const double last = (p[a - 1].altitude_m - p[a].altitude_m) / Seconds(p[a - 1], p[a]);
    if (!Follows(p, a - 1)) return Descent{last, 0};
    const double before = (p[a - 2].altitude_m - p[a - 1].altitude_m) / Seconds(p[a - 2], p[a - 1]);
    const double change = std::min(0.0, (last - before) / (0.5 * Seconds(p[a - 2], p[a])));
    // `last` is the mean over the last second, the sink half a second earlier.
    return Descent{std::max(0.0, last + change * 0.5 * Seconds(p[a - 1], p[a])), change};
}

}  // namespace

std::optional<Contact> FindContact(const std::vector<FlightPoint>& p, std::size_t settled,
                                   double ground_m) {
    std::size_t start = settled;
    while (start > 0 && Follows(p, start) && p[start - 1].altitude_m <= ground_m + kLowRunM) --start;
    std::size_t g = start;
    while (g < settled && p[g].altitude_m > ground_m + kContactM) ++g;
    Contact c;
    c.ground = g;
    c.airborne = g > 0 ? g - 1 : 0;
    const FlightPoint& on = p[g];
    c.seconds = static_cast<double>(on.seconds);
    c.where = Where(on);
    c.heading_deg = on.heading_deg;
    c.ias_kt = on.airspeed_kt;
    c.pitch_deg = on.pitch_deg;
    c.bank_deg = on.bank_deg;
    if (!Follows(p, g) || p[g - 1].altitude_m <= ground_m + kContactM) {
        // No record in the air leads up to it: the recording starts on the
        // ground, or the aircraft sank too slowly for its records to tell.
        if (g + 1 < p.size() && Follows(p, g + 1))
            c.track_deg = TrackDegrees(Where(on), Where(p[g + 1]));
        return c;
    }
    const std::size_t a = g - 1;
    const FlightPoint& up = p[a];
    const double step = Seconds(up, on);
    const double height = up.altitude_m - ground_m;
    double tau = step;
    const std::optional<Descent> descent = DescentAt(p, a);
    if (descent && descent->sink_mps > 0) {
        // height = sink * tau + change / 2 * tau^2, with change <= 0.
        const double disc =
            descent->sink_mps * descent->sink_mps + 2 * descent->change * height;
        if (disc >= 0) tau = std::min(step, 2 * height / (descent->sink_mps + std::sqrt(disc)));
        c.sink_mps = std::max(0.0, descent->sink_mps + descent->change * tau);
    }
    const double f = tau / step;
    c.seconds = static_cast<double>(up.seconds) + tau;
    if (Follows(p, a)) {
        // Carried on at the speed of the last second in the air: the wheels
        // braking after contact must not pull the point back.
        const FlightPoint& before = p[a - 1];
        const double k = tau / Seconds(before, up);
        c.where = {up.latitude_deg + (up.latitude_deg - before.latitude_deg) * k,
                   up.longitude_deg + AngleDifference(up.longitude_deg, before.longitude_deg) * k};
        c.track_deg = TrackDegrees(Where(before), Where(up));
    } else {
        c.where = {Lerp(up.latitude_deg, on.latitude_deg, f),
                   up.longitude_deg + AngleDifference(on.longitude_deg, up.longitude_deg) * f};
        c.track_deg = TrackDegrees(Where(up), Where(on));
    }
    c.heading_deg = up.heading_deg + AngleDifference(on.heading_deg, up.heading_deg) * f;
    if (c.heading_deg < 0) c.heading_deg += 360;
    if (c.heading_deg >= 360) c.heading_deg -= 360;
    c.ias_kt = Lerp(up.airspeed_kt, on.airspeed_kt, f);
    c.pitch_deg = Lerp(up.pitch_deg, on.pitch_deg, f);
    c.bank_deg = Lerp(up.bank_deg, on.bank_deg, f);
    return c;
}

TouchdownJudgement JudgeTouchdown(const std::vector<FlightPoint>& p, const Contact& c,
                                  double ground_m, const std::vector<Runway>& runways, bool final) {
    TouchdownJudgement t;
    t.final = final;
    t.seconds = c.seconds;
    t.where = c.where;
    t.ias_kt = c.ias_kt;
    t.pitch_deg = c.pitch_deg;
    t.bank_deg = c.bank_deg;
    if (c.sink_mps) t.touchdown_fpm = -*c.sink_mps * kFeetPerMetre * 60;
    const std::optional<RunwayFrame> frame = RunwayUnder(runways, c.where, c.track_deg);
    if (frame) {
        const RunwayPlace place = frame->PlaceOf(c.where);
        t.airport = frame->runway().airport;
        t.runway = frame->end().ident;
        t.touchdown_distance_m = frame->FromThreshold(place);
        t.centreline_offset_m = place.across_m;
        t.crab_deg = AngleDifference(c.heading_deg, c.track_deg);
    }
    // Bounces: back in the air, at least a hop's height, and down again
    // before the roll ends or the aircraft climbs away.
    bool hopping = false;
    std::size_t k = c.ground + 1;
    double rolled = StepMetres(c.where, Where(p[c.ground]));
    for (; k < p.size() && Follows(p, k); ++k) {
        const double height = p[k].altitude_m - ground_m;
        if (height > kClimbOutM) break;
        if (height >= kBounceM) {
            hopping = true;
        } else if (hopping && height < kBounceM) {
            hopping = false;
            ++t.bounces;
        }
        rolled += StepMetres(Where(p[k - 1]), Where(p[k]));
        if (GroundKt(p, k) < kTaxiKt) {
            if (final) {
                t.roll_m = rolled;
                if (frame) t.remaining_m = frame->length_m() - frame->PlaceOf(Where(p[k])).along_m;
            }
            break;
        }
    }
    return t;
}

ApproachJudgement JudgeApproach(const std::vector<FlightPoint>& p, const Contact& c,
                                double ground_m, const RunwayFrame& frame) {
    ApproachJudgement j;
    j.airport = frame.runway().airport;
    j.runway = frame.end().ident;
    for (const double gate_ft : kGateHeightsFt) {
        const double level = ground_m + gate_ft * kMetresPerFoot;
        // The last time the approach came down through the gate's height.
        std::size_t i = c.airborne;
        while (i > 0 && Follows(p, i) && !(p[i - 1].altitude_m >= level && p[i].altitude_m < level))
            --i;
        if (i == 0 || !Follows(p, i) || p[i - 1].altitude_m < level) {
            if (gate_ft == kGateHeightsFt[1]) j.reasons.push_back("not on final at 500 ft");
            continue;
        }
        const FlightPoint& a = p[i - 1];
        const FlightPoint& b = p[i];
        const double f = (a.altitude_m - level) / (a.altitude_m - b.altitude_m);
        const GeoPoint at{Lerp(a.latitude_deg, b.latitude_deg, f),
                          a.longitude_deg + AngleDifference(b.longitude_deg, a.longitude_deg) * f};
        const RunwayPlace place = frame.PlaceOf(at);
        const double to_threshold = frame.end().displaced_m - place.along_m;
        const double track = TrackDegrees(Where(a), Where(b));
        // Still turning, or past the threshold: a traffic pattern whose final
        // turn ends lower has no gate here.
        if (std::fabs(AngleDifference(track, frame.heading_deg())) > kAlignedDeg ||
            to_threshold <= 0) {
            if (gate_ft == kGateHeightsFt[1]) j.reasons.push_back("not on final at 500 ft");
            continue;
        }
        ApproachGate gate;
        gate.height_ft = gate_ft;
        gate.ias_kt = Lerp(a.airspeed_kt, b.airspeed_kt, f);
        gate.sink_fpm = (a.altitude_m - b.altitude_m) / Seconds(a, b) * kFeetPerMetre * 60;
        gate.bank_deg = Lerp(a.bank_deg, b.bank_deg, f);
        gate.glidepath_dev_deg =
            std::atan2(gate_ft * kMetresPerFoot, to_threshold + kAimPointM) / kRadiansPerDegree -
            kGlidepathDeg;
        gate.centreline_dev_m = place.across_m;
        const double lateral_deg =
            std::atan2(std::fabs(place.across_m), to_threshold) / kRadiansPerDegree;
        const std::string at_gate = fmt::format("at {:.0f} ft: ", gate_ft);
        if (gate.sink_fpm > kStableSinkFpm)
            j.reasons.push_back(at_gate + fmt::format("sinking {:.0f} ft/min", gate.sink_fpm));
        if (std::fabs(gate.bank_deg) > kStableBankDeg)
            j.reasons.push_back(at_gate + fmt::format("banked {:.0f} deg", gate.bank_deg));
        if (std::fabs(gate.glidepath_dev_deg) > kStableGlidepathDeg) {
            j.reasons.push_back(at_gate + fmt::format("{:.1f} deg {} the glidepath",
                                                      std::fabs(gate.glidepath_dev_deg),
                                                      gate.glidepath_dev_deg > 0 ? "above" : "below"));
        }
        if (lateral_deg > kStableLateralDeg) {
            j.reasons.push_back(at_gate + fmt::format("{:.0f} m {} of the centreline",
                                                      std::fabs(place.across_m),
                                                      place.across_m > 0 ? "right" : "left"));
        }
        j.gates.push_back(gate);
    }
    j.stable = j.reasons.empty();
    return j;
}

TakeoffJudgement JudgeTakeoff(const std::vector<FlightPoint>& p, std::size_t roll_start,
                              std::size_t liftoff, const std::vector<Runway>& runways) {
    TakeoffJudgement t;
    for (std::size_t k = roll_start + 1; k <= liftoff; ++k) {
        if (Follows(p, k)) t.roll_m += StepMetres(Where(p[k - 1]), Where(p[k]));
    }
    const GeoPoint up = Where(p[liftoff]);
    // The direction of the roll's fast part, where the wheels follow the
    // centreline: from the last record below taxi speed.
    std::size_t fast = roll_start;
    for (std::size_t k = roll_start + 1; k < liftoff; ++k) {
        if (Follows(p, k) && GroundKt(p, k) < kTaxiKt) fast = k;
    }
    if (fast == liftoff) return t;
    const double track = TrackDegrees(Where(p[fast]), up);
    std::optional<RunwayFrame> frame = RunwayUnder(runways, up, track);
    if (!frame) frame = RunwayUnder(runways, Where(p[fast]), track);
    if (frame) {
        t.airport = frame->runway().airport;
        t.runway = frame->end().ident;
        t.liftoff_distance_m = frame->PlaceOf(up).along_m;
    }
    return t;
}

LowPoint JudgeLowPoint(const std::vector<FlightPoint>& p, std::size_t lowest,
                       const std::vector<Runway>& runways, std::optional<double> rolled_m) {
    LowPoint result;
    const FlightPoint& low = p[lowest];
    const std::size_t from = Follows(p, lowest) ? lowest - 1 : lowest;
    const std::size_t to = lowest + 1 < p.size() && Follows(p, lowest + 1) ? lowest + 1 : lowest;
    if (from == to) return result;
    const double track = TrackDegrees(Where(p[from]), Where(p[to]));
    const std::optional<RunwayFrame> frame = RunwayAhead(runways, Where(low), track, kApproachReachM);
    if (!frame) return result;
    const std::optional<double> elevation = frame->elevation_m();
    const bool flat = (from != lowest && p[from].altitude_m - low.altitude_m <= kFlatM) ||
                      (to != lowest && p[to].altitude_m - low.altitude_m <= kFlatM);
    const bool on_rolled_level = rolled_m && low.altitude_m <= *rolled_m + kFieldBandAboveM &&
                                 low.altitude_m >= *rolled_m - kFieldBandBelowM;
    const bool on_elevation =
        elevation && std::fabs(low.altitude_m - *elevation) <= kElevationToleranceM;
    const RunwayPlace place = frame->PlaceOf(Where(low));
    const bool over_runway = frame->OnSurface(place, 15);
    if (over_runway && (on_rolled_level || (flat && on_elevation))) {
        const double ground = on_rolled_level && !flat ? *rolled_m : low.altitude_m;
        const std::optional<Contact> contact = FindContact(p, lowest, ground);
        if (contact) result.touchdown = JudgeTouchdown(p, *contact, ground, runways, false);
        return result;
    }
    // The level it rolled on there, else the list's.
    const bool here = rolled_m && elevation && std::fabs(*rolled_m - *elevation) <= kElevationToleranceM;
    const std::optional<double> ground = here ? rolled_m : elevation;
    if (!ground) return result;
    const double lowest_ft = (low.altitude_m - *ground) * kFeetPerMetre;
    if (lowest_ft > kGoAroundFt) return result;
    result.go_around = GoAround{static_cast<double>(low.seconds), frame->runway().airport,
                                frame->end().ident, here, lowest_ft};
    return result;
}

}  // namespace kestrun
