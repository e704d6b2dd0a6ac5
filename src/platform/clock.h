#pragma once
// The local time of day, behind an interface so that tests can choose it.

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
};

}  // namespace kestrun
