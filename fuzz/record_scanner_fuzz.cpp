// Fuzz target for the record scanner and the writers behind it: whatever a
// record file holds, the scanner must account for every byte, pass on only
// records with their header and a plausible time, find the same records
// however the file is split into reads, and the writers must take whatever
// records it passes on.
//
// Input: byte 0 sets the size of the pieces the stream is fed in (1 to 256);
// the rest is the file.

#include <memory>
#include <span>

#include "export/export_run.h"
#include "fuzz/fuzz_target.h"
#include "recordfile/record_scanner.h"
#include "tests/support/test_files.h"

namespace {

using namespace kestrun;

// The formats' output, thrown away: the target checks their invariants, not
// their bytes.
class DroppedOutput final : public OutputStream {
  public:
    Status Write(std::span<const std::byte>) override { return Status::Ok(); }
    Status Close() override { return Status::Ok(); }
};

class CheckingSink final : public RecordSink {
  public:
    explicit CheckingSink(std::size_t size) : size_(size) {}
    void OnRecord(const FlightRecord& r, std::uint64_t offset) override {
        Check(r.Header1 == kHeader1 && r.Header2 == kHeader2 && r.Header3 == kHeader3 &&
              r.Header4 == kHeader4 && r.Hour >= 0 && r.Hour < 24 && r.Minute >= 0 &&
              r.Minute < 60 && r.Second >= 0 && r.Second < 60 &&
              offset + kFlightRecordSize <= size_ &&
              (seen.empty() || offset >= seen.back() + kFlightRecordSize));
        seen.push_back(offset);
    }
    std::vector<std::uint64_t> seen;

  private:
    std::size_t size_;
};

// Hands every record to the writers, as the export driver does.
class WritersSink final : public RecordSink {
  public:
    explicit WritersSink(std::vector<FlightFormat*> formats) : formats_(std::move(formats)) {}
    void OnRecord(const FlightRecord& record, std::uint64_t) override {
        const TimePlacement time = timeline.Place(record.Hour, record.Minute, record.Second);
        const FlightRecordBytes bytes = EncodeFlightRecord(record);
        for (FlightFormat* format : formats_) format->AddRecord(TimedRecord{bytes.data(), time});
    }
    FlightTimeline timeline;

  private:
    std::vector<FlightFormat*> formats_;
};

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    if (size == 0) return 0;
    const std::size_t piece = std::size_t{data[0]} + 1;
    const std::span<const std::byte> file(reinterpret_cast<const std::byte*>(data + 1), size - 1);

    CheckingSink whole(file.size());
    const ScanCounts counts = ScanBytes(file, whole);
    Check(counts.bytes == file.size() && counts.records == whole.seen.size() &&
          counts.truncated_bytes < kFlightRecordSize &&
          counts.records * kFlightRecordSize + counts.skipped_bytes + counts.damaged_bytes +
                  counts.truncated_bytes ==
              counts.bytes);

    RecordScanner scanner;
    CheckingSink pieces(file.size());
    std::vector<std::byte> held;
    for (std::size_t at = 0; at < file.size(); at += piece) {
        const auto next = file.subspan(at, std::min(piece, file.size() - at));
        held.insert(held.end(), next.begin(), next.end());
        const std::size_t used = scanner.Scan(held, false, pieces);
        Check(held.size() - used < RecordScanner::kLookahead);
        held.erase(held.begin(), held.begin() + static_cast<std::ptrdiff_t>(used));
    }
    Check(scanner.Scan(held, true, pieces) == held.size() && pieces.seen == whole.seen);
    const ScanCounts& in_pieces = scanner.counts();
    Check(in_pieces.skipped_bytes == counts.skipped_bytes &&
          in_pieces.damaged_bytes == counts.damaged_bytes &&
          in_pieces.truncated_bytes == counts.truncated_bytes);

    static DroppedOutput dropped;
    static OutputBuffer out(&dropped, 4096);
    // The picture writer keeps 192 KiB of points, which made afresh for each
    // input cost more than all the rest; it is kept, and each input is one
    // more flight of its document, as the flights of a day are.
    static const std::unique_ptr<FlightFormat> svg = MakeFlightFormat(ExportFormat::kSvg, out, 1);
    std::vector<std::unique_ptr<FlightFormat>> owned;
    std::vector<FlightFormat*> formats{svg.get()};
    FlightInfo flight;
    flight.path = flight.name = "fuzz.dat";
    flight.first_date = CivilDate::FromYmd(2024, 2, 29);
    flight.date_known = true;
    for (const ExportFormat format :
         {ExportFormat::kCsv, ExportFormat::kGpx, ExportFormat::kSummary}) {
        formats.push_back(owned.emplace_back(MakeFlightFormat(format, out, 1)).get());
    }
    for (FlightFormat* format : formats) {
        format->BeginDocument();
        format->BeginFlight(flight);
    }
    WritersSink writers(formats);
    static_cast<void>(ScanBytes(file, writers));
    for (FlightFormat* format : formats) {
        format->EndFlight(flight, counts, writers.timeline);
        format->EndDocument();
    }
    Check(out.Flush());
    return 0;
}

// A sound recording with the faults appended and crashed recordings show:
// junk between records, records cut short, impossible times, records of a
// closed link and header bytes inside the data.
std::vector<std::uint8_t> GenerateFuzzInput(std::mt19937& random) {
    const auto byte = [&] { return static_cast<int>(random() % 256); };
    std::string file(1, static_cast<char>(byte()));  // the piece size
    int second = byte() * 337;
    for (int records = byte() % 40; records > 0; --records) {
        second = (second + 1 + (byte() < 8 ? byte() * 97 : 0)) % 86400;
        testing::Flown f{.h = second / 3600, .m = second / 60 % 60, .s = second % 60};
        if (byte() >= 16) {  // else: a record of a closed link
            f.lat = byte() * 0.7 - 90;
            f.lon = byte() * 1.41 - 180;
            f.alt_m = byte() * 40.0 - 400;
            f.heading = byte() * 1.41;
            f.kt = byte();
        }
        FlightRecord r = testing::MakeRecord(f);
        if (byte() < 16) r.Hour = static_cast<std::int16_t>(byte());
        if (byte() < 8) r.Latitude = 0x0000000100000008;
        std::string bytes;
        testing::AppendRecord(bytes, r);
        if (byte() < 10) bytes.resize(static_cast<std::size_t>(byte()) % bytes.size());
        if (byte() < 12) {
            for (int junk = byte() % 100; junk > 0; --junk) bytes += static_cast<char>(byte() & 15);
        }
        file += bytes;
    }
    return {file.begin(), file.end()};
}
