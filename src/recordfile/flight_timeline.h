#pragma once
// FlightTimeline: turns the time of day in each record into a running time
// across the whole file, so that a flight past midnight keeps going forward
// and breaks in the recording can be seen.
//
// Rules, in the order they are tried when a record's time of day is earlier
// than the previous record's:
//  - A torn stamp is mended. The recorder reads hour, minute and second from
//    three separate readings of the clock, so a record written as the minute
//    (or hour) turns can carry the old minute (hour) with the new second:
//    10:59:59 is followed by 10:00:00 instead of 11:00:00. When adding a minute
//    (an hour) to a stamp ending in :00 (:00:00) puts it just after the
//    previous record, that is taken as its time.
//  - A step back of more than twelve hours is midnight: the record belongs to
//    the next day.
//  - Anything else is a step backwards (a clock change, an appended file): the
//    running time goes back with it and a new stretch begins.
// A step forward of more than kGapSeconds is a gap and also begins a new
// stretch.

#include <cstdint>
#include <span>
#include <vector>

#include "record/flight_record.h"
#include "recordfile/civil_date.h"

namespace kestrun {

inline constexpr std::int64_t kGapSeconds = 5;

struct TimelineGap {
    std::int64_t from = 0;  // running seconds of the record before the gap
    std::int64_t to = 0;    // running seconds of the record after it
};

struct TimePlacement {
    // Seconds since local midnight at the start of the first record's day;
    // the day of a record is seconds / 86400 (floored) after the first date.
    std::int64_t seconds = 0;
    // True for the first record and after every gap or step backwards.
    bool new_stretch = false;
};

class FlightTimeline {
  public:
    static constexpr std::size_t kKeptGaps = 20;

    // Places the next record; the fields must be a plausible time of day.
    TimePlacement Place(int hour, int minute, int second) {
        const std::int64_t of_day = std::int64_t{hour} * 3600 + minute * 60 + second;
        // Nearly every record follows the one before within the same day and
        // without a gap: that case is taken here, inline, and is exactly what
        // the rules below give it (no mend, no midnight, no new stretch).
        const std::int64_t t = last_day_start_ + of_day;
        if (records_ > 0 && t >= last_ && t - last_ <= kGapSeconds && of_day < kSecondsPerDay) {
            ++records_;
            last_ = t;
            if (t > latest_) latest_ = t;
            return TimePlacement{t, false};
        }
        return PlaceByRules(hour, minute, second);
    }
    // The same for a record as its 80 bytes in the file.
    TimePlacement PlaceRecord(const std::byte* record) {
        namespace at = record_offset;
        return Place(LoadI16(record + at::kHour), LoadI16(record + at::kMinute),
                     LoadI16(record + at::kSecond));
    }
    // Places every record of `records` (80 bytes each, as in the file), for a
    // pass that only needs the running time: the common step runs with the
    // timeline's state held in registers.
    void PlaceRecords(std::span<const std::byte> records);

    std::uint64_t records() const { return records_; }
    std::int64_t first_seconds() const { return first_; }
    std::int64_t last_seconds() const { return last_; }
    // The greatest running time placed: after a step backwards it is not the
    // last record's. Never negative.
    std::int64_t latest_seconds() const { return latest_; }
    std::uint64_t gaps() const { return gaps_; }
    std::int64_t longest_gap() const { return longest_gap_; }
    // The first kKeptGaps gaps, so memory stays bounded on any file.
    const std::vector<TimelineGap>& kept_gaps() const { return kept_gaps_; }
    std::uint64_t backward_steps() const { return backward_steps_; }
    std::uint64_t mended_stamps() const { return mended_stamps_; }

  private:
    TimePlacement PlaceByRules(int hour, int minute, int second);

    std::uint64_t records_ = 0;
    std::int64_t first_ = 0;
    std::int64_t last_ = 0;
    std::int64_t latest_ = 0;
    std::int64_t last_day_start_ = 0;  // running seconds of the midnight before last_
    std::uint64_t gaps_ = 0;
    std::int64_t longest_gap_ = 0;
    std::vector<TimelineGap> kept_gaps_;
    std::uint64_t backward_steps_ = 0;
    std::uint64_t mended_stamps_ = 0;
};

}  // namespace kestrun
