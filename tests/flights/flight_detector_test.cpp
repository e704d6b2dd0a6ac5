#include "flights/flight_detector.h"

#include <gtest/gtest.h>

#include "flights/landing_watch.h"
#include "tests/flights/synthetic_flight.h"
#include "tests/support/test_files.h"

namespace kestrun {
namespace {

using testing::Detect;
using testing::SyntheticFlight;

std::vector<std::string_view> PhaseNames(const DetectedFlight& flight) {
    std::vector<std::string_view> names;
    for (const PhaseStart& phase : flight.phases) names.push_back(PhaseName(phase.phase));
    return names;
}

TEST(FlightDetectorTest, AWholeFlightWithItsTimesPhasesAndLandingReport) {
    SyntheticFlight f;
    const std::int64_t takeoff = f.Depart();
    const std::int64_t touchdown = f.Arrive();
    const auto flights = Detect(f.points());
    ASSERT_EQ(flights.size(), 1u);
    const DetectedFlight& flight = flights[0];
    EXPECT_TRUE(flight.complete);
    EXPECT_EQ(flight.off_block, 10 * 3600 + 10 + 60 + 4);  // the hold before the roll
    EXPECT_EQ(flight.takeoff, takeoff);
    EXPECT_EQ(flight.landing, touchdown);
    EXPECT_EQ(flight.on_block, touchdown + 20 + 30 + 1);  // the first second at rest
    EXPECT_EQ(flight.begin_offset, 74u * 80);
    EXPECT_EQ(flight.end_offset, (f.points().size() - 39) * 80);
    EXPECT_EQ(flight.touch_and_goes, 0);
    EXPECT_NEAR(flight.max_altitude_m, 500, 1e-6);
    EXPECT_NEAR(flight.max_airspeed_kt, 100, 1e-6);
    // About 100 s at 67.5 kt, 300 s at 87.5 and 125 s at 82.5.
    EXPECT_NEAR(flight.distance_m / 1852, (100 * 67.5 + 300 * 87.5 + 125 * 82.5) / 3600, 0.3);
    ASSERT_TRUE(flight.touchdown && flight.touchdown->rate_fpm);
    EXPECT_NEAR(*flight.touchdown->rate_fpm, -3.2 / 0.3048 * 60, 1);
    EXPECT_NEAR(flight.touchdown->airspeed_kt, 65, 1e-6);
    EXPECT_NEAR(flight.touchdown->pitch_deg, 2, 1e-6);
    EXPECT_EQ(PhaseNames(flight),
              (std::vector<std::string_view>{"taxi out", "takeoff roll", "climb", "cruise",
                                             "descent", "approach", "landing roll", "taxi in"}));
    // The approach begins where the descent passes 1000 ft above the field.
    EXPECT_EQ(flight.phases[5].seconds, touchdown - 125 + 30);
    EXPECT_EQ(flight.phases[6].seconds, touchdown);
}

TEST(FlightDetectorTest, TouchAndGoesStayInOneFlight) {
    SyntheticFlight f;
    f.Depart();
    f.Fly(125, 65, 100).Fly(6, 60, 100).Fly(60, 75, 500).Fly(120, 90, 500);
    f.Arrive();
    auto flights = Detect(f.points());
    ASSERT_EQ(flights.size(), 1u);
    EXPECT_EQ(flights[0].touch_and_goes, 1);
    EXPECT_TRUE(flights[0].landing);

    // From a field at 500 m down into a valley and back up through the
    // field's level: nothing touched.
    SyntheticFlight valley(10 * 3600, 500);
    valley.Depart();
    valley.Fly(120, 90, 300).Fly(120, 90, 900);
    valley.Arrive();
    flights = Detect(valley.points());
    ASSERT_EQ(flights.size(), 1u);
    EXPECT_EQ(flights[0].touch_and_goes, 0);
}

TEST(FlightDetectorTest, RecordingsThatStartOrEndInTheAirSaySo) {
    SyntheticFlight in_air;
    in_air.Fly(1, 100, 500).Fly(300, 100, 500);
    const std::int64_t touchdown = in_air.Arrive();
    auto flights = Detect(in_air.points());
    ASSERT_EQ(flights.size(), 1u);
    EXPECT_FALSE(flights[0].takeoff || flights[0].off_block);
    EXPECT_EQ(flights[0].landing, touchdown);
    EXPECT_TRUE(flights[0].complete);

    // An airspeed indicator that reads 0 while the aircraft flies on, at
    // the start and in level flight: no field under it, no landing.
    auto dead = in_air.points();
    for (std::size_t i = 0; i < 6; ++i) dead[i].airspeed_kt = dead[150 + i].airspeed_kt = 0;
    flights = Detect(dead);
    ASSERT_EQ(flights.size(), 1u);
    EXPECT_FALSE(flights[0].takeoff);
    EXPECT_EQ(flights[0].landing, touchdown);

    SyntheticFlight cut_short;
    cut_short.Depart();
    flights = Detect(cut_short.points());
    ASSERT_EQ(flights.size(), 1u);
    EXPECT_TRUE(flights[0].takeoff);
    EXPECT_FALSE(flights[0].landing);
    EXPECT_FALSE(flights[0].complete);
}

// The flights in a recording kept beside these tests.
std::vector<DetectedFlight> DetectFile(const std::string& name) {
    std::vector<FlightPoint> points;
    FlightTimeline timeline;
    for (const FlightRecord& r : testing::ReadFlightRecords(KESTRUN_FLIGHTS_DATA "/" + name)) {
        points.push_back(PointFromRecord(r, timeline.Place(r.Hour, r.Minute, r.Second),
                                         points.size() * kFlightRecordSize));
    }
    EXPECT_FALSE(points.empty()) << name;
    return Detect(points);
}

// Recordings of a real FlightGear through kestrun-host --flightgear, cut
// short. Started in the air over San Francisco Bay: FlightGear held the
// aircraft still with its airspeed at 0 for the first 28 s while it loaded,
// then flew it, pitching and rolling on its own, through the level where it
// had stood. Started parked on a runway: the simulator's own noise.
TEST(FlightDetectorTest, RealFlightGearRecordings) {
    const auto in_air = DetectFile("flightgear-in-air.dat");
    ASSERT_EQ(in_air.size(), 1u);
    EXPECT_EQ(in_air[0].begin_offset, 28u * kFlightRecordSize);  // the first that moved
    EXPECT_FALSE(in_air[0].takeoff || in_air[0].off_block || in_air[0].landing);
    EXPECT_EQ(in_air[0].touch_and_goes, 0);
    EXPECT_FALSE(in_air[0].complete);

    EXPECT_TRUE(DetectFile("flightgear-parked.dat").empty());
}

TEST(FlightDetectorTest, APauseIsNoLandingButLandingUnseenEndsTheFlight) {
    SyntheticFlight paused;
    paused.Depart();
    paused.Pause(1800).Fly(200, 100, 500);
    paused.Arrive();
    auto flights = Detect(paused.points());
    ASSERT_EQ(flights.size(), 1u);
    EXPECT_TRUE(flights[0].takeoff && flights[0].landing);

    // Off in cruise, back on the ground at rest: the landing is not known.
    SyntheticFlight unseen;
    unseen.Depart();
    unseen.Pause(1800).Rest(30);
    flights = Detect(unseen.points());
    ASSERT_EQ(flights.size(), 1u);
    EXPECT_TRUE(flights[0].takeoff);
    EXPECT_FALSE(flights[0].landing);
    EXPECT_TRUE(flights[0].complete);
}

TEST(FlightDetectorTest, JunkAndTaxiingBetweenFlightsMakeNoFlight) {
    SyntheticFlight f;
    f.Depart();
    f.Arrive();
    f.Blank(30).Fly(60, 12, 100).Rest(20).Fly(40, 8, 100).Rest(10);
    const std::int64_t second_takeoff = f.Depart();
    f.Arrive();
    const auto flights = Detect(f.points());
    ASSERT_EQ(flights.size(), 2u);
    EXPECT_EQ(flights[1].takeoff, second_takeoff);
    EXPECT_GT(flights[1].begin_offset, flights[0].end_offset);
}

TEST(FlightDetectorTest, RestAfterLandingIsCountedForStoppingTheRecorder) {
    struct Ignore final : FlightSink {
        void OnFlight(const DetectedFlight&) override {}
    } sink;
    FlightDetector detector(sink);
    SyntheticFlight f;
    f.Depart();
    f.Arrive(31);
    for (const FlightPoint& p : f.points()) {
        detector.Add(p);
        // Resting before the takeoff does not count.
        if (p.seconds < 10 * 3600 + 80) {
            EXPECT_EQ(detector.RestedSinceLanding(), 0);
        }
    }
    EXPECT_EQ(detector.RestedSinceLanding(), 30);
}

}  // namespace
}  // namespace kestrun
