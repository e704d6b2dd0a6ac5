#include "export/igc_format.h"

#include <fmt/format.h>

#include <algorithm>
#include <cmath>

namespace kestrun {
namespace {

constexpr double kKilometresPerHourPerKnot = 1.852;

// Degrees as whole degrees and thousandths of minutes, rounded once so
// that 59.9996 minutes becomes the next degree rather than minute 60.
char* WriteAngle(char* out, double degrees, int degree_digits, char positive, char negative) {
    const auto thousandths = static_cast<std::int64_t>(std::llround(std::fabs(degrees) * 60000));
    out =
        fmt::format_to(out, "{:0{}}{:05}", thousandths / 60000, degree_digits, thousandths % 60000);
    *out++ = degrees < 0 ? negative : positive;
    return out;
}

// Five characters; below sea level with a leading minus, as IGC writes it.
char* WriteAltitude(char* out, double metres) {
    const auto whole = std::clamp<std::int64_t>(std::llround(metres), -9999, 99999);
    return whole < 0 ? fmt::format_to(out, "-{:04}", -whole) : fmt::format_to(out, "{:05}", whole);
}

}  // namespace

char* WriteIgcFix(char* out, const IgcFix& fix) {
    const std::int64_t t = fix.utc_second_of_day;
    out = fmt::format_to(out, "B{:02}{:02}{:02}", t / 3600, t / 60 % 60, t % 60);
    out = WriteAngle(out, fix.latitude_deg, 2, 'N', 'S');
    out = WriteAngle(out, fix.longitude_deg, 3, 'E', 'W');
    *out++ = 'A';
    out = WriteAltitude(out, fix.altitude_m);
    out = WriteAltitude(out, fix.altitude_m);
    const auto kmh =
        std::clamp<std::int64_t>(std::llround(fix.airspeed_kt * kKilometresPerHourPerKnot), 0, 999);
    const std::int64_t heading = std::llround(fix.heading_deg) % 360;
    out = fmt::format_to(out, "{:03}{:03}\r\n", kmh, heading);
    return out;
}

void IgcFormat::BeginFlight(const FlightInfo& flight) {
    first_date_ = flight.first_date;
    header_written_ = false;
}

void IgcFormat::WriteHeader(CivilDate utc_date) {
    std::int64_t year = 0;
    int month = 0, day = 0;
    utc_date.ToYmd(year, month, day);
    // "X" and two letters: a recorder that the gliding commission has not
    // approved, as such recorders name themselves.
    out_.Append(
        fmt::format("AXKR001 Kestrun Digital Flight Recorder\r\n"
                    "HFDTE{:02}{:02}{:02}\r\n"
                    "HFFXA100\r\n"
                    "HFPLTPILOTINCHARGE:\r\n"
                    "HFCM2CREW2:\r\n"
                    "HFGTYGLIDERTYPE:\r\n"
                    "HFGIDGLIDERID:\r\n"
                    "HFDTM100GPSDATUM:WGS-1984\r\n"
                    "HFRFWFIRMWAREVERSION:1.0\r\n"
                    "HFFTYFRTYPE:Kestrun,Digital Flight Recorder\r\n"
                    "HFALGALTGPS:GEO\r\n"
                    "HFALPALTPRESSURE:ISA\r\n"
                    "I023638IAS3941HDT\r\n",
                    day, month, (year % 100 + 100) % 100));
    header_written_ = true;
}

void IgcFormat::AddRecord(const TimedRecord& record) {
    const FlightSample s = SampleFromRecord(record.record);
    if (!s.has_position) return;
    const std::int64_t utc = to_utc_.ConvertFrom(first_date_, record.time.seconds);
    const std::int64_t day = utc >= 0 ? utc / kSecondsPerDay : (utc + 1) / kSecondsPerDay - 1;
    if (!header_written_) WriteHeader(CivilDate{day});
    char* p = out_.Reserve(kIgcFixLength + 2);
    p = WriteIgcFix(p, IgcFix{utc - day * kSecondsPerDay, s.latitude_deg, s.longitude_deg,
                              s.altitude_m, s.airspeed_kt, s.heading_deg});
    out_.Commit(p);
}

void IgcFormat::EndFlight(const FlightInfo& flight, const ScanCounts&, const FlightTimeline&) {
    // A file without a single fix is still a well-formed IGC file.
    if (!header_written_) WriteHeader(flight.first_date);
}

}  // namespace kestrun
