#include "pages/flight_samples.h"

#include <fmt/format.h>

#include <array>
#include <cmath>
#include <optional>

#include "protocol/host_units.h"
#include "recordfile/civil_date.h"
#include "recordfile/flight_sample.h"
#include "recordfile/flight_timeline.h"
#include "recordfile/record_file.h"

namespace kestrun {
namespace {

// The columns in the order written, and how many decimals each keeps:
// a millionth of a degree is 0.1 m, a foot and a tenth of a knot or degree
// are finer than the records' own noise.
struct Column {
    const char* name;
    int decimals;
};
constexpr std::array<Column, 8> kColumns{{{"t", 0},
                                          {"lat", 6},
                                          {"lon", 6},
                                          {"alt_ft", 0},
                                          {"ias_kt", 1},
                                          {"pitch_deg", 1},
                                          {"bank_deg", 1},
                                          {"heading_deg", 0}}};

// `value` with at most `decimals` decimals, trailing zeros dropped and never
// "-0", so that each number costs only the characters it needs.
void AppendNumber(std::string& out, double value, int decimals) {
    const double scale = std::pow(10.0, decimals);
    double rounded = std::round(value * scale) / scale;
    if (rounded == 0) rounded = 0;  // no "-0"
    std::string text = fmt::format("{:.{}f}", rounded, decimals);
    if (decimals > 0) {
        while (text.back() == '0') text.pop_back();
        if (text.back() == '.') text.pop_back();
    }
    if (!out.empty()) out += ',';
    out += text;
}

class SampleColumns final : public RecordSink {
  public:
    void OnRecord(const FlightRecord& record, std::uint64_t) override {
        const TimePlacement time = timeline_.Place(record.Hour, record.Minute, record.Second);
        if (!first_) first_ = time.seconds;
        const FlightSample s = SampleFromRecord(record);
        if (!s.has_position) return;
        const std::array<double, kColumns.size()> values{
            static_cast<double>(time.seconds - *first_),
            s.latitude_deg,
            s.longitude_deg,
            s.altitude_m / kMetresPerFoot,
            s.airspeed_kt,
            s.pitch_deg,
            s.bank_deg,
            s.heading_deg};
        for (std::size_t i = 0; i < values.size(); ++i)
            AppendNumber(columns_[i], values[i], kColumns[i].decimals);
    }

    std::string Json() const {
        std::string out = fmt::format("{{\"start\":{}", first_ ? *first_ % kSecondsPerDay : 0);
        for (std::size_t i = 0; i < kColumns.size(); ++i)
            out += fmt::format(",\"{}\":[{}]", kColumns[i].name, columns_[i]);
        return out + "}";
    }

  private:
    FlightTimeline timeline_;
    std::optional<std::int64_t> first_;
    std::array<std::string, kColumns.size()> columns_;
};

}  // namespace

Status FlightSamplesJson(const FlightRow& flight, std::string& json) {
    SampleColumns columns;
    ScanCounts counts;
    const Status status =
        ScanRecordFileRange(flight.file, static_cast<std::uint64_t>(flight.begin_offset),
                            static_cast<std::uint64_t>(flight.end_offset), columns, counts);
    if (!status.ok()) return status;
    json = columns.Json();
    return Status::Ok();
}

}  // namespace kestrun
