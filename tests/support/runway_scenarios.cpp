#include "tests/support/runway_scenarios.h"

namespace kestrun::testing {
namespace {

// The ground level of the synthetic flights: the list's elevation plus a
// little, as simulator scenery has it.
double GroundOf(const Runway& runway) {
    return runway.airport_elevation_m.value_or(0) + 1.7;
}

// Down the 3 degree path to `to_h` metres above the runway.
void Glide(SyntheticFlight& f, double to_h) {
    f.Steer((f.height_m() - to_h) / (kGlideFpm * kFt / 60), 70, -kGlideFpm);
}

// From the glide at `from_ft`, sinking steadily at `fpm` onto the runway.
void Steady(SyntheticFlight& f, double fpm, double from_ft = 100) {
    Glide(f, from_ft * kFt);
    f.Steer(3, 70, -fpm).Steer(from_ft * kFt / (fpm * kFt / 60), 70, -fpm);
}

// Climbs straight ahead to 1000 ft, turns right onto the downwind leg,
// flies it to 3000 m before the threshold and turns onto final, descending,
// to join the 3 degree path at 567 ft: the 1000 ft gate is passed in the
// turn, the 500 ft one on final.
void Circuit(SyntheticFlight& f, double bank_deg = 25) {
    f.Steer(3, 70, 700);
    f.Steer((1000 * kFt - f.height_m()) / (700 * kFt / 60) - 1.5, 70, 700).Steer(3, 70, 0);
    f.Attitude(2, bank_deg).Steer(60, 70, 0, 180).Attitude(2, 0);
    f.Steer((f.along_m() + 3000) / (70 * 1852.0 / 3600), 70, 0);
    const double final_h = 3300 * 0.0524078;
    const double fpm = (f.height_m() - final_h) / 60 / kFt * 60;
    f.Attitude(2, 25).Sink(fpm).Steer(60, 70, -fpm, 180);
    f.Attitude(2, 0).Sink(kGlideFpm);
}

}  // namespace

std::optional<Runway> FindRunway(RunwayFinder& runways, const GeoPoint& near,
                                 const std::string& ident, int& end) {
    for (const Runway& r : runways.RunwaysNear(near, 5000)) {
        for (end = 0; end < 2; ++end) {
            if (r.ends[end].ident == ident) return r;
        }
    }
    return std::nullopt;
}

const std::vector<StraightIn>& StraightIns() {
    static const std::vector<StraightIn> cases = {
        // The hard landing: 689 ft/min straight onto the runway, no flare,
        // half a second after a record.
        {"steady 689 ft/min at KPAO 31 (displaced threshold)", kPaloAlto, "31", 0, 0,
         [](SyntheticFlight& f) { Steady(f, 689, 108); }, false},
        // Flared for 6 s from the glide's sink to 120 ft/min.
        {"flared at KPAO 31", kPaloAlto, "31", 1.5, 0,
         [](SyntheticFlight& f) {
             Glide(f, 7.6);
             f.Steer(6, 65, -120).Steer(3, 62, -120);
         },
         true},
        {"KSFO 28L beside 28R", kSanFrancisco, "28L", 3, 0,
         [](SyntheticFlight& f) { Steady(f, 600); }, false},
        {"KSFO 28R in a crosswind, crabbed", kSanFrancisco, "28R", -2, 8,
         [](SyntheticFlight& f) { Steady(f, 450); }, false},
        {"bounced at KPAO 31", kPaloAlto, "31", -1, 0,
         [](SyntheticFlight& f) {
             Steady(f, 400);
             f.Hop(4.9).Steer(2, 66, 0);
         },
         false},
    };
    return cases;
}

SyntheticFlight FlyStraightIn(const StraightIn& c, const Runway& runway, int end) {
    SyntheticFlight f(runway, end, GroundOf(runway), 300 - 1200 * kFt / 0.0524078, c.across_m,
                      1200 * kFt, 0, 70);
    f.Crab(c.crab_deg).Sink(kGlideFpm);
    c.approach(f);
    f.Steer(10, 20, 0).Steer(10, 0, 0).Steer(30, 0, 0);
    return f;
}

SyntheticFlight FlyCircuits(const Runway& runway, int end, Circuits& truth) {
    SyntheticFlight f(runway, end, GroundOf(runway), 300 - 1200 * kFt / 0.0524078, 0, 1200 * kFt, 0,
                      70);
    f.Sink(kGlideFpm);
    Glide(f, 200 * kFt);
    truth.go_around_m = f.height_m();
    Circuit(f, 50);
    Glide(f, 50 * kFt);
    f.Steer(3, 70, 0).Steer(12, 70, 0);
    truth.low_pass_m = f.lowest_m();
    Circuit(f);
    Glide(f, 7.6);
    f.Steer(6, 65, -120).Steer(6, 65, 0);
    Circuit(f);
    Glide(f, 7.6);
    f.Steer(6, 65, -120).Steer(3, 62, -120).Steer(10, 20, 0).Steer(10, 0, 0).Steer(30, 0, 0);
    return f;
}

}  // namespace kestrun::testing
