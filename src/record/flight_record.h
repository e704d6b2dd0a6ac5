#pragma once
// FlightRecord: one second of flight, 80 bytes in the file, little-endian,
// fields back to back with no gaps and no file header.
//
//   offset size field             content
//   0      2    Header1           8
//   2      2    Header2           0
//   4      2    Header3           1
//   6      2    Header4           0
//   8      2    Hour              local time of day, 0..23
//   10     2    Minute            0..59
//   12     2    Second            0..59
//   14     8    Latitude          host 0x0560, raw
//   22     8    Longitude         host 0x0568, raw
//   30     4    AltitudeFraction  host 0x0570, raw
//   34     4    AltitudeMetres    host 0x0574, raw
//   38     4    Pitch             host 0x0578, raw
//   42     4    Bank              host 0x057C, raw
//   46     4    Heading           host 0x0580, raw
//   50     4    Reserved1         zero
//   54     4    IAS               host 0x02BC, raw
//   58     22   Reserved2         zero
//
// Host values are kept as the host delivered them; nothing is scaled. The
// in-memory fields below are plain integers (the host's byte order is little
// endian too), and EncodeFlightRecord lays them out explicitly.

#include <array>
#include <cstddef>
#include <cstdint>
#include <cstring>

#include "protocol/little_endian.h"

namespace kestrun {

inline constexpr std::size_t kFlightRecordSize = 80;
inline constexpr std::int16_t kHeader1 = 8;
inline constexpr std::int16_t kHeader2 = 0;
inline constexpr std::int16_t kHeader3 = 1;
inline constexpr std::int16_t kHeader4 = 0;

namespace record_offset {
inline constexpr std::size_t kHeader1 = 0;
inline constexpr std::size_t kHeader2 = 2;
inline constexpr std::size_t kHeader3 = 4;
inline constexpr std::size_t kHeader4 = 6;
inline constexpr std::size_t kHour = 8;
inline constexpr std::size_t kMinute = 10;
inline constexpr std::size_t kSecond = 12;
inline constexpr std::size_t kLatitude = 14;
inline constexpr std::size_t kLongitude = 22;
inline constexpr std::size_t kAltitudeFraction = 30;
inline constexpr std::size_t kAltitudeMetres = 34;
inline constexpr std::size_t kPitch = 38;
inline constexpr std::size_t kBank = 42;
inline constexpr std::size_t kHeading = 46;
inline constexpr std::size_t kReserved1 = 50;
inline constexpr std::size_t kIAS = 54;
inline constexpr std::size_t kReserved2 = 58;
inline constexpr std::size_t kEnd = 80;
}  // namespace record_offset

static_assert(record_offset::kReserved2 + 22 == kFlightRecordSize);
static_assert(record_offset::kIAS + 4 == record_offset::kReserved2);
static_assert(record_offset::kLatitude + 8 == record_offset::kLongitude);

struct FlightRecord {
    std::int16_t Header1 = 0;
    std::int16_t Header2 = 0;
    std::int16_t Header3 = 0;
    std::int16_t Header4 = 0;
    std::int16_t Hour = 0;
    std::int16_t Minute = 0;
    std::int16_t Second = 0;
    std::int64_t Latitude = 0;
    std::int64_t Longitude = 0;
    std::uint32_t AltitudeFraction = 0;
    std::int32_t AltitudeMetres = 0;
    std::int32_t Pitch = 0;
    std::int32_t Bank = 0;
    std::uint32_t Heading = 0;
    std::int32_t IAS = 0;
};

using FlightRecordBytes = std::array<std::byte, kFlightRecordSize>;

// Lays `record` out as its 80 file bytes (reserved fields zero).
FlightRecordBytes EncodeFlightRecord(const FlightRecord& record);
// Reads the fields back from 80 bytes; reserved bytes are ignored. Inline:
// a reader of millions of records that uses a few fields pays for those.
[[gnu::always_inline]] inline FlightRecord DecodeFlightRecord(const std::byte* p) {
    namespace at = record_offset;
    FlightRecord record;
    record.Header1 = LoadI16(p + at::kHeader1);
    record.Header2 = LoadI16(p + at::kHeader2);
    record.Header3 = LoadI16(p + at::kHeader3);
    record.Header4 = LoadI16(p + at::kHeader4);
    record.Hour = LoadI16(p + at::kHour);
    record.Minute = LoadI16(p + at::kMinute);
    record.Second = LoadI16(p + at::kSecond);
    record.Latitude = LoadI64(p + at::kLatitude);
    record.Longitude = LoadI64(p + at::kLongitude);
    record.AltitudeFraction = LoadU32(p + at::kAltitudeFraction);
    record.AltitudeMetres = LoadI32(p + at::kAltitudeMetres);
    record.Pitch = LoadI32(p + at::kPitch);
    record.Bank = LoadI32(p + at::kBank);
    record.Heading = LoadU32(p + at::kHeading);
    record.IAS = LoadI32(p + at::kIAS);
    return record;
}

// True when the first 8 bytes are the four header words 8, 0, 1, 0: one
// 8-byte comparison where it is inlined, as the scanner makes it for every
// record.
inline bool HasRecordHeader(const std::byte* p) {
    constexpr unsigned char kHeaderBytes[8] = {8, 0, 0, 0, 1, 0, 0, 0};
    return std::memcmp(p, kHeaderBytes, sizeof kHeaderBytes) == 0;
}

// A record from all zeros with the four header words 8, 0, 1, 0.
FlightRecord BlankFlightRecord();

}  // namespace kestrun
