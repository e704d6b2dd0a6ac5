#pragma once
// A clock showing a chosen time of day that moves on by a chosen step at
// every reading, so a test can put a change of hour between two readings.

#include "platform/clock.h"

namespace kestrun::testing {

class FakeClock final : public Clock {
  public:
    TimeOfDay now{12, 0, 0};
    int seconds_per_reading = 0;
    int readings = 0;

    TimeOfDay LocalTimeOfDay() override {
        ++readings;
        const TimeOfDay reading = now;
        int total = (now.hour * 3600 + now.minute * 60 + now.second + seconds_per_reading) % 86400;
        now = TimeOfDay{total / 3600, total / 60 % 60, total % 60};
        return reading;
    }
};

}  // namespace kestrun::testing
