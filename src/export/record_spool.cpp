#include "export/record_spool.h"

namespace kestrun {

void RecordSpool::OnRecord(const FlightRecord& record, std::uint64_t offset) {
    const FlightRecordBytes bytes = EncodeFlightRecord(record);
    OnRun(bytes, offset);
}

void RecordSpool::OnRun(std::span<const std::byte> bytes, std::uint64_t offset) {
    timeline_.PlaceRecords(bytes);
    if (!complete_) return;
    // The runs of one file read in pieces join up again: a sound file is one.
    const bool joins = !runs_.empty() && runs_.back().offset + runs_.back().size == offset;
    const std::size_t kept = bytes_.size() + (runs_.size() + (joins ? 0 : 1)) * sizeof(Run);
    if (kept + bytes.size() > max_bytes_) {
        complete_ = false;
        // Give the memory back at once: the rest of the pass may be long.
        std::vector<std::byte>().swap(bytes_);
        std::vector<Run>().swap(runs_);
        return;
    }
    bytes_.insert(bytes_.end(), bytes.begin(), bytes.end());
    if (joins) {
        runs_.back().size += bytes.size();
    } else {
        runs_.push_back(Run{offset, bytes.size()});
    }
}

void RecordSpool::Replay(RecordSink& sink) const {
    std::size_t at = 0;
    for (const Run& run : runs_) {
        sink.OnRun(std::span(bytes_).subspan(at, run.size), run.offset);
        at += run.size;
    }
}

}  // namespace kestrun
