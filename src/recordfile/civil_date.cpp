#include "recordfile/civil_date.h"

#include <charconv>
#include <cstring>
#include <ctime>

namespace kestrun {
namespace {

std::int64_t FloorDiv(std::int64_t a, std::int64_t b) {
    const std::int64_t q = a / b;
    return (a % b != 0 && ((a < 0) != (b < 0))) ? q - 1 : q;
}

bool IsLeapYear(std::int64_t year) {
    return year % 4 == 0 && (year % 100 != 0 || year % 400 == 0);
}

int DaysInMonth(std::int64_t year, int month) {
    static constexpr int kDays[] = {31, 28, 31, 30, 31, 30, 31, 31, 30, 31, 30, 31};
    return month == 2 && IsLeapYear(year) ? 29 : kDays[month - 1];
}

char* WriteTwoDigits(char* out, std::int64_t value) {
    out[0] = static_cast<char>('0' + value / 10);
    out[1] = static_cast<char>('0' + value % 10);
    return out + 2;
}

}  // namespace

// Day counting after Howard Hinnant's public-domain chrono algorithms: eras
// of 400 years make the arithmetic exact for any year.
CivilDate CivilDate::FromYmd(std::int64_t year, int month, int day) {
    year -= month <= 2 ? 1 : 0;
    const std::int64_t era = FloorDiv(year, 400);
    const std::int64_t year_of_era = year - era * 400;
    const std::int64_t day_of_year = (153 * (month + (month > 2 ? -3 : 9)) + 2) / 5 + day - 1;
    const std::int64_t day_of_era =
        year_of_era * 365 + year_of_era / 4 - year_of_era / 100 + day_of_year;
    return CivilDate{era * 146097 + day_of_era - 719468};
}

void CivilDate::ToYmd(std::int64_t& year, int& month, int& day) const {
    const std::int64_t z = days + 719468;
    const std::int64_t era = FloorDiv(z, 146097);
    const std::int64_t day_of_era = z - era * 146097;
    const std::int64_t year_of_era =
        (day_of_era - day_of_era / 1460 + day_of_era / 36524 - day_of_era / 146096) / 365;
    const std::int64_t day_of_year =
        day_of_era - (365 * year_of_era + year_of_era / 4 - year_of_era / 100);
    const std::int64_t mp = (5 * day_of_year + 2) / 153;
    day = static_cast<int>(day_of_year - (153 * mp + 2) / 5 + 1);
    month = static_cast<int>(mp < 10 ? mp + 3 : mp - 9);
    year = year_of_era + era * 400 + (month <= 2 ? 1 : 0);
}

bool IsWritableDate(CivilDate date) {
    static const CivilDate first = CivilDate::FromYmd(1, 1, 1);
    static const CivilDate last = CivilDate::FromYmd(9999, 12, 31);
    return date.days >= first.days && date.days <= last.days;
}

std::optional<CivilDate> ParseCivilDate(std::string_view text) {
    if (text.size() != 10 || text[4] != '-' || text[7] != '-') return std::nullopt;
    auto number = [&](std::size_t from, std::size_t length, int& value) {
        for (std::size_t i = from; i < from + length; ++i) {
            if (text[i] < '0' || text[i] > '9') return false;
        }
        return std::from_chars(text.data() + from, text.data() + from + length, value).ec ==
               std::errc{};
    };
    int year = 0;
    int month = 0;
    int day = 0;
    if (!number(0, 4, year) || !number(5, 2, month) || !number(8, 2, day)) return std::nullopt;
    if (year < 1 || month < 1 || month > 12 || day < 1 || day > DaysInMonth(year, month)) {
        return std::nullopt;
    }
    return CivilDate::FromYmd(year, month, day);
}

char* WriteCivilDate(char* out, CivilDate date) {
    std::int64_t year = 0;
    int month = 0;
    int day = 0;
    date.ToYmd(year, month, day);
    if (year < 0) {
        *out++ = '-';
        year = -year;
    }
    for (std::int64_t width = 1000; width > 1 && year < width; width /= 10) *out++ = '0';
    out = std::to_chars(out, out + 20, year).ptr;
    *out++ = '-';
    out = WriteTwoDigits(out, month);
    *out++ = '-';
    return WriteTwoDigits(out, day);
}

std::string FormatCivilDate(CivilDate date) {
    char text[24];
    return std::string(text, WriteCivilDate(text, date));
}

void LocalDateAndTime(std::int64_t epoch_seconds, CivilDate& date, std::int64_t& second_of_day) {
    const std::time_t moment = static_cast<std::time_t>(epoch_seconds);
    std::tm local{};
    if (localtime_r(&moment, &local) == nullptr) {
        // Beyond what the C library can represent: fall back to UTC arithmetic,
        // in a form that cannot overflow at either end of the 64-bit range.
        date = CivilDate{FloorDiv(epoch_seconds, kSecondsPerDay)};
        const std::int64_t rest = epoch_seconds % kSecondsPerDay;
        second_of_day = rest < 0 ? rest + kSecondsPerDay : rest;
        return;
    }
    date = CivilDate::FromYmd(std::int64_t{local.tm_year} + 1900, local.tm_mon + 1, local.tm_mday);
    // A leap second shows as :60; the recorder's clock never writes one.
    const int second = local.tm_sec > 59 ? 59 : local.tm_sec;
    second_of_day = std::int64_t{local.tm_hour} * 3600 + local.tm_min * 60 + second;
}

std::int64_t LocalToUtc::LookUp(CivilDate date, std::int64_t second_of_day) {
    const std::int64_t local = date.days * kSecondsPerDay + second_of_day;
    std::int64_t year = 0;
    int month = 0;
    int day = 0;
    date.ToYmd(year, month, day);
    std::tm fields{};
    fields.tm_year = static_cast<int>(year - 1900);
    fields.tm_mon = month - 1;
    fields.tm_mday = day;
    fields.tm_hour = static_cast<int>(second_of_day / 3600);
    fields.tm_min = static_cast<int>(second_of_day / 60 % 60);
    fields.tm_sec = static_cast<int>(second_of_day % 60);
    fields.tm_isdst = -1;
    const std::time_t utc = std::mktime(&fields);
    cached_offset_ = utc == static_cast<std::time_t>(-1) ? 0 : local - std::int64_t{utc};
    // Clock changes fall on quarter hours of local time, so one offset holds
    // for a whole quarter.
    cached_begin_ = FloorDiv(local, 900) * 900;
    cached_end_ = cached_begin_ + 900;
    return local - cached_offset_;
}

char* WriteUtcTimestamp(char* out, std::int64_t epoch_seconds) {
    const CivilDate date{FloorDiv(epoch_seconds, kSecondsPerDay)};
    out = WriteCivilDate(out, date);
    *out++ = 'T';
    out = WriteTimeOfDay(out, epoch_seconds - date.days * kSecondsPerDay);
    *out++ = 'Z';
    return out;
}

}  // namespace kestrun
