#pragma once
// The export driver: reads record files and hands each to a FlightFormat as
// one flight, working out the date of its first record on the way.

#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "export/flight_format.h"
#include "export/output_buffer.h"
#include "platform/status.h"
#include "recordfile/first_date.h"

namespace kestrun {

enum class ExportFormat { kCsv, kGpx, kKml, kSvg, kSummary, kIgc };

// "csv", "gpx", "kml", "svg", "summary" or "igc"; empty for anything else.
std::optional<ExportFormat> ParseExportFormat(std::string_view name);
// Every name ParseExportFormat takes, for each program's list of choices.
std::vector<std::string> ExportFormatNames();

// A writer for `format` that writes to `out`; `flights` is how many files
// will follow.
std::unique_ptr<FlightFormat> MakeFlightFormat(ExportFormat format, OutputBuffer& out,
                                               std::size_t flights);

// What became of one file.
struct FlightReport {
    bool exported = false;  // the flight went to the format, whole or in part
    FlightInfo flight;
    ScanCounts scan;
};

class ExportDriver {
  public:
    // With `date`, every flight's first record is on that date; without, it
    // comes from each file's modification time, and a file of up to
    // `spool_bytes` of records is read once, a longer one twice.
    ExportDriver(FlightFormat& format, std::optional<CivilDate> date,
                 std::size_t spool_bytes = std::size_t{16} << 20)
        : format_(format), date_(date), spool_bytes_(spool_bytes) {}

    // What the pilot told about the flights that follow, for the formats
    // that have a place for it.
    void SetPilotFields(const FlightPilotFields& fields) { pilot_fields_ = fields; }

    // Exports one file as one flight. Fails without writing anything when the
    // file cannot be opened; when reading fails part-way, the flight is closed
    // with what was read and the failure returned.
    // With a byte range, only the records in it are the flight.
    Status ExportFile(const std::string& path, FlightReport& report, std::uint64_t from = 0,
                      std::uint64_t to = UINT64_MAX);

  private:
    FlightFormat& format_;
    std::optional<CivilDate> date_;
    std::size_t spool_bytes_;
    FlightPilotFields pilot_fields_;
};

// The notes about a flight for the user (date used, anything skipped), one
// per line, each prefixed with the file's path.
std::string DescribeFlight(const FlightReport& report);

}  // namespace kestrun
