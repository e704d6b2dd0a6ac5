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

std::int64_t PosixClock::EpochSeconds() {
    return static_cast<std::int64_t>(std::time(nullptr));
}

std::tm PosixClock::LocalCalendarTime(std::int64_t epoch_seconds) {
    const auto at = static_cast<std::time_t>(epoch_seconds);
    std::tm local{};
    // Out of struct tm's range only centuries away; the epoch stands in.
    if (localtime_r(&at, &local) == nullptr) {
        const std::time_t zero = 0;
        localtime_r(&zero, &local);
    }
    return local;
}

}  // namespace kestrun
