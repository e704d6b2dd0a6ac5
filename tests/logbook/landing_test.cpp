// Landings, takeoffs and approaches judged against real runways (an excerpt
// of FlightGear's airport list), on synthetic flights whose truth the
// generator knows to the millisecond.

#include <gtest/gtest.h>

#include <cmath>
#include <functional>

#include "flights/flight_analyzer.h"
#include "logbook/logbook_store.h"
#include "logbook/runways.h"
#include "recordfile/track_length.h"
#include "tests/support/runway_flight.h"
#include "tests/support/synthetic_flight.h"
#include "tests/support/test_files.h"

namespace kestrun {
namespace {

using testing::RunwayFlight;

constexpr double kFt = 0.3048;
const GeoPoint kPaloAlto{37.461, -122.115};
const GeoPoint kSanCarlos{37.512, -122.249};
const GeoPoint kSanFrancisco{37.619, -122.375};

class LandingTest : public ::testing::Test {
  protected:
    void SetUp() override {
        ASSERT_TRUE(OpenLogbook((dir_ / "logbook.sqlite").string(), db_).ok());
        RunwayImport import;
        ASSERT_TRUE(UpdateRunways(db_, KESTRUN_LOGBOOK_DATA "/apt-excerpt.dat", import).ok());
        EXPECT_EQ(import.runways, 6);
    }
    // The runway at `near` with an end called `ident`, and which end it is.
    Runway Find(const GeoPoint& near, const std::string& ident, int& end) {
        for (const Runway& r : runways_.RunwaysNear(near, 5000)) {
            for (end = 0; end < 2; ++end) {
                if (r.ends[end].ident == ident) return r;
            }
        }
        ADD_FAILURE() << "no runway " << ident;
        return {};
    }
    std::vector<DetectedFlight> Analyse(const std::vector<FlightPoint>& points) {
        testing::CollectFlights sink;
        FlightAnalyzer analyzer(sink, &runways_);
        for (const FlightPoint& p : points) analyzer.Add(p);
        analyzer.Finish();
        return sink.flights;
    }

    testing::ScratchDir dir_;
    Database db_;
    LogbookRunways runways_{db_};
};

// A straight-in approach to `ident` from 1200 ft on a 3 degree path at
// 70 kt, held by `approach` down to the runway, then the roll to a stop.
struct Landing {
    const char* name;
    GeoPoint airport;
    const char* runway;
    double across_m;
    double crab_deg;
    std::function<void(RunwayFlight&)> approach;
    bool flared;
};

// On a 3 degree path at 70 kt towards a point 300 m past the threshold.
constexpr double kGlideFpm = 70 * 1852.0 / 3600 * 0.0524078 / kFt * 60;

// Down the 3 degree path to `to_h` metres above the runway.
void Glide(RunwayFlight& f, double to_h) {
    f.Fly((f.height_m() - to_h) / (kGlideFpm * kFt / 60), 70, -kGlideFpm);
}

// From the glide at `from_ft`, sinking steadily at `fpm` onto the runway.
void Steady(RunwayFlight& f, double fpm, double from_ft = 100) {
    Glide(f, from_ft * kFt);
    f.Fly(3, 70, -fpm).Fly(from_ft * kFt / (fpm * kFt / 60), 70, -fpm);
}

TEST_F(LandingTest, EveryTouchdownOnItsRunwayAtItsPointRateAndCrab) {
    const Landing cases[] = {
        // The hard landing: 689 ft/min straight onto the runway, no flare.
        {"steady 689 ft/min at KPAO 31 (displaced threshold)", kPaloAlto, "31", 0, 0,
         [](RunwayFlight& f) { Steady(f, 689, 108); }, false},
        // Flared for 6 s from the glide's sink to 120 ft/min.
        {"flared at KPAO 31", kPaloAlto, "31", 1.5, 0,
         [](RunwayFlight& f) {
             Glide(f, 7.6);
             f.Fly(6, 65, -120).Fly(3, 62, -120);
         },
         true},
        {"KSFO 28L beside 28R", kSanFrancisco, "28L", 3, 0, [](RunwayFlight& f) { Steady(f, 600); },
         false},
        {"KSFO 28R in a crosswind, crabbed", kSanFrancisco, "28R", -2, 8,
         [](RunwayFlight& f) { Steady(f, 450); }, false},
        {"bounced at KPAO 31", kPaloAlto, "31", -1, 0,
         [](RunwayFlight& f) {
             Steady(f, 400);
             f.Hop(4.9).Fly(2, 66, 0);
         },
         false},
    };
    for (const Landing& c : cases) {
        SCOPED_TRACE(c.name);
        int end = 0;
        const Runway runway = Find(c.airport, c.runway, end);
        const double ground = runway.airport_elevation_m.value_or(0) + 1.7;  // scenery is not the list
        RunwayFlight f(runway, end, ground, 300 - 1200 * kFt / 0.0524078, c.across_m, 1200 * kFt,
                       0, 70);
        f.Crab(c.crab_deg).Sink(kGlideFpm);
        c.approach(f);
        f.Fly(10, 20, 0).Fly(10, 0, 0).Fly(30, 0, 0);
        const auto flights = Analyse(f.points());
        ASSERT_EQ(flights.size(), 1u);
        const FlightJudgement& j = flights[0].judgement;
        ASSERT_EQ(j.touchdowns.size(), 1u);
        const TouchdownJudgement& t = j.touchdowns[0];
        const testing::TouchdownTruth& truth = f.touchdowns().front();
        EXPECT_TRUE(t.final);
        EXPECT_EQ(t.runway, c.runway);
        EXPECT_EQ(t.airport, runway.airport);
        ASSERT_TRUE(t.touchdown_distance_m && t.centreline_offset_m && t.crab_deg && t.touchdown_fpm);
        EXPECT_NE(truth.seconds, std::floor(truth.seconds));  // between two records
        EXPECT_NEAR(*t.touchdown_distance_m, truth.x_m, c.flared ? 30 : 20);
        EXPECT_NEAR(*t.centreline_offset_m, truth.y_m, 1);
        EXPECT_NEAR(*t.crab_deg, truth.crab_deg, 2);
        EXPECT_NEAR(-*t.touchdown_fpm, truth.sink_fpm,
                    c.flared ? std::max(0.25 * truth.sink_fpm, 60.0)
                             : std::max(0.10 * truth.sink_fpm, 30.0));
        // The list's rate is the same, from the records in the air only.
        ASSERT_TRUE(flights[0].touchdown && flights[0].touchdown->rate_fpm);
        EXPECT_NEAR(*flights[0].touchdown->rate_fpm, *t.touchdown_fpm, 0.5);
        EXPECT_EQ(t.bounces, f.touchdowns().size() - 1);
        ASSERT_TRUE(t.roll_m && t.remaining_m);
        EXPECT_GT(*t.roll_m, 100);
        EXPECT_GT(*t.remaining_m, 0);
        // A straight-in on the 3 degree path: both gates on final and stable.
        ASSERT_TRUE(j.approach);
        EXPECT_EQ(j.approach->gates.size(), 2u);
        EXPECT_TRUE(j.go_arounds.empty());
    }
}

}  // namespace
}  // namespace kestrun

namespace kestrun {
namespace {

// Climbs straight ahead to 1000 ft, turns right onto the downwind leg,
// flies it to 3000 m before the threshold and turns onto final, descending,
// to join the 3 degree path at 567 ft: the 1000 ft gate is passed in the
// turn, the 500 ft one on final.
void Circuit(RunwayFlight& f, double bank_deg = 25) {
    f.Fly(3, 70, 700);
    f.Fly((1000 * kFt - f.height_m()) / (700 * kFt / 60) - 1.5, 70, 700).Fly(3, 70, 0);
    f.Attitude(2, bank_deg).Fly(60, 70, 0, 180).Attitude(2, 0);
    f.Fly((f.along_m() + 3000) / (70 * 1852.0 / 3600), 70, 0);
    const double final_h = 3300 * 0.0524078;
    const double fpm = (f.height_m() - final_h) / 60 / kFt * 60;
    f.Attitude(2, 25).Sink(fpm).Fly(60, 70, -fpm, 180);
    f.Attitude(2, 0).Sink(kGlideFpm);
}

// From 7 km out on KSFO 28R: a go-around at 200 ft, a low pass, a
// touch-and-go and the landing, each after a right-hand circuit (the first
// banked 50 degrees). The flight began in the air, so the detector alone
// knows no field to count touch-and-goes at.
TEST_F(LandingTest, GoAroundsLowPassesAndTouchAndGoesAtAnyAirport) {
    int end = 0;
    const Runway runway = Find(kSanFrancisco, "28R", end);
    const double ground = *runway.airport_elevation_m + 1.7;
    RunwayFlight f(runway, end, ground, 300 - 1200 * kFt / 0.0524078, 0, 1200 * kFt, 0, 70);
    f.Sink(kGlideFpm);
    Glide(f, 200 * kFt);
    const double go_around_m = f.height_m();
    Circuit(f, 50);
    Glide(f, 50 * kFt);
    f.Fly(3, 70, 0).Fly(12, 70, 0);
    const double low_pass_m = f.lowest_m();
    Circuit(f);
    Glide(f, 7.6);
    f.Fly(6, 65, -120).Fly(6, 65, 0);
    Circuit(f);
    Glide(f, 7.6);
    f.Fly(6, 65, -120).Fly(3, 62, -120).Fly(10, 20, 0).Fly(10, 0, 0).Fly(30, 0, 0);

    const auto flights = Analyse(f.points());
    ASSERT_EQ(flights.size(), 1u);
    const FlightJudgement& j = flights[0].judgement;
    ASSERT_EQ(j.go_arounds.size(), 2u);
    EXPECT_NEAR(j.go_arounds[0].lowest_ft_agl, go_around_m / kFt, 20);
    EXPECT_NEAR(j.go_arounds[1].lowest_ft_agl, low_pass_m / kFt, 20);
    for (const GoAround& g : j.go_arounds) {
        EXPECT_EQ(g.airport, "KSFO");
        EXPECT_EQ(g.runway, "28R");
    }
    ASSERT_EQ(j.touchdowns.size(), 2u);
    EXPECT_EQ(flights[0].touch_and_goes, 1);
    EXPECT_FALSE(j.touchdowns[0].final);
    EXPECT_TRUE(j.touchdowns[1].final);
    for (std::size_t i = 0; i < 2; ++i) {
        SCOPED_TRACE(i);
        const TouchdownJudgement& t = j.touchdowns[i];
        EXPECT_EQ(t.runway, "28R");
        ASSERT_TRUE(t.touchdown_distance_m && t.touchdown_fpm);
        EXPECT_NEAR(*t.touchdown_distance_m, f.touchdowns()[i].x_m, 30);
        EXPECT_NEAR(-*t.touchdown_fpm, f.touchdowns()[i].sink_fpm, 60);
    }
    // The final turn ended below 1000 ft: only the 500 ft gate, and stable.
    ASSERT_TRUE(j.approach);
    ASSERT_EQ(j.approach->gates.size(), 1u);
    EXPECT_EQ(j.approach->gates[0].height_ft, 500);
    EXPECT_NEAR(j.approach->gates[0].glidepath_dev_deg, 0, 0.2);
    EXPECT_NEAR(j.approach->gates[0].sink_fpm, kGlideFpm, 5);
    EXPECT_TRUE(j.approach->stable) << j.approach->reasons.front();
    // The steep turn of the first circuit, and nothing else.
    ASSERT_EQ(j.events.size(), 1u);
    EXPECT_EQ(j.events[0].kind, "bank");
    EXPECT_EQ(j.events[0].peak, 50);
    EXPECT_NEAR(j.events[0].duration_s, 60, 1);
}

TEST_F(LandingTest, TheTakeoffRunwayAndEventLimitsFromAFile) {
    int end = 0;
    const Runway runway = Find(kSanCarlos, "30", end);
    RunwayFlight f(runway, end, *runway.airport_elevation_m, -runway.ends[end].displaced_m + 20, 0,
                   0, 0, 0);
    f.Fly(10, 0, 0).Fly(20, 60, 0).Fly(3, 65, 700).Attitude(12, 0).Fly(60, 70, 700);
    const auto flights = Analyse(f.points());
    ASSERT_EQ(flights.size(), 1u);
    const auto& takeoff = flights[0].judgement.takeoff;
    ASSERT_TRUE(takeoff && takeoff->liftoff_distance_m);
    EXPECT_EQ(takeoff->airport, "KSQL");
    EXPECT_EQ(takeoff->runway, "30");
    // Lift-off where the detector saw it, 20 m more from the runway's start
    // than from where the aircraft stood.
    const FlightPoint* up = nullptr;
    for (const FlightPoint& p : f.points()) {
        if (p.seconds == flights[0].takeoff) up = &p;
    }
    ASSERT_NE(up, nullptr);
    const double from_stand = GreatCircleMetres(f.points()[0].latitude_deg, f.points()[0].longitude_deg,
                                                up->latitude_deg, up->longitude_deg);
    EXPECT_NEAR(*takeoff->liftoff_distance_m, from_stand + 20, 1);
    EXPECT_GT(takeoff->roll_m, from_stand - 60);
    EXPECT_LE(takeoff->roll_m, from_stand + 0.1);
    EXPECT_TRUE(flights[0].judgement.events.empty());

    EventLimits limits;
    ASSERT_TRUE(ParseEventLimits("# stricter\npitch_up_deg 10\n\nsink_fpm 1500\n", limits).ok());
    EXPECT_EQ(limits.pitch_up_deg, 10);
    EXPECT_EQ(limits.bank_deg, 45);
    EXPECT_FALSE(ParseEventLimits("pitch_up 10\n", limits).ok());
    EXPECT_FALSE(ParseEventLimits("bank_deg ten\n", limits).ok());
    testing::CollectFlights sink;
    FlightAnalyzer analyzer(sink, &runways_, limits);
    for (const FlightPoint& p : f.points()) analyzer.Add(p);
    analyzer.Finish();
    ASSERT_EQ(sink.flights.size(), 1u);
    ASSERT_EQ(sink.flights[0].judgement.events.size(), 1u);
    EXPECT_EQ(sink.flights[0].judgement.events[0].kind, "pitch up");
    EXPECT_EQ(sink.flights[0].judgement.events[0].peak, 12);
}

}  // namespace
}  // namespace kestrun
