#pragma once
// RecordScanner: finds flight records in a stream of bytes that may hold other
// things too. A file that was appended to starts its new records wherever the
// old contents ended, and a crash or a full disk can leave half a record, so
// records are found by their four header words rather than by offsets that are
// multiples of 80.
//
// The scanner is fed the stream in pieces and keeps no copy of it: memory use
// is constant whatever the length of the stream. Every byte of the stream ends
// up in exactly one of four places, so that
//   80 * records + skipped_bytes + damaged_bytes + truncated_bytes == bytes.

#include <cstddef>
#include <cstdint>
#include <span>

#include "record/flight_record.h"

namespace kestrun {

struct ScanCounts {
    std::uint64_t bytes = 0;            // every byte seen
    std::uint64_t records = 0;          // records passed on
    std::uint64_t skipped_bytes = 0;    // bytes that belong to no record
    std::uint64_t damaged_records = 0;  // stretches led by a header but not decodable
    std::uint64_t damaged_bytes = 0;    // their bytes
    std::uint64_t truncated_bytes = 0;  // an incomplete record at the very end; 0 if none
};

// A record and the byte offset of its first header byte from the start of
// the stream.
struct FoundRecord {
    FlightRecord record;
    std::uint64_t offset = 0;
};

// Receives each record in stream order.
class RecordSink {
  public:
    virtual ~RecordSink() = default;
    virtual void OnRecord(const FlightRecord& record, std::uint64_t offset) = 0;
    // Decoded records in batches, one call for many. By default each goes to
    // OnRecord.
    virtual void OnRecords(std::span<const FoundRecord> records) {
        for (const FoundRecord& found : records) OnRecord(found.record, found.offset);
    }
    // How the scanner hands records over: `bytes` holds records that lie back
    // to back in the stream, as they are there (80 bytes each, the first at
    // `offset`), valid only during the call. A sink that reads a few fields
    // of millions of records takes them here undecoded; by default they are
    // decoded and go to OnRecords a batch at a time.
    virtual void OnRun(std::span<const std::byte> bytes, std::uint64_t offset);
};

class RecordScanner {
  public:
    // Bytes past a position that the scanner must see before it judges the
    // record there (the record, the next one, and the header after that),
    // unless the stream ends sooner.
    static constexpr std::size_t kLookahead = 2 * kFlightRecordSize + 8;

    // Offsets passed to sinks count from `first_offset`: the stream's place
    // in a file read from the middle.
    explicit RecordScanner(std::uint64_t first_offset = 0) : first_offset_(first_offset) {}

    // Scans `data`, which continues the stream where the bytes consumed by the
    // previous call ended. Returns how many bytes were consumed; the caller
    // presents the rest again, followed by more of the stream. When `final`
    // is true, `data` is the end of the stream and all of it is consumed.
    std::size_t Scan(std::span<const std::byte> data, bool final, RecordSink& sink);

    const ScanCounts& counts() const { return counts_; }

  private:
    std::uint64_t first_offset_;
    ScanCounts counts_;
};

// Scans a whole stream held in memory.
ScanCounts ScanBytes(std::span<const std::byte> data, RecordSink& sink);

}  // namespace kestrun
