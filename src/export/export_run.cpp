#include "export/export_run.h"

#include <fmt/format.h>

#include <algorithm>
#include <utility>

#include "export/csv_format.h"
#include "export/gpx_format.h"
#include "export/igc_format.h"
#include "export/kml_format.h"
#include "export/record_spool.h"
#include "export/summary_format.h"
#include "export/svg_format.h"
#include "export/xml_text.h"
#include "recordfile/record_file.h"

namespace kestrun {
namespace {

// Places each record in time and hands it to the format. `Format` is the
// writer's own class where it is known: the call for each record is then
// direct, and a batch of records costs one virtual call.
template <typename Format>
class FormatSink final : public RecordSink {
  public:
    explicit FormatSink(Format& format) : format_(format) {}
    void OnRecord(const FlightRecord& record, std::uint64_t) override {
        const FlightRecordBytes bytes = EncodeFlightRecord(record);
        Add(bytes.data());
    }
    void OnRun(std::span<const std::byte> bytes, std::uint64_t) override {
        for (std::size_t at = 0; at < bytes.size(); at += kFlightRecordSize) Add(bytes.data() + at);
    }
    const FlightTimeline& timeline() const { return timeline_; }

  private:
    void Add(const std::byte* record) {
        format_.AddRecord(TimedRecord{record, timeline_.PlaceRecord(record)});
    }

    Format& format_;
    FlightTimeline timeline_;
};

// Runs `read(sink)` with a sink that feeds `format`; the sink's timeline is
// left in `timeline`.
template <typename Read>
Status Feed(FlightFormat& format, FlightTimeline& timeline, Read read) {
    auto run = [&](auto& concrete) {
        FormatSink sink(concrete);
        Status status = read(static_cast<RecordSink&>(sink));
        timeline = sink.timeline();
        return status;
    };
    if (auto* csv = dynamic_cast<CsvFormat*>(&format)) return run(*csv);
    if (auto* gpx = dynamic_cast<GpxFormat*>(&format)) return run(*gpx);
    if (auto* kml = dynamic_cast<KmlFormat*>(&format)) return run(*kml);
    if (auto* igc = dynamic_cast<IgcFormat*>(&format)) return run(*igc);
    return run(format);
}

Status UnwritableDate(const std::string& path, CivilDate date) {
    return Status::Error(fmt::format(
        "{}: its modification time gives the date {}, outside the years 1 to 9999; give the date "
        "of its first record with --date",
        path, FormatCivilDate(date)));
}

// Only places records in time, for a look at the dates a file reaches.
class TimelineSink final : public RecordSink {
  public:
    void OnRecord(const FlightRecord& record, std::uint64_t) override {
        timeline_.Place(record.Hour, record.Minute, record.Second);
    }
    void OnRun(std::span<const std::byte> bytes, std::uint64_t) override {
        timeline_.PlaceRecords(bytes);
    }
    const FlightTimeline& timeline() const { return timeline_; }

  private:
    FlightTimeline timeline_;
};

// A given date near the end of the calendar could carry a flight past
// midnight into the year 10000. Each midnight takes at least one record, so
// only a date within as many days of the end as the range has records needs
// the file read first; any other is passed at once.
Status CheckGivenDate(const std::string& path, CivilDate date, const RecordFileFacts& facts,
                      std::uint64_t from, std::uint64_t to) {
    const std::uint64_t end = std::min(to, facts.size);
    const std::uint64_t records = end > from ? (end - from) / kFlightRecordSize : 0;
    const CivilDate last = CivilDate::FromYmd(9999, 12, 31);
    if (date.days + static_cast<std::int64_t>(records) <= last.days) return Status::Ok();
    TimelineSink dates;
    ScanCounts counts;
    Status status = ScanRecordFileRange(path, from, to, dates, counts);
    if (status.ok()) status = CheckRecordDates(date, dates.timeline().latest_seconds());
    return status.ok() ? status : Status::Error(path + ": " + status.message());
}

}  // namespace

namespace {
constexpr std::pair<std::string_view, ExportFormat> kFormatNames[] = {
    {"csv", ExportFormat::kCsv}, {"gpx", ExportFormat::kGpx},         {"kml", ExportFormat::kKml},
    {"svg", ExportFormat::kSvg}, {"summary", ExportFormat::kSummary}, {"igc", ExportFormat::kIgc},
};
}  // namespace

std::optional<ExportFormat> ParseExportFormat(std::string_view name) {
    for (const auto& [known, format] : kFormatNames) {
        if (name == known) return format;
    }
    return std::nullopt;
}

std::vector<std::string> ExportFormatNames() {
    std::vector<std::string> names;
    for (const auto& named : kFormatNames) names.emplace_back(named.first);
    return names;
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
        case ExportFormat::kIgc:
            return std::make_unique<IgcFormat>(out);
    }
    return nullptr;
}

Status ExportDriver::ExportFile(const std::string& path, FlightReport& report, std::uint64_t from,
                                std::uint64_t to) {
    RecordFileFacts facts;
    Status status = ReadRecordFileFacts(path, facts);
    if (!status.ok()) return status;

    FlightInfo& flight = report.flight;
    flight = FlightInfo{};
    flight.path = path;
    flight.name = FileNameOf(path);
    flight.pilot_fields = pilot_fields_;
    if (date_) {
        status = CheckGivenDate(path, *date_, facts, from, to);
        if (!status.ok()) return status;
        flight.first_date = *date_;
        flight.date_known = true;
        flight.date_source = DateSource::kOption;
    } else {
        flight.date_source = DateSource::kModificationTime;
        // A modification time far from now (a bad clock, a file from another
        // system) would give dates that no reader of the formats takes.
        CivilDate modified_date;
        std::int64_t second_of_day = 0;
        LocalDateAndTime(facts.modified, modified_date, second_of_day);
        if (!IsWritableDate(modified_date)) return UnwritableDate(path, modified_date);
        if (format_.NeedsDateUpFront()) {
            // The midnights are counted in the one pass that also keeps the
            // records; the writer gets them once the date is known. A range
            // too long to keep is only timed: copying its start would be
            // wasted.
            const std::uint64_t end = std::min(to, facts.size);
            const std::uint64_t range = end > from ? end - from : 0;
            RecordSpool spool(range <= spool_bytes_ ? spool_bytes_ : 0);
            ScanCounts counts;
            status = ScanRecordFileRange(path, from, to, spool, counts);
            if (!status.ok()) return status;
            flight.first_date = FirstDateFromModification(facts.modified, spool.timeline());
            if (!IsWritableDate(flight.first_date)) return UnwritableDate(path, flight.first_date);
            flight.date_known = true;
            if (spool.complete()) {
                format_.BeginFlight(flight);
                report.exported = true;
                FlightTimeline timeline;
                status = Feed(format_, timeline, [&](RecordSink& feed) {
                    spool.Replay(feed);
                    return Status::Ok();
                });
                report.scan = counts;
                format_.EndFlight(flight, report.scan, timeline);
                return status;
            }
        }
    }

    format_.BeginFlight(flight);
    report.exported = true;
    FlightTimeline timeline;
    status = Feed(format_, timeline, [&](RecordSink& feed) {
        return ScanRecordFileRange(path, from, to, feed, report.scan);
    });
    if (!flight.date_known) {
        flight.first_date = FirstDateFromModification(facts.modified, timeline);
        flight.date_known = true;
    }
    format_.EndFlight(flight, report.scan, timeline);
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
