#pragma once
// Flight scripts: a few bytes a record that a fuzzer can bend into any flight
// (rolls, climbs, touchdowns, pauses, clocks stepping back, links closing)
// far more often than it could by mutating 80-byte records, decoded into the
// records the recorder would write for them.
//
// Script: 4 header bytes (time of day, latitude, longitude), then 4 bytes a
// record:
//   0  time step: bits 0-2 seconds (0 to 7); with bit 7, a jump of
//      (bits 3-6) * 600 - 3000 seconds instead (a pause, a step back)
//   1  indicated airspeed in knots
//   2  altitude change, signed, in half metres
//   3  bits 0-1 ground track (0 north at the airspeed, 1 still, 2 north at
//      half of it, 3 east at it), bits 2-3 pitch, bits 4-5 bank;
//      0xF8 and above: a record without a position (a closed link)

#include <algorithm>
#include <cmath>
#include <cstddef>
#include <cstdint>
#include <random>
#include <span>
#include <string>
#include <utility>
#include <vector>

#include "record/flight_record.h"
#include "tests/support/synthetic_flight.h"
#include "tests/support/test_files.h"

namespace kestrun::fuzz {

// One scripted record: its time of day and values (zeros without a
// position, as a closed link writes them).
struct ScriptedRecord {
    testing::Flown flown;
    bool has_position = false;
};

inline std::vector<ScriptedRecord> DecodeScript(std::span<const std::uint8_t> script) {
    std::vector<ScriptedRecord> records;
    if (script.size() < 4) return records;
    constexpr std::int64_t kDay = 86400;
    constexpr double kMetresPerDegree = 111195.0;
    std::int64_t time = (std::int64_t{script[0]} << 8 | script[1]) * 2 % kDay;
    double lat = script[2] * 0.7 - 89, lon = script[3] * 1.41 - 180, alt = 100;
    for (std::size_t at = 4; at + 4 <= script.size(); at += 4) {
        const std::uint8_t step = script[at], kt = script[at + 1], climb = script[at + 2],
                           how = script[at + 3];
        const std::int64_t seconds =
            (step & 0x80) != 0 ? ((step >> 3) & 0x0F) * 600 - 3000 : step & 0x07;
        time = ((time + seconds) % kDay + kDay) % kDay;
        alt += static_cast<std::int8_t>(climb) * 0.5;
        const double metres =
            kt * 1852.0 / 3600.0 * static_cast<double>(std::max<std::int64_t>(seconds, 0));
        const int track = how & 3;
        const double moved = track == 1 ? 0 : track == 2 ? metres / 2 : metres;
        if (track == 3) {
            lon = std::fmod(lon + moved / kMetresPerDegree + 540, 360) - 180;
        } else {
            lat = std::clamp(lat + moved / kMetresPerDegree, -89.9, 89.9);
        }
        testing::Flown f{.h = static_cast<int>(time / 3600),
                         .m = static_cast<int>(time / 60 % 60),
                         .s = static_cast<int>(time % 60)};
        if (how < 0xF8) {
            f.lat = lat;
            f.lon = lon;
            f.alt_m = alt;
            f.pitch_up = ((how >> 2) & 3) * 4.0 - 4;
            f.bank_right = ((how >> 4) & 3) * 10.0 - 15;
            f.heading = track == 3 ? 90 : 0;
            f.kt = kt;
        }
        records.push_back({f, how < 0xF8});
    }
    return records;
}

// The records the recorder would write for a script.
inline std::vector<FlightRecord> RecordsFromScript(std::span<const std::uint8_t> script) {
    std::vector<FlightRecord> records;
    for (const ScriptedRecord& r : DecodeScript(script))
        records.push_back(testing::MakeRecord(r.flown));
    return records;
}

// The script of `points` from a place given by the header's latitude and
// longitude bytes: each point flies north at its airspeed from the one before.
inline std::vector<std::uint8_t> EncodeScript(const std::vector<FlightPoint>& points,
                                              std::uint8_t lat, std::uint8_t lon) {
    if (points.empty()) return {};
    const auto byte = [](long value, long low, long high) {
        return static_cast<std::uint8_t>(std::clamp(value, low, high));
    };
    std::int64_t time = (points[0].seconds - 1) % 86400 / 2 * 2;
    std::vector<std::uint8_t> script{byte(time / 2 >> 8, 0, 255), byte(time / 2 & 255, 0, 255), lat,
                                     lon};
    double alt = points[0].altitude_m;
    for (const FlightPoint& p : points) {
        // A step back or a pause is a jump of a whole number of ten minutes.
        const long step = p.seconds - std::exchange(time, p.seconds);
        const long climb =
            p.has_position ? std::clamp(std::lround((p.altitude_m - alt) * 2), -128L, 127L) : 0;
        alt += static_cast<double>(climb) * 0.5;
        const long how = byte(std::lround((p.pitch_deg + 4) / 4), 0, 3) << 2 |
                         byte(std::lround((p.bank_deg + 15) / 10), 0, 3) << 4;
        script.insert(
            script.end(),
            {0 <= step && step <= 7 ? byte(step, 0, 7)
                                    : byte(0x80 | byte((step + 3300) / 600, 0, 15) << 3, 0, 255),
             byte(std::lround(p.airspeed_kt), 0, 255),
             static_cast<std::uint8_t>(static_cast<std::int8_t>(climb)),
             p.has_position ? byte(how, 0, 255) : std::uint8_t{0xFF}});
    }
    return script;
}

// A short day of flying as a script: at rest, taxi, takeoff roll, climb,
// cruise, descent, touchdown (or a touch-and-go), roll-out and rest, with
// noise, pauses, clocks stepping back and closed links now and then.
inline std::vector<std::uint8_t> GenerateFlightScript(std::mt19937& random) {
    const auto next = [&](std::uint32_t below) { return static_cast<int>(random() % below); };
    testing::SyntheticFlight day(next(86400), next(500));
    const auto fly = [&](int records, int kt, double climb_m) {
        if (next(6) == 0) day.Pause(600 * next(16) - 3001);
        day.Fly(records, kt, day.points().back().altitude_m + climb_m);
    };
    day.Rest(3 + next(5));
    const double ground = day.points().back().altitude_m;
    for (int legs = 1 + next(2); legs > 0; --legs) {
        fly(5 + next(10), 10 + next(15), 0);
        fly(8 + next(8), 60 + next(20), 0);
        fly(15 + next(30), 90, 60 + next(100));
        fly(next(40), 100, 0);
        day.Fly(15 + next(30), 65, ground);
        if (next(4) == 0) continue;  // a touch-and-go: off again from the runway
        fly(5 + next(10), 10, 0);
        day.Rest(3 + next(8));
    }
    for (FlightPoint& p : day.points()) {
        p.altitude_m += (next(3) - 1) * 0.5;
        p.bank_deg = next(4) == 0 ? 5 : -5;
        if (next(80) == 0) p.has_position = false;
    }
    return EncodeScript(day.points(), static_cast<std::uint8_t>(60 + next(130)),
                        static_cast<std::uint8_t>(next(256)));
}

}  // namespace kestrun::fuzz
