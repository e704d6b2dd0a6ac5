#include "recordfile/record_scanner.h"

#include <array>
#include <cstring>

namespace kestrun {
namespace {

// Whether the record at `record` holds a time of day the recorder can write.
bool PlausibleTime(const std::byte* record) {
    namespace at = record_offset;
    // Negative words become large unsigned ones, so one comparison each.
    return LoadU16(record + at::kHour) < 24 && LoadU16(record + at::kMinute) < 60 &&
           LoadU16(record + at::kSecond) < 60;
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
            if (PlausibleTime(d_ + q) && Followed(q + kFlightRecordSize)) return q;
        }
        return limit;
    }

    const std::byte* at(std::size_t pos) const { return d_ + pos; }

    // From `from`, where a header is known to start, past every record that
    // the common case below would take: plausible, followed by the next
    // header, with the whole lookahead in view. Returns where that stops.
    std::size_t SkipSoundRecords(std::size_t from) const {
        if (n_ < RecordScanner::kLookahead) return from;
        const std::size_t last = n_ - RecordScanner::kLookahead;
        std::size_t q = from;
        while (q <= last && PlausibleTime(d_ + q) && HasRecordHeader(d_ + q + kFlightRecordSize))
            q += kFlightRecordSize;
        return q;
    }

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

    // Records go to the sink as runs of records that lie back to back; every
    // run is handed over before this call returns, while its bytes are valid.
    std::size_t run_begin = 0;
    std::size_t run_end = 0;
    auto hand_over = [&] {
        if (run_end > run_begin)
            sink.OnRun(data.subspan(run_begin, run_end - run_begin), base + run_begin);
        run_begin = run_end = 0;
    };
    // Takes the records of [p, end) and moves past them.
    auto emit = [&](std::size_t end) {
        if (p != run_end || run_end == run_begin) {
            hand_over();
            run_begin = p;
        }
        counts_.records += (end - p) / kFlightRecordSize;
        run_end = p = end;
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
        // The common case in a sound file: plausible records each followed by
        // the next header. Stepping 80 bytes at a time means header-like
        // bytes inside record data are never looked at.
        if (const std::size_t sound_end = pass.SkipSoundRecords(p); sound_end > p) {
            emit(sound_end);
            header_seen_at = p;
            continue;
        }
        if (avail < kFlightRecordSize) {
            // Only reachable at the end of the stream: half a record.
            counts_.truncated_bytes += avail;
            p = n;
            break;
        }

        // The same case near the end of the stream, where the lookahead is
        // shorter.
        const bool plausible = PlausibleTime(pass.at(p));
        const bool followed = pass.Followed(p + kFlightRecordSize);
        if (plausible && followed) {
            emit(p + kFlightRecordSize);
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
            emit(end);
        } else if (followed) {
            damaged(kFlightRecordSize);
        } else if (next < end) {
            damaged(next - p);
        } else {
            ++counts_.skipped_bytes;
            ++p;
        }
    }

    hand_over();
    counts_.bytes += p;
    return p;
}

void RecordSink::OnRun(std::span<const std::byte> bytes, std::uint64_t offset) {
    constexpr std::size_t kBatch = 64;
    std::array<FoundRecord, kBatch> batch;
    std::size_t batched = 0;
    for (std::size_t at = 0; at + kFlightRecordSize <= bytes.size(); at += kFlightRecordSize) {
        batch[batched++] = FoundRecord{DecodeFlightRecord(bytes.data() + at), offset + at};
        if (batched == kBatch) {
            OnRecords(batch);
            batched = 0;
        }
    }
    if (batched > 0) OnRecords(std::span(batch.data(), batched));
}

ScanCounts ScanBytes(std::span<const std::byte> data, RecordSink& sink) {
    RecordScanner scanner;
    static_cast<void>(scanner.Scan(data, true, sink));
    return scanner.counts();
}

}  // namespace kestrun
