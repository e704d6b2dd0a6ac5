#include "flights/flight_detector.h"

#include <gtest/gtest.h>

#include "flights/landing_watch.h"
#include "flights/point_from_record.h"
#include "tests/support/synthetic_flight.h"
#include "tests/support/test_files.h"

namespace kestrun {
namespace {

using testing::SyntheticFlight;

// The last flight the detector finds in `f` takes off and lands where `f`
// last did, if it did, and flights never overlap.
void ExpectLastFlight(const char* name, const SyntheticFlight& f, bool complete = true,
                      int touch_and_goes = 0, std::size_t flights = 1) {
    SCOPED_TRACE(name);
    const auto found = testing::Detect(f.points());
    ASSERT_EQ(found.size(), flights);
    EXPECT_EQ(found.back().takeoff, f.takeoff());
    EXPECT_EQ(found.back().landing, f.touchdown());
    EXPECT_EQ(found.back().complete, complete);
    EXPECT_EQ(found.back().touch_and_goes, touch_and_goes);
    for (std::size_t i = 1; i < found.size(); ++i)
        EXPECT_GT(found[i].begin_offset, found[i - 1].end_offset);
}

TEST(FlightDetectorTest, AWholeFlightWithItsTimesPhasesLandingReportAndRestAfter) {
    SyntheticFlight f;
    f.Depart().Arrive();
    const std::int64_t touchdown = *f.touchdown();
    testing::CollectFlights sink;
    FlightDetector detector(sink);
    for (const FlightPoint& p : f.points()) {
        detector.Add(p);
        // Resting before the landing, as in the hold, does not count for stopping.
        EXPECT_TRUE(p.seconds >= touchdown || detector.RestedSinceLanding() == 0) << p.seconds;
    }
    EXPECT_EQ(detector.RestedSinceLanding(), 39);  // 40 records parked
    detector.Finish();
    ExpectLastFlight("whole flight", f);
    ASSERT_EQ(sink.flights.size(), 1u);
    const DetectedFlight& flight = sink.flights[0];
    EXPECT_EQ(flight.off_block, 10 * 3600 + 10 + 60 + 4);  // the hold before the roll
    EXPECT_EQ(flight.on_block, touchdown + 20 + 30 + 1);   // the first second at rest
    EXPECT_EQ(flight.begin_offset, 74u * 80);
    EXPECT_EQ(flight.end_offset, (f.points().size() - 39) * 80);
    EXPECT_NEAR(flight.max_altitude_m, 500, 1e-6);
    EXPECT_NEAR(flight.max_airspeed_kt, 100, 1e-6);
    // About 100 s at 67.5 kt, 300 s at 87.5 and 125 s at 82.5.
    EXPECT_NEAR(flight.distance_m / 1852, (100 * 67.5 + 300 * 87.5 + 125 * 82.5) / 3600, 0.3);
    ASSERT_TRUE(flight.touchdown && flight.touchdown->rate_fpm);
    EXPECT_NEAR(*flight.touchdown->rate_fpm, -3.2 / 0.3048 * 60, 1);
    EXPECT_NEAR(flight.touchdown->airspeed_kt, 65, 1e-6);
    EXPECT_NEAR(flight.touchdown->pitch_deg, 2, 1e-6);
    std::vector<std::string_view> phases;
    for (const PhaseStart& phase : flight.phases) phases.push_back(PhaseName(phase.phase));
    EXPECT_EQ(phases,
              (std::vector<std::string_view>{"taxi out", "takeoff roll", "climb", "cruise",
                                             "descent", "approach", "landing roll", "taxi in"}));
    // The approach begins where the descent passes 1000 ft above the field.
    EXPECT_EQ(flight.phases[5].seconds, touchdown - 125 + 30);
    EXPECT_EQ(flight.phases[6].seconds, touchdown);
}

// Flights that bend the usual day: the last flight found takes off and
// lands where the synthetic flight last did, if it did.
TEST(FlightDetectorTest, TakeoffsLandingsAndEndsOfAwkwardFlights) {
    SyntheticFlight go, valley(10 * 3600, 500), in_air, cut, paused, unseen, junk;
    go.Depart().Fly(125, 65, 100).Fly(6, 60, 100).Fly(60, 75, 500).Fly(120, 90, 500).Arrive();
    ExpectLastFlight("touch and go", go, true, 1);
    // From a field at 500 m down into a valley and back up through the
    // field's level: nothing touched.
    ExpectLastFlight("valley", valley.Depart().Fly(120, 90, 300).Fly(120, 90, 900).Arrive());
    ExpectLastFlight("starts in the air", in_air.Fly(1, 100, 500).Fly(300, 100, 500).Arrive());
    // An airspeed indicator that reads 0 while the aircraft flies on, at
    // the start and in level flight: no field under it, no landing.
    for (std::size_t i = 0; i < 6; ++i)
        in_air.points()[i].airspeed_kt = in_air.points()[150 + i].airspeed_kt = 0;
    ExpectLastFlight("dead airspeed", in_air);
    ExpectLastFlight("cut short", cut.Depart(), false);
    ExpectLastFlight("paused in cruise", paused.Depart().Pause(1800).Fly(200, 100, 500).Arrive());
    // Off in cruise, back on the ground at rest: the landing is not known.
    ExpectLastFlight("landing unseen", unseen.Depart().Pause(1800).Rest(30));
    junk.Depart().Arrive().Blank(30).Fly(60, 12, 100).Rest(20).Fly(40, 8, 100).Rest(10);
    ExpectLastFlight("junk between flights", junk.Depart().Arrive(), true, 0, 2);
    // The clock set back in cruise: a flight's times run forward, so it ends
    // before the step and one that began in the air follows. The timeline
    // marks the step on the first record after it, which may have no position.
    for (const bool blank_first : {false, true}) {
        SCOPED_TRACE(blank_first ? "step on a record without position" : "step back");
        SyntheticFlight back;
        back.Depart().Pause(-1800);
        const std::size_t step = back.points().size();
        if (blank_first) back.Blank(1);
        back.Fly(200, 100, 500).Arrive();
        back.points()[step].new_stretch = true;
        if (blank_first) back.points()[step + 1].new_stretch = false;
        const auto found = testing::Detect(back.points());
        ASSERT_EQ(found.size(), 2u);
        for (const DetectedFlight& f : found) EXPECT_LE(f.first_seconds, f.last_seconds);
        EXPECT_FALSE(found[1].takeoff);
        EXPECT_EQ(found[1].landing, back.touchdown());
    }
}

// The flights in a recording kept beside these tests.
std::vector<DetectedFlight> DetectFile(const std::string& name) {
    std::vector<FlightPoint> points;
    FlightTimeline timeline;
    for (const FlightRecord& r : testing::ReadFlightRecords(KESTRUN_FLIGHTS_DATA "/" + name))
        points.push_back(PointFromRecord(r, timeline.Place(r.Hour, r.Minute, r.Second),
                                         points.size() * kFlightRecordSize));
    EXPECT_FALSE(points.empty()) << name;
    return testing::Detect(points);
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

}  // namespace
}  // namespace kestrun
