// The playback engine: interpolation inside a stretch, holding across what
// was not recorded, clock times in the file, and the replay clock.

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "playback/flight_track.h"
#include "playback/playback_clock.h"

namespace kestrun {
namespace {

struct Fix {
    const char* stamp;  // "HH:MM:SS"
    double lat, lon, alt, bank, heading;
    bool has_position = true;
};

FlightTrack Track(const std::vector<Fix>& fixes) {
    FlightTrack track;
    FlightTimeline timeline;
    for (const Fix& f : fixes) {
        const std::string s = f.stamp;
        FlightSample sample;
        sample.has_position = f.has_position;
        sample.latitude_deg = f.lat;
        sample.longitude_deg = f.lon;
        sample.altitude_m = f.alt;
        sample.bank_deg = f.bank;
        sample.heading_deg = f.heading;
        track.Add(sample, timeline.Place(std::stoi(s.substr(0, 2)), std::stoi(s.substr(3, 2)),
                                         std::stoi(s.substr(6, 2))));
    }
    return track;
}

TEST(FlightTrackTest, InterpolatesTheShortWayRoundInsideAStretch) {
    const FlightTrack track =
        Track({{"10:00:00", 10, 179.9, 100, 170, 350}, {"10:00:02", 12, -179.9, 300, -170, 10}});
    ASSERT_EQ(track.end() - track.begin(), 2);
    const PlaybackState mid = track.At(1);
    EXPECT_DOUBLE_EQ(mid.sample.latitude_deg, 11);
    EXPECT_NEAR(mid.sample.longitude_deg, -180, 1e-9);
    EXPECT_DOUBLE_EQ(mid.sample.altitude_m, 200);
    EXPECT_NEAR(mid.sample.bank_deg, -180, 1e-9);
    EXPECT_NEAR(mid.sample.heading_deg, 0, 1e-9);
    EXPECT_DOUBLE_EQ(mid.vertical_speed_mps, 100);
    EXPECT_DOUBLE_EQ(mid.clock_seconds, 36001);
    const PlaybackState quarter = track.At(0.5);
    EXPECT_NEAR(quarter.sample.heading_deg, 355, 1e-9);
    EXPECT_NEAR(quarter.sample.longitude_deg, 179.95, 1e-9);
    // Outside the flight the ends hold.
    EXPECT_DOUBLE_EQ(track.At(-5).sample.latitude_deg, 10);
    EXPECT_DOUBLE_EQ(track.At(99).sample.latitude_deg, 12);
}

TEST(FlightTrackTest, HoldsAcrossWhatWasNotRecordedThenJumps) {
    // Seconds 0-1 a stretch; a record without position; a 10 s gap; across
    // midnight without a gap; a step backwards of an appended file.
    const FlightTrack track = Track({{"23:59:40", 1, 1, 100, 0, 0},
                                     {"23:59:41", 2, 2, 200, 0, 0},
                                     {"23:59:42", 0, 0, 0, 0, 0, false},
                                     {"23:59:43", 4, 4, 400, 0, 0},
                                     {"23:59:53", 5, 5, 500, 0, 0},
                                     {"00:00:03", 6, 6, 600, 0, 0},
                                     {"00:00:04", 7, 7, 700, 0, 0},
                                     {"00:00:01", 8, 8, 800, 0, 0}});
    struct Case {
        double t, lat, vs;
    };
    for (const Case& c : std::vector<Case>{{0.5, 1.5, 100},
                                           {2.5, 2, 0},       // no position: hold
                                           {3, 4, 0},         // then jump
                                           {8, 4, 0},         // a gap holds
                                           {13, 5, 0},        // a gap of 10 s is not bridged
                                           {23.5, 6.5, 100},  // midnight is
                                           {24.5, 7, 0},      // a step back lasts a second
                                           {25, 8, 0}}) {
        const PlaybackState state = track.At(c.t);
        EXPECT_DOUBLE_EQ(state.sample.latitude_deg, c.lat) << c.t;
        EXPECT_DOUBLE_EQ(state.vertical_speed_mps, c.vs) << c.t;
    }
    EXPECT_DOUBLE_EQ(track.At(8).clock_seconds, 86388);  // 23:59:48 inside the gap
}

TEST(FlightTrackTest, FindsClockTimesAcrossMidnightAndGaps) {
    const FlightTrack track = Track({{"23:59:58", 1, 1, 0, 0, 0},
                                     {"23:59:59", 1, 1, 0, 0, 0},
                                     {"00:00:00", 1, 1, 0, 0, 0},
                                     {"00:00:30", 1, 1, 0, 0, 0},
                                     {"00:00:31", 1, 1, 0, 0, 0}});
    EXPECT_EQ(track.FindClockTime(86398, 0), 0);
    EXPECT_EQ(track.FindClockTime(0, 0), 2);
    EXPECT_EQ(track.FindClockTime(10, 0), 12);  // inside the gap
    EXPECT_EQ(track.FindClockTime(31, 5), 33);
    EXPECT_EQ(track.FindClockTime(86399, 2), std::nullopt);  // passed already
    EXPECT_EQ(track.FindClockTime(12 * 3600, 0), std::nullopt);
}

TEST(PlaybackClockTest, SpeedPauseSeekEndAndLoop) {
    PlaybackClock clock(100, 110, 2, false, 0);
    EXPECT_DOUBLE_EQ(clock.At(1), 102);
    clock.SetPaused(true, 1);
    EXPECT_DOUBLE_EQ(clock.At(50), 102);
    clock.Seek(-10, 50);  // kept inside the flight
    EXPECT_DOUBLE_EQ(clock.At(50), 100);
    clock.SetPaused(false, 50);
    clock.SetSpeed(1000, 50);  // clamped to the fastest
    EXPECT_EQ(clock.speed(), PlaybackClock::kMaxSpeed);
    EXPECT_DOUBLE_EQ(clock.At(50.125), 108);
    EXPECT_FALSE(clock.finished());
    EXPECT_DOUBLE_EQ(clock.At(60), 110);
    EXPECT_TRUE(clock.finished());

    PlaybackClock loop(100, 110, 1, true, 0);
    EXPECT_DOUBLE_EQ(loop.At(23), 103);
    EXPECT_FALSE(loop.finished());
    PlaybackClock single(5, 5, 1, true, 0);  // one record loops on itself
    EXPECT_DOUBLE_EQ(single.At(3), 5);
}

}  // namespace
}  // namespace kestrun
