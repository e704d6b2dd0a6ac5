#include "tools/export_run.h"

#include <fmt/format.h>

#include "tools/csv_format.h"
#include "tools/gpx_format.h"
#include "tools/kml_format.h"
#include "tools/record_file.h"
#include "tools/summary_format.h"
#include "tools/svg_format.h"
#include "tools/xml_text.h"

namespace kestrun {
namespace {

// How far the clock that stamped the records may run ahead of the clock that
// stamped the file before a midnight is assumed in between.
constexpr std::int64_t kClockSlackSeconds = 60;

class TimelineSink final : public RecordSink {
  public:
    void OnRecord(const FlightRecord& record, std::uint64_t) override {
        static_cast<void>(timeline_.Place(record.Hour, record.Minute, record.Second));
    }
    const FlightTimeline& timeline() const { return timeline_; }

  private:
    FlightTimeline timeline_;
};

class FormatSink final : public RecordSink {
  public:
    explicit FormatSink(FlightFormat& format) : format_(format) {}
    void OnRecord(const FlightRecord& record, std::uint64_t) override {
        const TimePlacement time = timeline_.Place(record.Hour, record.Minute, record.Second);
        format_.AddRecord(TimedRecord{record, time});
    }
    const FlightTimeline& timeline() const { return timeline_; }

  private:
    FlightFormat& format_;
    FlightTimeline timeline_;
};

}  // namespace

std::optional<ExportFormat> ParseExportFormat(std::string_view name) {
    if (name == "csv") return ExportFormat::kCsv;
    if (name == "gpx") return ExportFormat::kGpx;
    if (name == "kml") return ExportFormat::kKml;
    if (name == "svg") return ExportFormat::kSvg;
    if (name == "summary") return ExportFormat::kSummary;
    return std::nullopt;
}

std::unique_ptr<FlightFormat> MakeFlightFormat(ExportFormat format, OutputBuffer& out,
                                               std::size_t flights) {
    switch (format) {
        case ExportFormat::kCsv:
            return std::make_unique<CsvFormat>(out);
        case ExportFormat::kGpx:
            return std::make_unique<GpxFormat>(out);
        case ExportFormat::kKml:
            return std::make_unique<KmlFormat>(out);
        case ExportFormat::kSvg:
            return std::make_unique<SvgFormat>(out, flights);
        case ExportFormat::kSummary:
            return std::make_unique<SummaryFormat>(out);
    }
    return nullptr;
}

CivilDate FirstDateFromModification(std::int64_t modified, const FlightTimeline& timeline) {
    CivilDate date;
    std::int64_t second_of_day = 0;
    LocalDateAndTime(modified, date, second_of_day);
    if (timeline.records() == 0) return date;
    const std::int64_t last = timeline.last_seconds();
    const std::int64_t last_day = last / kSecondsPerDay;
    const std::int64_t last_of_day = last - last_day * kSecondsPerDay;
    const CivilDate last_date =
        last_of_day > second_of_day + kClockSlackSeconds ? date.Plus(-1) : date;
    return last_date.Plus(-last_day);
}

Status ExportDriver::ExportFile(const std::string& path, FlightReport& report) {
    RecordFileFacts facts;
    Status status = ReadRecordFileFacts(path, facts);
    if (!status.ok()) return status;

    FlightInfo& flight = report.flight;
    flight = FlightInfo{};
    flight.path = path;
    flight.name = FileNameOf(path);
    if (date_) {
        flight.first_date = *date_;
        flight.date_known = true;
        flight.date_source = DateSource::kOption;
    } else {
        flight.date_source = DateSource::kModificationTime;
        if (format_.NeedsDateUpFront()) {
            // Only the times are needed; this pass is as fast as the disk.
            TimelineSink times;
            ScanCounts counts;
            status = ScanRecordFile(path, times, counts);
            if (!status.ok()) return status;
            flight.first_date = FirstDateFromModification(facts.modified, times.timeline());
            flight.date_known = true;
        }
    }

    format_.BeginFlight(flight);
    report.exported = true;
    FormatSink feed(format_);
    status = ScanRecordFile(path, feed, report.scan);
    if (!flight.date_known) {
        flight.first_date = FirstDateFromModification(facts.modified, feed.timeline());
        flight.date_known = true;
    }
    format_.EndFlight(flight, report.scan, feed.timeline());
    return status;
}

std::string DescribeFlight(const FlightReport& report) {
    const FlightInfo& flight = report.flight;
    const ScanCounts& scan = report.scan;
    std::string text =
        fmt::format("{}: {} records; date of the first record {}, {}\n", flight.path, scan.records,
                    FormatCivilDate(flight.first_date), DateSourceText(flight.date_source));
    if (scan.damaged_records > 0) {
        text += fmt::format("{}: skipped {} damaged records ({} bytes)\n", flight.path,
                            scan.damaged_records, scan.damaged_bytes);
    }
    if (scan.skipped_bytes > 0) {
        text += fmt::format("{}: skipped {} bytes that are not records\n", flight.path,
                            scan.skipped_bytes);
    }
    if (scan.truncated_bytes > 0) {
        text +=
            fmt::format("{}: the last record is cut short ({} of 80 bytes) and was not decoded\n",
                        flight.path, scan.truncated_bytes);
    }
    return text;
}

}  // namespace kestrun
