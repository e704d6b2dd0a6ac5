#pragma once
// RecordSpool: keeps the records of one pass over a file in memory, up to a
// bound, so that a writer that needs the flight's date before its first
// record can be fed after the pass has counted the midnights, without reading
// the file again. A flight longer than the bound (about 60 hours at one
// record a second) is not kept; the caller reads that file a second time,
// which costs less than spooling hundreds of megabytes through a file.

#include <cstddef>
#include <cstdint>
#include <vector>

#include "recordfile/flight_timeline.h"
#include "recordfile/record_scanner.h"

namespace kestrun {

class RecordSpool final : public RecordSink {
  public:
    explicit RecordSpool(std::size_t max_bytes) : max_records_(max_bytes / sizeof(Kept)) {
        // Only the pages that records reach become resident.
        kept_.reserve(max_records_);
    }

    void OnRecord(const FlightRecord& record, std::uint64_t offset) override;

    // The running times of every record seen, kept or not.
    const FlightTimeline& timeline() const { return timeline_; }
    // True while every record seen is kept.
    bool complete() const { return complete_; }
    // Hands every kept record to `sink` in file order.
    void Replay(RecordSink& sink) const;

  private:
    using Kept = FoundRecord;
    std::size_t max_records_;
    std::vector<Kept> kept_;
    bool complete_ = true;
    FlightTimeline timeline_;
};

}  // namespace kestrun
