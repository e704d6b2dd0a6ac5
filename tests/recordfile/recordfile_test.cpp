#include <gtest/gtest.h>

#include <cstdlib>
#include <ctime>

#include "recordfile/first_date.h"
#include "recordfile/flight_timeline.h"
#include "recordfile/record_scanner.h"
#include "tests/support/test_files.h"

namespace kestrun {
namespace {

using namespace std::string_literals;

using Collect = testing::CollectRecords;

ScanCounts Scan(const std::string& bytes, Collect& sink) {
    return ScanBytes({reinterpret_cast<const std::byte*>(bytes.data()), bytes.size()}, sink);
}

std::string Bytes(const FlightRecord& record) {
    std::string bytes;
    testing::AppendRecord(bytes, record);
    return bytes;
}

FlightRecord Numbered(int second) {
    return testing::MakeRecord({.h = 12, .s = second, .lat = 10.0 + second, .lon = 20});
}

// Whatever the scanner passes over, its counts account for every byte; the
// fuzz target checks that on damaged files of every shape, and that scanning
// in pieces finds what one scan finds.
TEST(RecordScannerTest, FindsRecordsAmongJunkAndDamage) {
    // Latitude, heading and IAS spell a header inside the data: 08 00 00 00 01 00 00 00.
    FlightRecord lookalike = Numbered(0);
    lookalike.Latitude = 0x0000000100000008;
    lookalike.Heading = 8;
    lookalike.IAS = 1;
    FlightRecord bad_time = Numbered(4);  // in step with its neighbours
    bad_time.Hour = 25;
    const std::string junk = "old contents\x08\x00\x00\x00\x01"s;  // ends like a cut-off header

    std::string bytes = junk + Bytes(lookalike) + Bytes(Numbered(1)) + std::string(37, '\x08');
    // An append after a crash: half a record, and the new records right after it.
    bytes += Bytes(Numbered(2)).substr(0, 50) + Bytes(Numbered(3)) + Bytes(bad_time);
    bytes += Bytes(Numbered(5)) + "trailing" + Bytes(Numbered(6)).substr(0, 50);

    Collect sink;
    const ScanCounts c = Scan(bytes, sink);
    const std::uint64_t at = junk.size();
    EXPECT_EQ(sink.seconds, (std::vector<int>{0, 1, 3, 5}));
    EXPECT_EQ(sink.offsets, (std::vector<std::uint64_t>{at, at + 80, at + 247, at + 407}));
    // Records back to back go over as one run, read where they lie.
    using Run = std::pair<std::uint64_t, std::size_t>;
    EXPECT_EQ(sink.runs, (std::vector<Run>{{at, 160}, {at + 247, 80}, {at + 407, 80}}));
    EXPECT_EQ(c.skipped_bytes, junk.size() + 37 + 8);
    EXPECT_EQ(c.damaged_records, 2u);
    EXPECT_EQ(c.damaged_bytes, 50u + 80u);
    EXPECT_EQ(c.truncated_bytes, 50u);
}

TEST(RecordScannerTest, TinyInputs) {
    const std::string record = Bytes(Numbered(0));
    for (const std::size_t length : {0u, 1u, 7u, 8u, 79u, 80u}) {
        SCOPED_TRACE(length);
        Collect sink;
        const ScanCounts c = Scan(record.substr(0, length), sink);
        EXPECT_EQ(sink.offsets.size(), length == 80 ? 1u : 0u);
        // Half a record is reported from its full header on; less is junk.
        EXPECT_EQ(c.truncated_bytes, length >= 8 && length < 80 ? length : 0u);
        EXPECT_EQ(c.skipped_bytes, length < 8 ? length : 0u);
    }
}

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
