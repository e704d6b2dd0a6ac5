#include "export/csv_format.h"

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

    const FlightRecord r = record.Decode();
    const FlightSample s = SampleFromRecord(r);
    char* p = out_.Reserve(kMaxRow);
    // A fixed-size copy is a couple of moves; the row has room for it.
    std::memcpy(p, date_text_, sizeof date_text_);
    p += date_length_;
    *p++ = ',';
    p = WriteTimeOfDay(p, seconds - day * kSecondsPerDay);
    *p++ = ',';
    if (s.has_position) {
        p = WriteFixed<kDegreeDecimals>(p, s.latitude_deg);
        *p++ = ',';
        p = WriteFixed<kDegreeDecimals>(p, LongitudeForPrint(s.longitude_deg, kDegreeDecimals));
        *p++ = ',';
        p = WriteFixed<kAltitudeDecimals>(p, s.altitude_m);
        *p++ = ',';
        p = WriteFixed<kAltitudeDecimals>(p, s.altitude_m / kMetresPerFoot);
    } else {
        p = WriteText(p, ",,,");
    }
    *p++ = ',';
    p = WriteFixed<kAngleDecimals>(p, s.pitch_deg);
    *p++ = ',';
    p = WriteFixed<kAngleDecimals>(p, s.bank_deg);
    *p++ = ',';
    p = WriteFixed<kAngleDecimals>(p, HeadingForPrint(s.heading_deg, kAngleDecimals));
    *p++ = ',';
    if (s.has_position) p = WriteFixed<kAirspeedDecimals>(p, s.airspeed_kt);
    if (r.Header1 == kHeader1 && r.Header2 == kHeader2 && r.Header3 == kHeader3 &&
        r.Header4 == kHeader4) {
        p = WriteText(p, ",8,0,1,0");  // every record the scanner finds
    } else {
        for (const std::int16_t word : {r.Header1, r.Header2, r.Header3, r.Header4}) {
            *p++ = ',';
            p = std::to_chars(p, p + 8, word).ptr;
        }
    }
    *p++ = '\n';
    out_.Commit(p);
}

}  // namespace kestrun
