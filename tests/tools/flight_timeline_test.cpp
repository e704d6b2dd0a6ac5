#include "tools/flight_timeline.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <ctime>

#include "tools/export_run.h"

namespace kestrun {
namespace {

struct Step {
    int h, m, s;
    std::int64_t seconds;
    bool new_stretch;
};

void ExpectPlaced(FlightTimeline& timeline, const std::vector<Step>& steps) {
    for (const Step& step : steps) {
        SCOPED_TRACE(testing::Message() << step.h << ":" << step.m << ":" << step.s);
        const TimePlacement placed = timeline.Place(step.h, step.m, step.s);
        EXPECT_EQ(placed.seconds, step.seconds);
        EXPECT_EQ(placed.new_stretch, step.new_stretch);
    }
}

constexpr std::int64_t kDay = 86400;

TEST(FlightTimelineTest, MidnightMovesToTheNextDayAndGapsBreakTheStretch) {
    FlightTimeline timeline;
    ExpectPlaced(timeline, {{23, 59, 58, kDay - 2, true},
                            {23, 59, 59, kDay - 1, false},
                            {0, 0, 1, kDay + 1, false},  // a skipped second is no gap
                            {0, 0, 30, kDay + 30, true},
                            {0, 0, 31, kDay + 31, false}});
    EXPECT_EQ(timeline.gaps(), 1u);
    EXPECT_EQ(timeline.longest_gap(), 29);
    EXPECT_EQ(timeline.backward_steps(), 0u);
}

TEST(FlightTimelineTest, TornStampsAreMendedAlsoAtMidnight) {
    FlightTimeline timeline;
    ExpectPlaced(timeline, {{10, 59, 59, 39599, true},
                            {10, 0, 0, 39600, false},  // hour read before it turned
                            {11, 0, 1, 39601, false},
                            {11, 5, 59, 39959, true},
                            {11, 5, 0, 39960, false},  // minute read before it turned
                            {11, 6, 1, 39961, false}});
    EXPECT_EQ(timeline.mended_stamps(), 2u);

    FlightTimeline night;
    ExpectPlaced(night, {{23, 59, 59, kDay - 1, true},
                         {23, 0, 0, kDay, false},
                         {0, 0, 1, kDay + 1, false},
                         {0, 0, 2, kDay + 2, false}});
    EXPECT_EQ(night.last_seconds() / kDay, 1);
}

TEST(FlightTimelineTest, StepsBackwardsStayOnTheSameDay) {
    FlightTimeline timeline;
    ExpectPlaced(timeline, {{12, 0, 0, 43200, true},
                            {11, 30, 0, 41400, true},  // a clock set back, or another recording
                            {11, 30, 1, 41401, false}});
    EXPECT_EQ(timeline.backward_steps(), 1u);
    EXPECT_EQ(timeline.mended_stamps(), 0u);
}

TEST(FlightTimelineTest, FirstDateFromModificationTimeCountsMidnightsBack) {
    ::setenv("TZ", "UTC", 1);
    ::tzset();
    const CivilDate day = CivilDate::FromYmd(2024, 3, 1);
    const std::int64_t midnight = day.days * kDay;

    FlightTimeline same_day;
    static_cast<void>(same_day.Place(9, 0, 0));
    static_cast<void>(same_day.Place(9, 30, 0));
    EXPECT_EQ(FirstDateFromModification(midnight + 9 * 3600 + 1801, same_day), day);

    // Closed just after midnight: the last record is from the day before.
    FlightTimeline closed_late;
    static_cast<void>(closed_late.Place(23, 0, 0));
    static_cast<void>(closed_late.Place(23, 59, 59));
    EXPECT_EQ(FirstDateFromModification(midnight + 1, closed_late), day.Plus(-1));

    FlightTimeline overnight;
    static_cast<void>(overnight.Place(22, 0, 0));
    static_cast<void>(overnight.Place(2, 0, 0));
    EXPECT_EQ(FirstDateFromModification(midnight + 2 * 3600, overnight), day.Plus(-1));

    FlightTimeline empty;
    EXPECT_EQ(FirstDateFromModification(midnight + 5, empty), day);
}

}  // namespace
}  // namespace kestrun
