#pragma once
// The local time, behind an interface so that tests can choose it.

#include <cstdint>
#include <ctime>

namespace kestrun {

// One reading of the local wall clock.
struct TimeOfDay {
    int hour = 0;    // 0..23
    int minute = 0;  // 0..59
    int second = 0;  // 0..59 (a leap second reads as 59)
};

class Clock {
  public:
    virtual ~Clock() = default;
    // Reads the clock once; hour, minute and second belong to that one instant.
    virtual TimeOfDay LocalTimeOfDay() = 0;
    // Seconds since 1970-01-01 00:00 UTC, now.
    virtual std::int64_t EpochSeconds() = 0;
    // The local date and time of `epoch_seconds`, as strftime takes it.
    virtual std::tm LocalCalendarTime(std::int64_t epoch_seconds) = 0;
};

}  // namespace kestrun
