#include "recordfile/record_scanner.h"

#include <array>
#include <cstring>

namespace kestrun {
namespace {

bool PlausibleTime(const FlightRecord& record) {
    return record.Hour >= 0 && record.Hour < 24 && record.Minute >= 0 && record.Minute < 60 &&
           record.Second >= 0 && record.Second < 60;
}

// The recorder leaves the last 22 bytes of a record zero. They only break a
// tie: a record is not thrown away for them when the stream confirms it.
bool TailReservedClear(const std::byte* record) {
    for (std::size_t i = record_offset::kReserved2; i < kFlightRecordSize; ++i) {
        if (record[i] != std::byte{0}) return false;
    }
    return true;
}

// One call's view of the stream. Positions are indices into `data`.
class Pass {
  public:
    Pass(std::span<const std::byte> data, bool final)
        : d_(data.data()), n_(data.size()), final_(final) {}

    bool HeaderAt(std::size_t pos) const { return n_ - pos >= 8 && HasRecordHeader(d_ + pos); }

    // True when the stream after a record at `end` looks like more records:
    // a header, or the end of the stream (a tail too short to be a header
    // says nothing against it).
    bool Followed(std::size_t end) const {
        if (n_ - end >= 8) return HasRecordHeader(d_ + end);
        return final_;
    }

    // First header position in [from, limit), or `limit` if there is none.
    std::size_t FindHeader(std::size_t from, std::size_t limit) const {
        std::size_t q = from;
        while (q < limit) {
            const void* hit = std::memchr(d_ + q, 0x08, limit - q);
            if (hit == nullptr) return limit;
            q = static_cast<std::size_t>(static_cast<const std::byte*>(hit) - d_);
            if (HeaderAt(q)) return q;
            ++q;
        }
        return limit;
    }

    // First position in [from, limit) where a whole, plausible record starts
    // that is itself followed by a record or the end; `limit` if none.
    std::size_t FindFollowedRecord(std::size_t from, std::size_t limit) const {
        for (std::size_t q = FindHeader(from, limit); q < limit; q = FindHeader(q + 1, limit)) {
            if (n_ - q < kFlightRecordSize) break;
            if (PlausibleTime(DecodeFlightRecord(d_ + q)) && Followed(q + kFlightRecordSize))
                return q;
        }
        return limit;
    }

    const std::byte* at(std::size_t pos) const { return d_ + pos; }

  private:
    const std::byte* d_;
    std::size_t n_;
    bool final_;
};

}  // namespace

std::size_t RecordScanner::Scan(std::span<const std::byte> data, bool final, RecordSink& sink) {
    const Pass pass(data, final);
    const std::size_t n = data.size();
    const std::uint64_t base = first_offset_ + counts_.bytes;
    std::size_t p = 0;

    // Records go to the sink in batches; every batch is handed over before
    // this call returns.
    constexpr std::size_t kBatch = 64;
    std::array<FoundRecord, kBatch> batch;
    std::size_t batched = 0;
    auto emit = [&](const FlightRecord& record) {
        ++counts_.records;
        batch[batched++] = FoundRecord{record, base + p};
        if (batched == kBatch) {
            sink.OnRecords(batch);
            batched = 0;
        }
        p += kFlightRecordSize;
    };
    auto damaged = [&](std::size_t length) {
        ++counts_.damaged_records;
        counts_.damaged_bytes += length;
        p += length;
    };

    // Where the last record's successor was already seen to start with a
    // header, so the common case checks each header once.
    std::size_t header_seen_at = n;
    while (p < n) {
        const std::size_t avail = n - p;
        if (!final && avail < kLookahead) break;

        if (p != header_seen_at && !pass.HeaderAt(p)) {
            // Only positions whose lookahead is complete may be judged now.
            const std::size_t limit = final ? n : n - kLookahead + 1;
            const std::size_t q = pass.FindHeader(p + 1, limit);
            counts_.skipped_bytes += q - p;
            p = q;
            continue;
        }
        if (avail < kFlightRecordSize) {
            // Only reachable at the end of the stream: half a record.
            counts_.truncated_bytes += avail;
            p = n;
            break;
        }

        // The common case in a sound file: a plausible record followed by the
        // next header. Stepping 80 bytes from it means header-like bytes inside
        // record data are never looked at.
        const FlightRecord record = DecodeFlightRecord(pass.at(p));
        const bool plausible = PlausibleTime(record);
        const bool followed = pass.Followed(p + kFlightRecordSize);
        if (plausible && followed) {
            emit(record);
            // Followed() looked at a header there unless the stream ends first.
            if (n - p >= 8) header_seen_at = p;
            continue;
        }

        // Otherwise the stream is out of step here. A record that starts
        // inside this one and is confirmed by what follows it wins: this one
        // is then the cut-off remains of an earlier write.
        const std::size_t end = p + kFlightRecordSize;
        const std::size_t next = pass.FindHeader(p + 1, end);
        const std::size_t better = pass.FindFollowedRecord(next, end);
        if (better < end) {
            damaged(better - p);
        } else if (plausible && TailReservedClear(pass.at(p))) {
            emit(record);
        } else if (followed) {
            damaged(kFlightRecordSize);
        } else if (next < end) {
            damaged(next - p);
        } else {
            ++counts_.skipped_bytes;
            ++p;
        }
    }

    if (batched > 0) sink.OnRecords(std::span(batch.data(), batched));
    counts_.bytes += p;
    return p;
}

ScanCounts ScanBytes(std::span<const std::byte> data, RecordSink& sink) {
    RecordScanner scanner;
    static_cast<void>(scanner.Scan(data, true, sink));
    return scanner.counts();
}

}  // namespace kestrun
