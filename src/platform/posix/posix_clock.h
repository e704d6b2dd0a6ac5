#pragma once
// The local time of day from the operating system's wall clock and time zone.

#include "platform/clock.h"

namespace kestrun {

class PosixClock final : public Clock {
  public:
    TimeOfDay LocalTimeOfDay() override;
};

}  // namespace kestrun
