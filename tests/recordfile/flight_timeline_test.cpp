#include "recordfile/flight_timeline.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <ctime>

#include "recordfile/first_date.h"

namespace kestrun {
namespace {

constexpr std::int64_t kDay = 86400;

struct Step {
    int h, m, s;
    std::int64_t seconds = 0;  // where the stamp is placed
    bool new_stretch = false;
};

TEST(FlightTimelineTest, PlacesStampsAcrossMidnightGapsTornReadingsAndStepsBack) {
    // One story to a paragraph, its counts first.
    // clang-format off
    const struct {
        const char* name;
        std::uint64_t gaps, mended, backward;
        std::vector<Step> steps;
    } stories[] = {
        {"midnight, and a skipped second that is no gap before one that is", 1, 0, 0,
         {{23, 59, 58, kDay - 2, true}, {23, 59, 59, kDay - 1, false}, {0, 0, 1, kDay + 1, false},
          {0, 0, 30, kDay + 30, true}, {0, 0, 31, kDay + 31, false}}},
        {"hour and minute read before they turned", 1, 2, 0,
         {{10, 59, 59, 39599, true}, {10, 0, 0, 39600, false}, {11, 0, 1, 39601, false},
          {11, 5, 59, 39959, true}, {11, 5, 0, 39960, false}, {11, 6, 1, 39961, false}}},
        {"a torn stamp at midnight", 0, 1, 0,
         {{23, 59, 59, kDay - 1, true}, {23, 0, 0, kDay, false}, {0, 0, 1, kDay + 1, false}}},
        {"a clock set back, or another recording: the same day", 0, 0, 1,
         {{12, 0, 0, 43200, true}, {11, 30, 0, 41400, true}, {11, 30, 1, 41401, false}}},
    };
    // clang-format on
    for (const auto& story : stories) {
        SCOPED_TRACE(story.name);
        FlightTimeline timeline;
        for (const Step& step : story.steps) {
            SCOPED_TRACE(::testing::Message() << step.h << ":" << step.m << ":" << step.s);
            const TimePlacement placed = timeline.Place(step.h, step.m, step.s);
            EXPECT_EQ(placed.seconds, step.seconds);
            EXPECT_EQ(placed.new_stretch, step.new_stretch);
        }
        EXPECT_EQ(timeline.gaps(), story.gaps);
        EXPECT_EQ(timeline.mended_stamps(), story.mended);
        EXPECT_EQ(timeline.backward_steps(), story.backward);
    }
}

TEST(FlightTimelineTest, FirstDateFromModificationTimeCountsMidnightsBack) {
    ::setenv("TZ", "UTC", 1);
    ::tzset();
    const CivilDate day = CivilDate::FromYmd(2024, 3, 1);
    const struct {
        std::vector<Step> stamps;  // only the times count here
        std::int64_t modified;     // seconds after midnight of `day`
        int days_back;
    } cases[] = {
        {{{9, 0, 0}, {9, 30, 0}}, 9 * 3600 + 1801, 0},
        {{{23, 0, 0}, {23, 59, 59}}, 1, 1},  // closed just after midnight
        {{{22, 0, 0}, {2, 0, 0}}, 2 * 3600, 1},
        {{}, 5, 0},
    };
    for (const auto& c : cases) {
        FlightTimeline timeline;
        for (const Step& s : c.stamps) static_cast<void>(timeline.Place(s.h, s.m, s.s));
        EXPECT_EQ(FirstDateFromModification(day.days * kDay + c.modified, timeline),
                  day.Plus(-c.days_back))
            << c.modified;
    }
}

}  // namespace
}  // namespace kestrun
