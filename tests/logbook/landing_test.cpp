// Landings, takeoffs and approaches judged against real runways (an excerpt
// of FlightGear's airport list), on synthetic flights whose truth the
// generator knows to the millisecond.

#include <gtest/gtest.h>

#include <cmath>
#include <functional>

#include "flights/flight_analyzer.h"
#include "logbook/logbook_store.h"
#include "logbook/runways.h"
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
