#pragma once
// Calendar dates without a time zone, and the one place where a local date and
// time of day becomes UTC. Records carry only the local time of day; the date
// comes from the user or from the file, and GPX and KML want UTC.

#include <cstdint>
#include <limits>
#include <optional>
#include <string>
#include <string_view>

namespace kestrun {

inline constexpr std::int64_t kSecondsPerDay = 86400;

// A day of the proleptic Gregorian calendar, counted from 1970-01-01.
struct CivilDate {
    std::int64_t days = 0;

    static CivilDate FromYmd(std::int64_t year, int month, int day);
    void ToYmd(std::int64_t& year, int& month, int& day) const;
    CivilDate Plus(std::int64_t n) const { return CivilDate{days + n}; }
    bool operator==(const CivilDate&) const = default;
};

// Whether `date` lies in the years 1 to 9999, the dates every reader of the
// exported formats takes (GPX's schema knows no year 0, and four digits are
// what CSV readers expect).
bool IsWritableDate(CivilDate date);

// Parses exactly "YYYY-MM-DD" (years 0001 to 9999) and rejects dates that do
// not exist, such as 2023-02-29. Empty when the text is not such a date.
std::optional<CivilDate> ParseCivilDate(std::string_view text);

// "YYYY-MM-DD"; years beyond four digits are written in full.
std::string FormatCivilDate(CivilDate date);
// Writes "YYYY-MM-DD" to `out` and returns the end; `out` needs 24 chars.
char* WriteCivilDate(char* out, CivilDate date);
// Writes "HH:MM:SS" for a second of the day (0..86399) and returns the end.
// Inline and in 32 bits: exporters write one for each of millions of records.
inline char* WriteTimeOfDay(char* out, std::int64_t second_of_day) {
    const auto of_day = static_cast<std::uint32_t>(second_of_day);
    const std::uint32_t hour = of_day / 3600;
    const std::uint32_t minute = (of_day - hour * 3600) / 60;
    const std::uint32_t second = of_day - hour * 3600 - minute * 60;
    const auto two = [](char* p, std::uint32_t value) {
        const std::uint32_t tens = value / 10;
        p[0] = static_cast<char>('0' + tens);
        p[1] = static_cast<char>('0' + (value - tens * 10));
    };
    two(out, hour);
    out[2] = ':';
    two(out + 3, minute);
    out[5] = ':';
    two(out + 6, second);
    return out + 8;
}

// The local date and second of the day of a moment (seconds since the epoch),
// in the time zone of this process (TZ, else the system's zone). Any 64-bit
// moment is taken; those the C library cannot place are counted in UTC.
void LocalDateAndTime(std::int64_t epoch_seconds, CivilDate& date, std::int64_t& second_of_day);

// Converts local dates and times of day to seconds since the epoch, in this
// process's time zone. A local time that a clock change skips or repeats gets
// the zone's usual resolution. The offset is looked up once per quarter of an
// hour of local time, so a long flight costs few time-zone look-ups.
class LocalToUtc {
  public:
    std::int64_t Convert(CivilDate date, std::int64_t second_of_day) {
        const std::int64_t local = date.days * kSecondsPerDay + second_of_day;
        if (local >= cached_begin_ && local < cached_end_) return local - cached_offset_;
        return LookUp(date, second_of_day);
    }
    // The moment `seconds` after local midnight of `first_date`, as a flight's
    // timeline counts them (past 86399 on the days after).
    std::int64_t ConvertFrom(CivilDate first_date, std::int64_t seconds) {
        const std::int64_t local = first_date.days * kSecondsPerDay + seconds;
        if (local >= cached_begin_ && local < cached_end_) return local - cached_offset_;
        const std::int64_t day = seconds / kSecondsPerDay;
        return LookUp(first_date.Plus(day), seconds - day * kSecondsPerDay);
    }

  private:
    // Asks the C library for the offset of the quarter hour holding the time.
    std::int64_t LookUp(CivilDate date, std::int64_t second_of_day);

    // The local seconds [begin, end) of the quarter hour last looked up.
    std::int64_t cached_begin_ = std::numeric_limits<std::int64_t>::max();
    std::int64_t cached_end_ = std::numeric_limits<std::int64_t>::min();
    std::int64_t cached_offset_ = 0;
};

// Writes "YYYY-MM-DDTHH:MM:SSZ" for seconds since the epoch; returns the end.
// `out` needs 32 chars.
char* WriteUtcTimestamp(char* out, std::int64_t epoch_seconds);

}  // namespace kestrun
