#include "export/igc_format.h"

#include <fmt/format.h>

#include <algorithm>
#include <cmath>
#include <cstring>
#include <string>
#include <string_view>

namespace kestrun {
namespace {

constexpr double kKilometresPerHourPerKnot = 1.852;

// Exactly `digits` decimal digits of `value`, which is below 10^digits: every
// field of a fix has a fixed width, and millions of fixes are written.
char* WriteDigits(char* out, std::int64_t value, int digits) {
    auto v = static_cast<std::uint64_t>(value);
    for (int i = digits - 1; i >= 0; --i) {
        out[i] = static_cast<char>('0' + v % 10);
        v /= 10;
    }
    return out + digits;
}

// Degrees as whole degrees and thousandths of minutes, rounded once so
// that 59.9996 minutes becomes the next degree rather than minute 60.
char* WriteAngle(char* out, double degrees, int degree_digits, char positive, char negative) {
    const auto thousandths = static_cast<std::int64_t>(std::llround(std::fabs(degrees) * 60000));
    out = WriteDigits(out, thousandths / 60000, degree_digits);
    out = WriteDigits(out, thousandths % 60000, 5);
    *out++ = degrees < 0 ? negative : positive;
    return out;
}

// Five characters; below sea level with a leading minus, as IGC writes it.
char* WriteAltitude(char* out, double metres) {
    const auto whole = std::clamp<std::int64_t>(std::llround(metres), -9999, 99999);
    if (whole >= 0) return WriteDigits(out, whole, 5);
    *out++ = '-';
    return WriteDigits(out, -whole, 4);
}

// IGC lines are printable ASCII of at most 76 characters. Free text keeps
// what is ASCII; any other character becomes one '?', a control a space, and
// what does not fit the line is cut off.
constexpr std::size_t kIgcLineLength = 76;

std::string IgcHeaderLine(std::string_view key, std::string_view text) {
    std::string line(key);
    for (const char c : text) {
        if (line.size() >= kIgcLineLength) break;
        const auto byte = static_cast<unsigned char>(c);
        if (byte >= 0x20 && byte < 0x7f) {
            line += c;
        } else if (byte < 0x20 || byte == 0x7f) {
            line += ' ';
        } else if ((byte & 0xc0) != 0x80) {
            line += '?';  // the first byte of a UTF-8 character; the others are left out
        }
    }
    return line + "\r\n";
}

}  // namespace

char* WriteIgcFix(char* out, const IgcFix& fix) {
    const std::int64_t t = fix.utc_second_of_day;
    *out++ = 'B';
    out = WriteDigits(out, t / 3600, 2);
    out = WriteDigits(out, t / 60 % 60, 2);
    out = WriteDigits(out, t % 60, 2);
    out = WriteAngle(out, fix.latitude_deg, 2, 'N', 'S');
    out = WriteAngle(out, fix.longitude_deg, 3, 'E', 'W');
    *out++ = 'A';
    // The same altitude twice, as pressure and as GPS altitude.
    char* const altitude = out;
    out = WriteAltitude(out, fix.altitude_m);
    std::memcpy(out, altitude, 5);
    out += 5;
    const auto kmh =
        std::clamp<std::int64_t>(std::llround(fix.airspeed_kt * kKilometresPerHourPerKnot), 0, 999);
    const std::int64_t heading = std::llround(fix.heading_deg) % 360;
    out = WriteDigits(out, kmh, 3);
    out = WriteDigits(out, heading, 3);
    *out++ = '\r';
    *out++ = '\n';
    return out;
}

void IgcFormat::BeginFlight(const FlightInfo& flight) {
    first_date_ = flight.first_date;
    pilot_fields_ = flight.pilot_fields;
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
                    "{}"
                    "HFCM2CREW2:\r\n"
                    "{}"
                    "{}"
                    "HFDTM100GPSDATUM:WGS-1984\r\n"
                    "HFRFWFIRMWAREVERSION:{}\r\n"
                    "HFFTYFRTYPE:Kestrun,Digital Flight Recorder\r\n"
                    "HFALGALTGPS:GEO\r\n"
                    "HFALPALTPRESSURE:ISA\r\n"
                    "I023638IAS3941HDT\r\n",
                    day, month, (year % 100 + 100) % 100,
                    IgcHeaderLine("HFPLTPILOTINCHARGE:", pilot_fields_.pilot),
                    IgcHeaderLine("HFGTYGLIDERTYPE:", pilot_fields_.aircraft),
                    IgcHeaderLine("HFGIDGLIDERID:", pilot_fields_.registration),
                    KESTRUN_PROJECT_VERSION));
    header_written_ = true;
}

void IgcFormat::AddRecord(const TimedRecord& record) {
    // Position, altitude, airspeed and heading; IGC has no attitude.
    const FlightRecord r = record.Decode();
    const FlightSample s = PlaceFromRecord(r);
    if (!s.has_position) return;
    const std::int64_t utc = to_utc_.ConvertFrom(first_date_, record.time.seconds);
    const std::int64_t day = utc >= 0 ? utc / kSecondsPerDay : (utc + 1) / kSecondsPerDay - 1;
    if (!header_written_) WriteHeader(CivilDate{day});
    char* p = out_.Reserve(kIgcFixLength + 2);
    p = WriteIgcFix(p, IgcFix{utc - day * kSecondsPerDay, s.latitude_deg, s.longitude_deg,
                              s.altitude_m, AirspeedFromHost(r.IAS), HeadingFromHost(r.Heading)});
    out_.Commit(p);
}

void IgcFormat::EndFlight(const FlightInfo& flight, const ScanCounts&, const FlightTimeline&) {
    // A file without a single fix is still a well-formed IGC file.
    if (!header_written_) WriteHeader(flight.first_date);
}

}  // namespace kestrun
