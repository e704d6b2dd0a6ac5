#include "pages/flight_samples.h"

#include <fmt/format.h>

#include <algorithm>
#include <array>
#include <cstring>
#include <memory>
#include <optional>
#include <span>
#include <string_view>

#include "export/output_buffer.h"
#include "protocol/host_units.h"
#include "recordfile/civil_date.h"
#include "recordfile/flight_sample.h"
#include "recordfile/flight_timeline.h"
#include "recordfile/record_file.h"

namespace kestrun {
namespace {

// The columns in the order written. Each keeps the decimals given where it is
// written below: a millionth of a degree is 0.1 m, a foot and a tenth of a
// knot or degree are finer than the records' own noise.
constexpr std::array<const char*, 8> kColumns{"t",      "lat",       "lon",      "alt_ft",
                                              "ias_kt", "pitch_deg", "bank_deg", "heading_deg"};

// Text that grows at its end and is written in place: a long flight's page
// holds hundreds of thousands of numbers, and each should cost its digits.
class ColumnText {
  public:
    char* Room(std::size_t n) {
        if (capacity_ - size_ < n) Grow(n);
        return data_.get() + size_;
    }
    void Commit(const char* end) { size_ = static_cast<std::size_t>(end - data_.get()); }
    std::string_view view() const { return {data_.get(), size_}; }

  private:
    void Grow(std::size_t n) {
        const std::size_t capacity = std::max({2 * capacity_, size_ + n, std::size_t{4096}});
        auto data = std::make_unique_for_overwrite<char[]>(capacity);
        if (size_ > 0) std::memcpy(data.get(), data_.get(), size_);
        data_ = std::move(data);
        capacity_ = capacity;
    }

    std::unique_ptr<char[]> data_;
    std::size_t size_ = 0;
    std::size_t capacity_ = 0;
};

// `value` with at most `Decimals` decimals, rounded half away from zero,
// trailing zeros dropped and never "-0", so that each number costs only the
// characters it needs; after a comma unless it is the column's first.
template <int Decimals>
[[gnu::always_inline]] inline void AppendNumber(ColumnText& column, double value) {
    char* p = column.Room(64);
    if (!column.view().empty()) *p++ = ',';
    p = WriteFixed<Decimals>(p, value);
    if constexpr (Decimals > 0) {
        while (p[-1] == '0') --p;
        if (p[-1] == '.') --p;
    }
    column.Commit(p);
}

class SampleColumns final : public RecordSink {
  public:
    void OnRun(std::span<const std::byte> bytes, std::uint64_t) override {
        for (std::size_t at = 0; at < bytes.size(); at += kFlightRecordSize)
            SampleColumns::OnRecord(DecodeFlightRecord(bytes.data() + at), 0);
    }
    void OnRecord(const FlightRecord& record, std::uint64_t) override {
        const TimePlacement time = timeline_.Place(record.Hour, record.Minute, record.Second);
        if (!first_) first_ = time.seconds;
        const FlightSample s = SampleFromRecord(record);
        if (!s.has_position) return;
        AppendNumber<0>(columns_[0], static_cast<double>(time.seconds - *first_));
        AppendNumber<6>(columns_[1], s.latitude_deg);
        AppendNumber<6>(columns_[2], s.longitude_deg);
        AppendNumber<0>(columns_[3], s.altitude_m / kMetresPerFoot);
        AppendNumber<1>(columns_[4], s.airspeed_kt);
        AppendNumber<1>(columns_[5], s.pitch_deg);
        AppendNumber<1>(columns_[6], s.bank_deg);
        AppendNumber<0>(columns_[7], s.heading_deg);
    }

    std::string Json() const {
        std::string out = fmt::format("{{\"start\":{}", first_ ? *first_ % kSecondsPerDay : 0);
        std::size_t size = out.size() + 1;
        for (const ColumnText& column : columns_) size += column.view().size() + 24;
        out.reserve(size);
        for (std::size_t i = 0; i < kColumns.size(); ++i) {
            out.append(",\"").append(kColumns[i]).append("\":[");
            out.append(columns_[i].view()).append("]");
        }
        return out + "}";
    }

  private:
    FlightTimeline timeline_;
    std::optional<std::int64_t> first_;
    std::array<ColumnText, kColumns.size()> columns_;
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
