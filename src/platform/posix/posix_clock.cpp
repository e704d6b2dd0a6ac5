#include "platform/posix/posix_clock.h"

#include <algorithm>
#include <ctime>

namespace kestrun {

TimeOfDay PosixClock::LocalTimeOfDay() {
    const std::time_t now = std::time(nullptr);
    std::tm local{};
    if (localtime_r(&now, &local) == nullptr) {
        // Only a time beyond the year range of struct tm fails here; midnight
        // is a harmless stand-in for a reading that cannot happen in practice.
        return TimeOfDay{};
    }
    // A leap second reads as 60; records hold 0..59.
    return TimeOfDay{local.tm_hour, local.tm_min, std::min(local.tm_sec, 59)};
}

}  // namespace kestrun
