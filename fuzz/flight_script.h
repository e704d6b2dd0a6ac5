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
#include <vector>

#include "record/flight_record.h"
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

// A short day of flying as a script: at rest, taxi, takeoff roll, climb,
// cruise, descent, touchdown (or a touch-and-go), roll-out and rest, with
// noise, pauses and closed links now and then.
inline std::vector<std::uint8_t> GenerateFlightScript(std::mt19937& random) {
    const auto next = [&](std::uint32_t below) {
        return static_cast<std::uint32_t>(random() % below);
    };
    std::vector<std::uint8_t> script{
        static_cast<std::uint8_t>(next(256)), static_cast<std::uint8_t>(next(256)),
        static_cast<std::uint8_t>(60 + next(130)), static_cast<std::uint8_t>(next(256))};
    const auto fly = [&](std::uint32_t records, int kt_from, int kt_to, int climb_half_metres) {
        for (std::uint32_t i = 0; i < records; ++i) {
            const int kt =
                kt_from + (kt_to - kt_from) * static_cast<int>(i + 1) / static_cast<int>(records);
            std::uint8_t step = 1, how = static_cast<std::uint8_t>(next(4) == 0 ? 0x24 : 0x14);
            if (next(60) == 0) step = static_cast<std::uint8_t>(0x80 | next(128));
            if (next(80) == 0) how = 0xFF;
            const int noise = static_cast<int>(next(3)) - 1;
            script.insert(script.end(),
                          {step, static_cast<std::uint8_t>(std::clamp(kt, 0, 255)),
                           static_cast<std::uint8_t>(climb_half_metres + noise), how});
        }
    };
    fly(3 + next(5), 0, 0, 0);
    for (auto legs = 1 + next(2); legs > 0; --legs) {
        fly(5 + next(10), 0, 10 + static_cast<int>(next(15)), 0);
        fly(8 + next(8), 15, 60 + static_cast<int>(next(20)), 0);
        fly(15 + next(30), 70, 90, 4 + static_cast<int>(next(8)));
        fly(next(40), 90, 100, 0);
        fly(15 + next(30), 90, 65, -4 - static_cast<int>(next(6)));
        if (next(4) == 0) continue;  // a touch-and-go: off again from the runway
        fly(5 + next(10), 60, 10, 0);
        fly(3 + next(8), 0, 0, 0);
    }
    return script;
}

}  // namespace kestrun::fuzz
