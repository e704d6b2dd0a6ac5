#include "tools/csv_format.h"

#include <charconv>
#include <cstring>

namespace kestrun {
namespace {

constexpr int kDegreeDecimals = 7;  // about a centimetre
constexpr int kAngleDecimals = 3;
constexpr int kAltitudeDecimals = 2;
constexpr int kAirspeedDecimals = 2;
// Longest row: a date, a time, nine numbers and four header words.
constexpr std::size_t kMaxRow = 24 + 9 + 9 * 49 + 4 * 8;

}  // namespace

void CsvFormat::BeginDocument() {
    out_.Append(
        "date,time,latitude_deg,longitude_deg,altitude_m,altitude_ft,pitch_deg,bank_deg,"
        "heading_deg,airspeed_kt,header1,header2,header3,header4\n");
}

void CsvFormat::BeginFlight(const FlightInfo& flight) {
    first_date_ = flight.first_date;
    day_ = -1;
}

void CsvFormat::AddRecord(const TimedRecord& record) {
    const std::int64_t seconds = record.time.seconds;
    const std::int64_t day = seconds / kSecondsPerDay;
    if (day != day_) {
        day_ = day;
        date_length_ = static_cast<std::size_t>(WriteCivilDate(date_text_, first_date_.Plus(day)) -
                                                date_text_);
    }

    const FlightSample& s = record.sample;
    char* p = out_.Reserve(kMaxRow);
    std::memcpy(p, date_text_, date_length_);
    p += date_length_;
    *p++ = ',';
    p = WriteTimeOfDay(p, seconds - day * kSecondsPerDay);
    *p++ = ',';
    if (s.has_position) {
        p = WriteFixed(p, s.latitude_deg, kDegreeDecimals);
        *p++ = ',';
        p = WriteFixed(p, LongitudeForPrint(s.longitude_deg, kDegreeDecimals), kDegreeDecimals);
        *p++ = ',';
        p = WriteFixed(p, s.altitude_m, kAltitudeDecimals);
        *p++ = ',';
        p = WriteFixed(p, s.altitude_m / kMetresPerFoot, kAltitudeDecimals);
    } else {
        p = WriteText(p, ",,,");
    }
    *p++ = ',';
    p = WriteFixed(p, s.pitch_deg, kAngleDecimals);
    *p++ = ',';
    p = WriteFixed(p, s.bank_deg, kAngleDecimals);
    *p++ = ',';
    p = WriteFixed(p, HeadingForPrint(s.heading_deg, kAngleDecimals), kAngleDecimals);
    *p++ = ',';
    if (s.has_position) p = WriteFixed(p, s.airspeed_kt, kAirspeedDecimals);
    for (const std::int16_t word : {record.record.Header1, record.record.Header2,
                                    record.record.Header3, record.record.Header4}) {
        *p++ = ',';
        p = std::to_chars(p, p + 8, word).ptr;
    }
    *p++ = '\n';
    out_.Commit(p);
}

}  // namespace kestrun
