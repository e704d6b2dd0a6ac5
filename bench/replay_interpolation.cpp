// How far the replay's interpolation between once-a-second records strays
// from the path actually flown: the pattern aircraft flies one whole circuit
// in its own 0.05 s steps; every second goes through the host's units into a
// record, as the recorder writes it; the playback engine then answers every
// 0.05 s moment, and this compares it with the model at that same moment.
//
// Usage: build/release/bench/replay_interpolation [SECONDS]   (default 420)

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <vector>

#include "host/pattern_aircraft.h"
#include "playback/flight_track.h"
#include "recordfile/flight_sample.h"
#include "recordfile/track_length.h"
#include "tests/support/test_files.h"

namespace {

using namespace kestrun;

constexpr int kSteps = 20;  // model steps per record

double AngleApart(double a, double b) {
    const double d = std::fmod(std::fabs(a - b), 360.0);
    return std::min(d, 360.0 - d);
}

}  // namespace

int main(int argc, char** argv) {
    const int seconds = argc > 1 ? std::atoi(argv[1]) : 420;
    PatternAircraft aircraft(DefaultAirfield());
    std::vector<AircraftState> flown;
    FlightTrack track;
    FlightTimeline timeline;
    for (int i = 0; i <= seconds * kSteps; ++i) {
        const AircraftState s = aircraft.state();
        flown.push_back(s);
        if (i % kSteps == 0) {
            const int at = 10 * 3600 + i / kSteps;
            const FlightRecord record = testing::MakeRecord(
                {at / 3600, at / 60 % 60, at % 60, s.latitude_deg, s.longitude_deg, s.altitude_m,
                 s.pitch_deg, s.bank_deg, s.heading_deg, s.airspeed_kt});
            track.Add(SampleFromRecord(record),
                      timeline.Place(record.Hour, record.Minute, record.Second));
        }
        aircraft.Advance(1.0 / kSteps);
    }

    double worst_m = 0, worst_at = 0, worst_alt = 0, worst_heading = 0, worst_bank = 0;
    for (std::size_t i = 0; i < flown.size(); ++i) {
        const double t = double(i) / kSteps;
        const FlightSample p = track.At(t).sample;
        const AircraftState& f = flown[i];
        const double m =
            GreatCircleMetres(p.latitude_deg, p.longitude_deg, f.latitude_deg, f.longitude_deg);
        if (m > worst_m) {
            worst_m = m;
            worst_at = t;
        }
        worst_alt = std::max(worst_alt, std::fabs(p.altitude_m - f.altitude_m));
        worst_heading = std::max(worst_heading, AngleApart(p.heading_deg, f.heading_deg));
        worst_bank = std::max(worst_bank, std::fabs(p.bank_deg - f.bank_deg));
    }
    std::printf(
        "%d s of the pattern aircraft, records once a second, compared every 0.05 s:\n"
        "worst position %.3f m (at %.2f s), altitude %.3f m, heading %.3f deg, "
        "bank %.3f deg\n",
        seconds, worst_m, worst_at, worst_alt, worst_heading, worst_bank);
    return 0;
}
