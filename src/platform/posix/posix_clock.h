#pragma once
// The local time of day from the operating system's wall clock and time zone.

#include "platform/clock.h"

namespace kestrun {

class PosixClock final : public Clock {
  public:
    TimeOfDay LocalTimeOfDay() override;
    std::int64_t EpochSeconds() override;
    std::tm LocalCalendarTime(std::int64_t epoch_seconds) override;
};

}  // namespace kestrun
