// Fuzz target for the logbook's scan: whatever a record file holds, scanning
// it into a logbook never fails (it is a regular file that can be read) and
// stores only what SQLite's constraints take, and a file scanned, then grown
// as the recorder appends and scanned again, holds exactly the flights one
// reading of the whole file finds: none counted twice, none lost, none cut
// in two at the old end.
//
// Input: byte 0 is where the file first ends, in 255ths of its length; the
// rest is the file.

#include <fstream>
#include <span>
#include <string>
#include <tuple>

#include "flights/flight_detector.h"
#include "flights/point_from_record.h"
#include "fuzz/flight_script.h"
#include "fuzz/fuzz_target.h"
#include "fuzz/fuzz_logbook.h"
#include "logbook/logbook_scan.h"
#include "recordfile/record_scanner.h"

namespace {

using namespace kestrun;

// Begin and end offset and completeness: what says two findings are one flight.
using FlightKey = std::tuple<std::int64_t, std::int64_t, bool>;

// The flights one reading of the whole file finds, as the scan finds them.
class WholeReading final : public RecordSink, public FlightSink {
  public:
    void OnRecord(const FlightRecord& record, std::uint64_t offset) override {
        detector_.Add(PointFromRecord(
            record, timeline_.Place(record.Hour, record.Minute, record.Second), offset));
    }
    void OnFlight(const DetectedFlight& f) override {
        flights.emplace_back(static_cast<std::int64_t>(f.begin_offset),
                             static_cast<std::int64_t>(f.end_offset), f.complete);
    }
    void Finish() { detector_.Finish(); }
    std::vector<FlightKey> flights;

  private:
    FlightDetector detector_{*this};
    FlightTimeline timeline_;
};

void WriteFile(const std::string& path, std::span<const std::uint8_t> bytes) {
    std::ofstream(path, std::ios::binary | std::ios::trunc)
        .write(reinterpret_cast<const char*>(bytes.data()),
               static_cast<std::streamsize>(bytes.size()));
}

void CheckScanned(const FileScanResult& result) {
    Check(result.outcome != FileScanResult::Outcome::kFailed);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    if (size == 0) return 0;
    static fuzz::MemoryLogbook logbook;
    static const std::string path = logbook.dir.Write("flight.dat", "");
    const std::span<const std::uint8_t> file(data + 1, size - 1);
    const std::size_t first_end = file.size() * data[0] / 255;

    LogbookScan scan(logbook.db, CivilDate::FromYmd(2024, 2, 29));
    Check(scan.Begin().ok());
    WriteFile(path, file.first(first_end));
    CheckScanned(scan.ScanFile(path));
    if (first_end < file.size()) {
        WriteFile(path, file);
        CheckScanned(scan.ScanFile(path));
    }

    WholeReading whole;
    static_cast<void>(ScanBytes(std::as_bytes(file), whole));
    whole.Finish();
    Statement stored;
    Check(logbook.db
              .Prepare("SELECT begin_offset, end_offset, complete FROM flights ORDER BY "
                       "begin_offset",
                       stored)
              .ok());
    std::vector<FlightKey> flights;
    while (stored.Step()) flights.emplace_back(stored.Int(0), stored.Int(1), stored.Int(2) != 0);
    Check(stored.status().ok());
    Check(flights == whole.flights);
    Check(logbook.Int("SELECT count(*) FROM phases p LEFT JOIN flights f ON f.id = p.flight_id "
                      "WHERE f.id IS NULL") == 0);
    Check(logbook.db.Exec("ROLLBACK").ok());
    return 0;
}

// A recorded day as the recorder writes it, now and then with junk or a
// record cut short where a recorder was killed.
std::vector<std::uint8_t> GenerateFuzzInput(std::mt19937& random) {
    std::vector<std::uint8_t> input{static_cast<std::uint8_t>(random())};
    for (const FlightRecord& record : fuzz::RecordsFromScript(fuzz::GenerateFlightScript(random))) {
        std::string bytes;
        testing::AppendRecord(bytes, record);
        if (random() % 200 == 0) bytes.resize(random() % bytes.size());
        input.insert(input.end(), bytes.begin(), bytes.end());
    }
    return input;
}
