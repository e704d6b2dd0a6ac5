#include "export/record_spool.h"

namespace kestrun {

void RecordSpool::OnRecord(const FlightRecord& record, std::uint64_t offset) {
    static_cast<void>(timeline_.Place(record.Hour, record.Minute, record.Second));
    if (!complete_) return;
    if (kept_.size() == max_records_) {
        complete_ = false;
        // Give the memory back at once: the rest of the pass may be long.
        std::vector<Kept>().swap(kept_);
        return;
    }
    kept_.push_back(Kept{record, offset});
}

void RecordSpool::Replay(RecordSink& sink) const {
    sink.OnRecords(kept_);
}

}  // namespace kestrun
