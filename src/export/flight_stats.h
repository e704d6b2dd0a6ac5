#pragma once
// FlightStats: the figures of one flight that the summary and the picture
// show, gathered record by record in constant memory.

#include <cstdint>
#include <string>

#include "export/flight_format.h"
#include "protocol/host_units.h"
#include "recordfile/track_length.h"

namespace kestrun {

class FlightStats {
  public:
    void Add(const TimedRecord& record);

    std::uint64_t records() const { return records_; }
    std::uint64_t positions() const { return positions_; }
    // Running seconds (see FlightTimeline) of the earliest and latest record.
    std::int64_t earliest() const { return earliest_; }
    std::int64_t latest() const { return latest_; }
    // Along the positions in file order, straight across gaps.
    double distance_m() const { return track_.metres(); }
    // Only meaningful when positions() > 0.
    double highest_m() const;
    double fastest_kt() const;

  private:
    std::uint64_t records_ = 0;
    std::uint64_t positions_ = 0;
    std::int64_t earliest_ = 0;
    std::int64_t latest_ = 0;
    TrackLength track_;
    std::int64_t highest_ = 0;  // the host's 8-byte altitude, metres * 2^32
    HostAltitude highest_words_;
    std::int32_t fastest_ = 0;
};

// "H:MM:SS" for a number of seconds (hours may exceed 24).
std::string FormatDuration(std::int64_t seconds);
// "HH:MM:SS" of running seconds.
std::string FormatTimeOfDay(std::int64_t seconds);
// "YYYY-MM-DD HH:MM:SS" for running seconds after `first_date`'s midnight.
std::string FormatLocalTime(CivilDate first_date, std::int64_t seconds);

}  // namespace kestrun
