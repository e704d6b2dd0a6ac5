#include "flightgear/flightgear_datagram.h"

#include <array>
#include <charconv>
#include <cmath>
#include <system_error>

namespace kestrun {
namespace {

// Each field is at most a sign, 17 significant digits, a point and an
// exponent; anything far longer is not a datagram of ours.
constexpr std::size_t kMaxDatagramBytes = 512;

struct Range {
    double low;
    double high;
};

// What an aircraft in FlightGear can show, with room to spare: the checks
// only keep nonsense out of the host, they are not a flight envelope.
// Altitude spans the Dead Sea shore to beyond low orbit; heading may come in
// either sign; the speeds are far beyond anything FlightGear flies.
constexpr std::array<Range, kFlightGearFieldCount> kRanges = {{
    {-90.0, 90.0},         // latitude
    {-180.0, 180.0},       // longitude
    {-5000.0, 5000000.0},  // altitude, feet
    {-90.0, 90.0},         // pitch
    {-180.0, 180.0},       // roll
    {-360.0, 360.0},       // heading
    {-100.0, 2000.0},      // indicated airspeed, knots
    {-5000.0, 5000.0},     // vertical speed, feet per second
}};

}  // namespace

std::string_view VerdictText(DatagramVerdict verdict) {
    switch (verdict) {
        case DatagramVerdict::kAccepted:
            return "accepted";
        case DatagramVerdict::kWrongSender:
            return "not from the FlightGear machine";
        case DatagramVerdict::kUnterminated:
            return "no newline at its end";
        case DatagramVerdict::kShort:
            return "fewer than 8 fields";
        case DatagramVerdict::kLong:
            return "more than 8 fields or too long";
        case DatagramVerdict::kNotNumeric:
            return "a field that is not a finite number";
        case DatagramVerdict::kOutOfRange:
            return "a value out of range";
    }
    return "unknown";
}

DatagramVerdict ParseFlightGearDatagram(std::string_view datagram, FlightGearState& out) {
    if (datagram.size() > kMaxDatagramBytes) return DatagramVerdict::kLong;
    if (datagram.empty() || datagram.back() != '\n') return DatagramVerdict::kUnterminated;
    const std::string_view line = datagram.substr(0, datagram.size() - 1);

    // Split first, so that a datagram with the wrong number of fields is
    // reported as such even when its fields are junk too.
    std::array<std::string_view, kFlightGearFieldCount> fields;
    std::size_t count = 0;
    std::size_t start = 0;
    while (true) {
        const std::size_t comma = line.find(',', start);
        const std::size_t end = comma == std::string_view::npos ? line.size() : comma;
        if (count == kFlightGearFieldCount) return DatagramVerdict::kLong;
        fields[count++] = line.substr(start, end - start);
        if (comma == std::string_view::npos) break;
        start = comma + 1;
    }
    if (count < kFlightGearFieldCount) return DatagramVerdict::kShort;

    std::array<double, kFlightGearFieldCount> values{};
    bool out_of_range = false;
    for (std::size_t i = 0; i < kFlightGearFieldCount; ++i) {
        const std::string_view field = fields[i];
        const char* first = field.data();
        const char* last = field.data() + field.size();
        const auto [ptr, ec] = std::from_chars(first, last, values[i], std::chars_format::general);
        if (ec == std::errc::result_out_of_range && ptr == last) {
            out_of_range = true;
            continue;
        }
        if (ec != std::errc() || ptr != last || field.empty() || !std::isfinite(values[i])) {
            return DatagramVerdict::kNotNumeric;
        }
        if (values[i] < kRanges[i].low || values[i] > kRanges[i].high) out_of_range = true;
    }
    if (out_of_range) return DatagramVerdict::kOutOfRange;

    out.latitude_deg = values[0];
    out.longitude_deg = values[1];
    out.altitude_ft = values[2];
    out.pitch_deg = values[3];
    out.roll_deg = values[4];
    out.heading_deg = values[5];
    out.indicated_airspeed_kt = values[6];
    out.vertical_speed_fps = values[7];
    return DatagramVerdict::kAccepted;
}

}  // namespace kestrun
