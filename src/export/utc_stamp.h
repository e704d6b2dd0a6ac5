#pragma once
// UtcStamp: writes "YYYY-MM-DDTHH:MM:SSZ" for seconds since the epoch, as
// WriteUtcTimestamp does, keeping the date text of the last day it wrote: a
// flight's points share their day for hours, and the calendar arithmetic was
// the larger part of every stamp.

#include <cstddef>
#include <cstdint>
#include <cstring>
#include <limits>

#include "recordfile/civil_date.h"

namespace kestrun {

class UtcStamp {
  public:
    // Returns the end; `out` needs 32 chars.
    char* Write(char* out, std::int64_t epoch_seconds) {
        std::int64_t day = epoch_seconds / kSecondsPerDay;
        if (day * kSecondsPerDay > epoch_seconds) --day;  // rounded down before 1970 too
        if (day != day_) {
            day_ = day;
            length_ = static_cast<std::size_t>(WriteCivilDate(date_, CivilDate{day}) - date_);
        }
        // A fixed-size copy is a couple of moves; `out` has room for it.
        std::memcpy(out, date_, sizeof date_);
        out += length_;
        *out++ = 'T';
        out = WriteTimeOfDay(out, epoch_seconds - day * kSecondsPerDay);
        *out++ = 'Z';
        return out;
    }

  private:
    std::int64_t day_ = std::numeric_limits<std::int64_t>::min();
    char date_[24] = {};
    std::size_t length_ = 0;
};

}  // namespace kestrun
