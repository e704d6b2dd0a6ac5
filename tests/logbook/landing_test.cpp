// Landings, takeoffs and approaches judged against real runways (an excerpt
// of FlightGear's airport list), on synthetic flights whose truth the
// generator knows to the millisecond.

#include <gtest/gtest.h>

#include <cmath>

#include "flights/flight_analyzer.h"
#include "logbook/logbook_store.h"
#include "logbook/runways.h"
#include "recordfile/track_length.h"
#include "tests/support/runway_scenarios.h"
#include "tests/support/synthetic_flight.h"
#include "tests/support/test_files.h"

namespace kestrun {
namespace {

using namespace testing;

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
        const std::optional<Runway> found = FindRunway(runways_, near, ident, end);
        if (!found) ADD_FAILURE() << "no runway " << ident;
        return found.value_or(Runway{});
    }
    std::vector<DetectedFlight> Analyse(const std::vector<FlightPoint>& points,
                                        const EventLimits& limits = {}) {
        testing::CollectFlights sink;
        FlightAnalyzer analyzer(sink, &runways_, limits);
        for (const FlightPoint& p : points) analyzer.Add(p);
        analyzer.Finish();
        return sink.flights;
    }

    testing::ScratchDir dir_;
    Database db_;
    LogbookRunways runways_{db_};
};

TEST_F(LandingTest, EveryTouchdownOnItsRunwayAtItsPointRateAndCrab) {
    for (const StraightIn& c : StraightIns()) {
        SCOPED_TRACE(c.name);
        int end = 0;
        const Runway runway = Find(c.airport, c.runway, end);
        const SyntheticFlight f = FlyStraightIn(c, runway, end);
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

// From 7 km out on KSFO 28R: a go-around at 200 ft, a low pass, a
// touch-and-go and the landing, each after a right-hand circuit (the first
// banked 50 degrees). The flight began in the air, so the detector alone
// knows no field to count touch-and-goes at.
TEST_F(LandingTest, GoAroundsLowPassesAndTouchAndGoesAtAnyAirport) {
    int end = 0;
    const Runway runway = Find(kSanFrancisco, "28R", end);
    Circuits truth;
    const SyntheticFlight f = FlyCircuits(runway, end, truth);
    const auto flights = Analyse(f.points());
    ASSERT_EQ(flights.size(), 1u);
    const FlightJudgement& j = flights[0].judgement;
    ASSERT_EQ(j.go_arounds.size(), 2u);
    EXPECT_NEAR(j.go_arounds[0].lowest_ft_agl, truth.go_around_m / kFt, 20);
    EXPECT_NEAR(j.go_arounds[1].lowest_ft_agl, truth.low_pass_m / kFt, 20);
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
    SyntheticFlight f(runway, end, *runway.airport_elevation_m, -runway.ends[end].displaced_m + 20, 0,
                   0, 0, 0);
    f.Steer(10, 0, 0).Steer(20, 60, 0).Steer(3, 65, 700).Attitude(12, 0).Steer(60, 70, 700);
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
    const auto strict = Analyse(f.points(), limits);
    ASSERT_EQ(strict.size(), 1u);
    ASSERT_EQ(strict[0].judgement.events.size(), 1u);
    EXPECT_EQ(strict[0].judgement.events[0].kind, "pitch up");
    EXPECT_EQ(strict[0].judgement.events[0].peak, 12);
}

}  // namespace
}  // namespace kestrun
