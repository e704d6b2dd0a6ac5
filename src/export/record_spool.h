#pragma once
// RecordSpool: keeps the records of one pass over a file in memory, up to a
// bound, so that a writer that needs the flight's date before its first
// record can be fed after the pass has counted the midnights, without reading
// the file again. A flight longer than the bound (about 60 hours at one
// record a second) is not kept; the caller reads that file a second time,
// which costs less than spooling hundreds of megabytes through a file.

#include <cstddef>
#include <cstdint>
#include <span>
#include <vector>

#include "recordfile/flight_timeline.h"
#include "recordfile/record_scanner.h"

namespace kestrun {

class RecordSpool final : public RecordSink {
  public:
    explicit RecordSpool(std::size_t max_bytes) : max_bytes_(max_bytes) {
        // Only the pages that records reach become resident.
        bytes_.reserve(max_bytes_);
    }

    void OnRecord(const FlightRecord& record, std::uint64_t offset) override;
    void OnRun(std::span<const std::byte> bytes, std::uint64_t offset) override;

    // The running times of every record seen, kept or not.
    const FlightTimeline& timeline() const { return timeline_; }
    // True while every record seen is kept.
    bool complete() const { return complete_; }
    // Hands every kept record to `sink` in file order, as the scanner did.
    void Replay(RecordSink& sink) const;

  private:
    // Records that lay back to back in the file: `size` bytes of bytes_.
    struct Run {
        std::uint64_t offset;
        std::size_t size;
    };

    std::size_t max_bytes_;
    std::vector<std::byte> bytes_;  // the records as they are in the file
    std::vector<Run> runs_;
    bool complete_ = true;
    FlightTimeline timeline_;
};

}  // namespace kestrun
