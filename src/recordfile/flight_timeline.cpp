#include "recordfile/flight_timeline.h"

#include "recordfile/civil_date.h"

namespace kestrun {
namespace {

std::int64_t FloorDiv(std::int64_t a, std::int64_t b) {
    const std::int64_t q = a / b;
    return (a % b != 0 && ((a < 0) != (b < 0))) ? q - 1 : q;
}

}  // namespace

void FlightTimeline::PlaceRecords(std::span<const std::byte> records) {
    namespace at = record_offset;
    const std::byte* p = records.data();
    const std::byte* const end = p + records.size();
    while (p != end) {
        std::int64_t last = last_;
        std::int64_t latest = latest_;
        std::uint64_t placed = 0;
        // The step that Place() takes inline, the same test.
        for (; records_ > 0 && p != end; p += kFlightRecordSize, ++placed) {
            const std::int64_t of_day = std::int64_t{LoadI16(p + at::kHour)} * 3600 +
                                        LoadI16(p + at::kMinute) * 60 + LoadI16(p + at::kSecond);
            const std::int64_t t = last_day_start_ + of_day;
            if (t < last || t - last > kGapSeconds || of_day >= kSecondsPerDay) break;
            last = t;
            if (t > latest) latest = t;
        }
        records_ += placed;
        last_ = last;
        latest_ = latest;
        if (p != end) {
            static_cast<void>(PlaceRecord(p));
            p += kFlightRecordSize;
        }
    }
}

TimePlacement FlightTimeline::PlaceByRules(int hour, int minute, int second) {
    const std::int64_t of_day = std::int64_t{hour} * 3600 + minute * 60 + second;
    TimePlacement placement;
    if (records_++ == 0) {
        first_ = last_ = latest_ = of_day;
        last_day_start_ = 0;
        placement.seconds = of_day;
        placement.new_stretch = true;
        return placement;
    }

    // The same day as the previous record, unless shown otherwise below.
    std::int64_t t = last_day_start_ + of_day;
    bool backwards = false;
    if (t < last_) {
        const bool mend_minute = second == 0 && t + 60 >= last_ && t + 60 <= last_ + kGapSeconds;
        const bool mend_hour =
            minute == 0 && second == 0 && t + 3600 >= last_ && t + 3600 <= last_ + kGapSeconds;
        if (mend_minute || mend_hour) {
            t += mend_minute ? 60 : 3600;
            ++mended_stamps_;
        } else if (last_ - t > kSecondsPerDay / 2) {
            t += kSecondsPerDay;
        } else {
            backwards = true;
            ++backward_steps_;
        }
    }

    const std::int64_t step = t - last_;
    if (step > kGapSeconds) {
        ++gaps_;
        if (step > longest_gap_) longest_gap_ = step;
        if (kept_gaps_.size() < kKeptGaps) kept_gaps_.push_back({last_, t});
    }
    placement.seconds = t;
    placement.new_stretch = backwards || step > kGapSeconds;
    last_ = t;
    if (t > latest_) latest_ = t;
    if (t - last_day_start_ >= kSecondsPerDay) {
        last_day_start_ = FloorDiv(t, kSecondsPerDay) * kSecondsPerDay;
    }
    return placement;
}

}  // namespace kestrun
