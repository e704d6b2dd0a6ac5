#pragma once
// Files for tests: a scratch folder removed with everything in it, whole-file
// reads, and flight records made from the values a pilot reads or read back
// from a file.

#include <filesystem>
#include <string>
#include <utility>
#include <vector>

#include "record/flight_record.h"
#include "recordfile/record_scanner.h"

namespace kestrun::testing {

class ScratchDir {
  public:
    // In the system's temporary folder, or in `parent`.
    ScratchDir();
    explicit ScratchDir(const std::filesystem::path& parent);
    ~ScratchDir();
    ScratchDir(const ScratchDir&) = delete;
    ScratchDir& operator=(const ScratchDir&) = delete;

    std::filesystem::path operator/(const std::filesystem::path& name) const {
        return path_ / name;
    }
    const std::filesystem::path& path() const { return path_; }
    // Writes `bytes` to the file `name` here; returns its path.
    std::string Write(const std::string& name, const std::string& bytes) const;

  private:
    std::filesystem::path path_;
};

// The whole file; empty when it cannot be read.
std::string ReadFile(const std::filesystem::path& path);

// One moment of flight in degrees, metres and knots, with the signs pilots
// use: pitch positive nose up, bank positive right wing down.
struct Flown {
    int h = 0, m = 0, s = 0;
    double lat = 0, lon = 0, alt_m = 0;
    double pitch_up = 0, bank_right = 0, heading = 0, kt = 0;
};

// The record the recorder writes for `flown`, headers and time included.
FlightRecord MakeRecord(const Flown& flown);
// Appends the 80 bytes of `record` to `bytes`.
void AppendRecord(std::string& bytes, const FlightRecord& record);
// The whole records of a file, after skipping `skip` leading bytes.
std::vector<FlightRecord> ReadFlightRecords(const std::filesystem::path& path,
                                            std::size_t skip = 0);

// A record sink that keeps each record's offset and second, and the offset
// and length of each run of records handed over.
class CollectRecords final : public RecordSink {
  public:
    void OnRecord(const FlightRecord& record, std::uint64_t offset) override {
        offsets.push_back(offset);
        seconds.push_back(record.Second);
    }
    void OnRun(std::span<const std::byte> bytes, std::uint64_t offset) override {
        runs.emplace_back(offset, bytes.size());
        RecordSink::OnRun(bytes, offset);
    }
    std::vector<std::uint64_t> offsets;
    std::vector<int> seconds;
    std::vector<std::pair<std::uint64_t, std::size_t>> runs;
};

}  // namespace kestrun::testing
