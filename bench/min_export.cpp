// The least an export can cost: a plain program that writes the same bytes as
// `kestrun-export FILE --format csv|gpx|kml|igc --date D` for a sound record
// file (whole records back to back), and nothing else. The file is mapped,
// the output goes through one 1 MiB buffer straight to standard output, the
// digits are written by hand, and every conversion and rounding is the
// exporter's. It is a benchmark's yardstick, not a tool: it refuses any file
// the scanner would have to search through.
//   min_export FILE csv|gpx|kml|igc YYYY-MM-DD

#include <fcntl.h>
#include <sys/mman.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cmath>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <string>
#include <string_view>

namespace {

constexpr std::size_t kRecord = 80;
constexpr std::int64_t kDay = 86400;
constexpr std::int64_t kGap = 5;

// ---- output: one buffer, written when full ----
char buffer[1 << 20];
std::size_t used = 0;

void Flush() {
    std::size_t at = 0;
    while (at < used) {
        const ssize_t n = ::write(1, buffer + at, used - at);
        if (n <= 0) {
            std::perror("write");
            std::exit(1);
        }
        at += static_cast<std::size_t>(n);
    }
    used = 0;
}
// Room for `n` bytes at the returned pointer.
char* Room(std::size_t n) {
    if (sizeof buffer - used < n) Flush();
    return buffer + used;
}
void Done(char* end) {
    used = static_cast<std::size_t>(end - buffer);
}
void Put(std::string_view text) {
    char* p = Room(text.size());
    std::memcpy(p, text.data(), text.size());
    Done(p + text.size());
}
char* Text(char* p, std::string_view text) {
    std::memcpy(p, text.data(), text.size());
    return p + text.size();
}

// ---- digits ----
constexpr char kPairs[] =
    "00010203040506070809101112131415161718192021222324252627282930313233343536373839"
    "40414243444546474849505152535455565758596061626364656667686970717273747576777879"
    "8081828384858687888990919293949596979899";

inline char* Two(char* p, std::uint64_t v) {
    std::memcpy(p, kPairs + 2 * v, 2);
    return p + 2;
}
inline char* Two(char* p, std::int64_t v) {
    return Two(p, static_cast<std::uint64_t>(v));
}
inline char* Two(char* p, std::uint32_t v) {
    return Two(p, std::uint64_t{v});
}
inline char* Two(char* p, int v) {
    return Two(p, static_cast<std::uint64_t>(v));
}
char* Digits(char* p, std::uint64_t v, int width) {
    for (int i = width - 1; i >= 0; --i) {
        p[i] = static_cast<char>('0' + v % 10);
        v /= 10;
    }
    return p + width;
}
// The whole part: one to five digits nearly always.
[[gnu::always_inline]] inline char* Whole(char* p, std::uint64_t v) {
    if (v >= 100000) {
        char tmp[24];
        int n = 0;
        do {
            tmp[n++] = static_cast<char>('0' + v % 10);
            v /= 10;
        } while (v != 0);
        while (n > 0) *p++ = tmp[--n];
        return p;
    }
    const auto u = static_cast<std::uint32_t>(v);
    if (u < 10) {
        *p = static_cast<char>('0' + u);
        return p + 1;
    }
    if (u < 100) return Two(p, u);
    if (u < 1000) {
        *p = static_cast<char>('0' + u / 100);
        return Two(p + 1, u % 100);
    }
    if (u < 10000) return Two(Two(p, u / 100), u % 100);
    *p = static_cast<char>('0' + u / 10000);
    return Two(Two(p + 1, u / 100 % 100), u % 100);
}

// Exactly D decimals, half away from zero, never "-0".
template <int D>
[[gnu::always_inline]] inline char* Fixed(char* p, double value) {
    constexpr std::uint64_t scale = D == 7 ? 10000000 : D == 3 ? 1000 : 100;
    const double scaled = value * static_cast<double>(scale);
    if (!(scaled < 9.0e15 && scaled > -9.0e15)) {
        return p + std::snprintf(p, 48, "%.*f", D, value);
    }
    auto r = static_cast<std::int64_t>(scaled);
    const double rest = scaled - static_cast<double>(r);
    if (rest >= 0.5) ++r;
    if (rest <= -0.5) --r;
    if (r < 0) {
        *p++ = '-';
        r = -r;
    }
    const auto m = static_cast<std::uint64_t>(r);
    p = Whole(p, m / scale);
    *p++ = '.';
    auto fraction = static_cast<std::uint32_t>(m % scale);
    int i = D;
    for (; i >= 2; i -= 2) {
        Two(p + i - 2, fraction % 100);
        fraction /= 100;
    }
    if (i == 1) p[0] = static_cast<char>('0' + fraction);
    return p + D;
}

// ---- dates ----
std::int64_t FloorDiv(std::int64_t a, std::int64_t b) {
    const std::int64_t q = a / b;
    return (a % b != 0 && ((a < 0) != (b < 0))) ? q - 1 : q;
}
std::int64_t DaysFromYmd(std::int64_t y, int m, int d) {
    y -= m <= 2 ? 1 : 0;
    const std::int64_t era = FloorDiv(y, 400);
    const std::int64_t yoe = y - era * 400;
    const std::int64_t doy = (153 * (m + (m > 2 ? -3 : 9)) + 2) / 5 + d - 1;
    return era * 146097 + yoe * 365 + yoe / 4 - yoe / 100 + doy - 719468;
}
void Ymd(std::int64_t days, std::int64_t& y, int& m, int& d) {
    const std::int64_t z = days + 719468;
    const std::int64_t era = FloorDiv(z, 146097);
    const std::int64_t doe = z - era * 146097;
    const std::int64_t yoe = (doe - doe / 1460 + doe / 36524 - doe / 146096) / 365;
    const std::int64_t doy = doe - (365 * yoe + yoe / 4 - yoe / 100);
    const std::int64_t mp = (5 * doy + 2) / 153;
    d = static_cast<int>(doy - (153 * mp + 2) / 5 + 1);
    m = static_cast<int>(mp < 10 ? mp + 3 : mp - 9);
    y = yoe + era * 400 + (m <= 2 ? 1 : 0);
}
// "YYYY-MM-DD" for years 1 to 9999, as the exporter only writes those.
char* Date(char* p, std::int64_t days) {
    std::int64_t y = 0;
    int m = 0, d = 0;
    Ymd(days, y, m, d);
    p = Digits(p, static_cast<std::uint64_t>(y), 4);
    *p++ = '-';
    p = Two(p, m);
    *p++ = '-';
    return Two(p, d);
}
char* Clock(char* p, std::int64_t s) {
    p = Two(p, s / 3600);
    *p++ = ':';
    p = Two(p, s / 60 % 60);
    *p++ = ':';
    return Two(p, s % 60);
}

// Local time to UTC through mktime, once per quarter hour of local time.
struct ToUtc {
    std::int64_t bucket = INT64_MIN, offset = 0;
    std::int64_t operator()(std::int64_t first_day, std::int64_t seconds) {
        const std::int64_t day = seconds / kDay;
        const std::int64_t of_day = seconds - day * kDay;
        const std::int64_t local = (first_day + day) * kDay + of_day;
        const std::int64_t b = FloorDiv(local, 900);
        if (b != bucket) {
            std::int64_t y = 0;
            int m = 0, d = 0;
            Ymd(first_day + day, y, m, d);
            std::tm f{};
            f.tm_year = static_cast<int>(y - 1900);
            f.tm_mon = m - 1;
            f.tm_mday = d;
            f.tm_hour = static_cast<int>(of_day / 3600);
            f.tm_min = static_cast<int>(of_day / 60 % 60);
            f.tm_sec = static_cast<int>(of_day % 60);
            f.tm_isdst = -1;
            const std::time_t utc = std::mktime(&f);
            offset = utc == static_cast<std::time_t>(-1) ? 0 : local - std::int64_t{utc};
            bucket = b;
        }
        return local - offset;
    }
};

// "YYYY-MM-DDTHH:MM:SSZ", the date text kept while the day lasts.
struct Stamp {
    std::int64_t day = INT64_MIN;
    char date[10];
    char* operator()(char* p, std::int64_t utc) {
        const std::int64_t d = FloorDiv(utc, kDay);
        if (d != day) {
            day = d;
            Date(date, d);
        }
        std::memcpy(p, date, 10);
        p += 10;
        *p++ = 'T';
        p = Clock(p, utc - d * kDay);
        *p++ = 'Z';
        return p;
    }
};

// ---- records ----
template <typename T>
T Load(const unsigned char* p) {
    T v;
    std::memcpy(&v, p, sizeof v);  // little-endian, as the files are
    return v;
}

// The running time of each record, as the exporter's timeline places it.
struct Timeline {
    std::int64_t count = 0, last = 0, day_start = 0;
    std::int64_t Place(std::int64_t h, std::int64_t m, std::int64_t s, bool& new_stretch) {
        const std::int64_t of_day = h * 3600 + m * 60 + s;
        if (count++ == 0) {
            last = of_day;
            new_stretch = true;
            return of_day;
        }
        std::int64_t t = day_start + of_day;
        bool back = false;
        if (t < last) {
            if (s == 0 && t + 60 >= last && t + 60 <= last + kGap) {
                t += 60;
            } else if (m == 0 && s == 0 && t + 3600 >= last && t + 3600 <= last + kGap) {
                t += 3600;
            } else if (last - t > kDay / 2) {
                t += kDay;
            } else {
                back = true;
            }
        }
        new_stretch = back || t - last > kGap;
        last = t;
        if (t - day_start >= kDay) day_start = FloorDiv(t, kDay) * kDay;
        return t;
    }
};

struct Fields {
    bool position;
    double lat, lon, alt, pitch, bank, heading, kt;
};

constexpr long double kTwo32 = 4294967296.0L;
constexpr long double kLatitudeScale = 10001750.0L * kTwo32 / 90.0L;

// Only what a format prints is converted.
template <bool Attitude>
Fields Convert(const unsigned char* r) {
    Fields f{};
    const auto lat = Load<std::int64_t>(r + 14), lon = Load<std::int64_t>(r + 22);
    const auto frac = Load<std::uint32_t>(r + 30);
    const auto metres = Load<std::int32_t>(r + 34);
    f.lat = static_cast<double>(static_cast<long double>(lat) / kLatitudeScale);
    f.position = (lat != 0 || lon != 0 || metres != 0 || frac != 0) && std::fabs(f.lat) <= 90.0;
    f.lon = static_cast<double>(static_cast<long double>(lon) * 360.0L / (kTwo32 * kTwo32));
    if (f.lon >= 180.0) f.lon -= 360.0;
    f.alt = static_cast<double>(metres) + static_cast<double>(frac) / 4294967296.0;
    f.kt = static_cast<double>(Load<std::int32_t>(r + 54)) / 128.0;
    f.heading = static_cast<double>(Load<std::uint32_t>(r + 46)) * 360.0 / 4294967296.0;
    if constexpr (Attitude) {
        f.pitch = -(static_cast<double>(Load<std::int32_t>(r + 38)) * 360.0 / 4294967296.0);
        f.bank = -(static_cast<double>(Load<std::int32_t>(r + 42)) * 360.0 / 4294967296.0);
    }
    return f;
}

double ForPrint(double v, double limit, double scale) {
    return v * scale >= limit * scale - 0.5 ? v - 360.0 : v;
}

std::string Escaped(std::string_view name) {
    std::string out;
    for (const char c : name) {
        switch (c) {
            case '&':
                out += "&amp;";
                break;
            case '<':
                out += "&lt;";
                break;
            case '>':
                out += "&gt;";
                break;
            case '"':
                out += "&quot;";
                break;
            case '\'':
                out += "&apos;";
                break;
            default:
                out += c;
        }
    }
    return out;
}

struct Input {
    const unsigned char* data;
    std::size_t records;
    std::string name;
    std::string date_text;
    std::int64_t first_day;
};

// Calls take(record, seconds, new_stretch) for every record.
template <typename Take>
void EachRecord(const Input& in, Take take) {
    Timeline timeline;
    for (std::size_t i = 0; i < in.records; ++i) {
        const unsigned char* r = in.data + i * kRecord;
        bool stretch = false;
        const std::int64_t t = timeline.Place(Load<std::int16_t>(r + 8), Load<std::int16_t>(r + 10),
                                              Load<std::int16_t>(r + 12), stretch);
        take(r, t, stretch);
    }
}

void Csv(const Input& in) {
    Put("date,time,latitude_deg,longitude_deg,altitude_m,altitude_ft,pitch_deg,bank_deg,"
        "heading_deg,airspeed_kt,header1,header2,header3,header4\n");
    std::int64_t day = -1;
    char date[10];
    EachRecord(in, [&](const unsigned char* r, std::int64_t t, bool) {
        const std::int64_t d = t / kDay;
        if (d != day) {
            day = d;
            Date(date, in.first_day + d);
        }
        const Fields f = Convert<true>(r);
        char* p = Room(512);
        std::memcpy(p, date, 10);
        p += 10;
        *p++ = ',';
        p = Clock(p, t - d * kDay);
        *p++ = ',';
        if (f.position) {
            p = Fixed<7>(p, f.lat);
            *p++ = ',';
            p = Fixed<7>(p, ForPrint(f.lon, 180.0, 1e7));
            *p++ = ',';
            p = Fixed<2>(p, f.alt);
            *p++ = ',';
            p = Fixed<2>(p, f.alt / 0.3048);
        } else {
            p = Text(p, ",,,");
        }
        *p++ = ',';
        p = Fixed<3>(p, f.pitch);
        *p++ = ',';
        p = Fixed<3>(p, f.bank);
        *p++ = ',';
        p = Fixed<3>(p, ForPrint(f.heading, 360.0, 1e3));
        *p++ = ',';
        if (f.position) p = Fixed<2>(p, f.kt);
        p = Text(p, ",8,0,1,0\n");
        Done(p);
    });
}

void Gpx(const Input& in) {
    Put("<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n"
        "<gpx version=\"1.1\" creator=\"kestrun-export\" "
        "xmlns=\"http://www.topografix.com/GPX/1/1\" "
        "xmlns:xsi=\"http://www.w3.org/2001/XMLSchema-instance\" "
        "xsi:schemaLocation=\"http://www.topografix.com/GPX/1/1 "
        "http://www.topografix.com/GPX/1/1/gpx.xsd\">\n"
        "<metadata><name>Kestrun flight export</name>"
        "<desc>Times are UTC, converted from the local times of day in the records.</desc>"
        "</metadata>\n");
    Put("<trk><name>" + Escaped(in.name) + "</name><desc>Date of the first record: " +
        in.date_text + ", given with --date.</desc><src>Kestrun Digital Flight Recorder</src>\n");
    bool in_segment = false;
    ToUtc to_utc;
    Stamp stamp;
    EachRecord(in, [&](const unsigned char* r, std::int64_t t, bool stretch) {
        const Fields f = Convert<false>(r);
        if (!f.position || (stretch && in_segment)) {
            if (in_segment) Put("</trkseg>\n");
            in_segment = false;
            if (!f.position) return;
        }
        if (!in_segment) {
            Put("<trkseg>\n");
            in_segment = true;
        }
        char* p = Room(256);
        p = Text(p, "<trkpt lat=\"");
        p = Fixed<7>(p, f.lat);
        p = Text(p, "\" lon=\"");
        p = Fixed<7>(p, ForPrint(f.lon, 180.0, 1e7));
        p = Text(p, "\"><ele>");
        p = Fixed<2>(p, f.alt);
        p = Text(p, "</ele><time>");
        p = stamp(p, to_utc(in.first_day, t));
        Done(Text(p, "</time></trkpt>\n"));
    });
    if (in_segment) Put("</trkseg>\n");
    Put("</trk>\n</gpx>\n");
}

template <char Sep>
char* Coordinates(char* p, const Fields& f) {
    p = Fixed<7>(p, ForPrint(f.lon, 180.0, 1e7));
    *p++ = Sep;
    p = Fixed<7>(p, f.lat);
    *p++ = Sep;
    return Fixed<2>(p, f.alt);
}

void Kml(const Input& in) {
    Put("<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n"
        "<kml xmlns=\"http://www.opengis.net/kml/2.2\" "
        "xmlns:gx=\"http://www.google.com/kml/ext/2.2\">\n"
        "<Document><name>Kestrun flight export</name>\n"
        "<Style id=\"flight\"><LineStyle><color>ff00a5ff</color><width>3</width></LineStyle>"
        "</Style>\n");
    Put("<Folder><name>" + Escaped(in.name) +
        "</name><description>Date of the first record: " + in.date_text +
        ", given with --date. Times are UTC, converted from the local times of day in the "
        "records.</description>\n<Placemark><name>Timed track</name><styleUrl>#flight</styleUrl>"
        "<gx:MultiTrack><altitudeMode>absolute</altitudeMode><gx:interpolate>0</gx:interpolate>\n");
    // The map holds the records: a track's coordinates are read from it
    // again instead of from a spool.
    std::size_t track_start = 0, index = 0, points = 0;
    bool in_track = false;
    Fields first{}, last{};
    auto end_track = [&] {
        if (!in_track) return;
        for (std::size_t i = track_start; i < index; ++i) {
            const Fields f = Convert<false>(in.data + i * kRecord);
            if (!f.position) continue;
            char* p = Room(256);
            p = Text(p, "<gx:coord>");
            p = Coordinates<' '>(p, f);
            Done(Text(p, "</gx:coord>\n"));
        }
        Put("</gx:Track>\n");
        in_track = false;
    };
    ToUtc to_utc;
    Stamp stamp;
    EachRecord(in, [&](const unsigned char* r, std::int64_t t, bool stretch) {
        const Fields f = Convert<false>(r);
        if (!f.position || stretch) end_track();
        if (f.position) {
            if (!in_track) {
                Put("<gx:Track><altitudeMode>absolute</altitudeMode>\n");
                in_track = true;
                track_start = index;
            }
            if (points == 0) first = f;
            last = f;
            ++points;
            char* p = Room(64);
            p = Text(p, "<when>");
            p = stamp(p, to_utc(in.first_day, t));
            Done(Text(p, "</when>\n"));
        }
        ++index;
    });
    end_track();
    Put("</gx:MultiTrack></Placemark>\n");
    constexpr std::string_view kPathStart =
        "<LineString><altitudeMode>absolute</altitudeMode><coordinates>\n";
    if (points >= 2) {
        Put("<Placemark><name>Path</name><styleUrl>#flight</styleUrl><MultiGeometry>\n");
        Put(kPathStart);
        std::size_t n = 0;
        Fields previous{};
        for (std::size_t i = 0; i < in.records; ++i) {
            const Fields f = Convert<false>(in.data + i * kRecord);
            if (!f.position) continue;
            char* p = Room(512);
            if (n > 0 && n % 50000 == 0) {
                p = Text(p, "</coordinates></LineString>\n");
                p = Text(p, kPathStart);
                p = Coordinates<','>(p, previous);
                *p++ = '\n';
            }
            p = Coordinates<','>(p, f);
            *p++ = '\n';
            Done(p);
            previous = f;
            ++n;
        }
        Put("</coordinates></LineString>\n</MultiGeometry></Placemark>\n");
    }
    if (points >= 1) {
        for (const auto& [name, f] : {std::pair{"Start", first}, std::pair{"End", last}}) {
            char* p = Room(512);
            p = Text(p, "<Placemark><name>");
            p = Text(p, name);
            p = Text(p, "</name><Point><altitudeMode>absolute</altitudeMode><coordinates>");
            p = Coordinates<','>(p, f);
            Done(Text(p, "</coordinates></Point></Placemark>\n"));
        }
    }
    Put("</Folder>\n</Document>\n</kml>\n");
}

char* IgcAngle(char* p, double degrees, int width, char positive, char negative) {
    const auto th = static_cast<std::uint64_t>(std::llround(std::fabs(degrees) * 60000));
    p = Digits(p, th / 60000, width);
    p = Digits(p, th % 60000, 5);
    *p++ = degrees < 0 ? negative : positive;
    return p;
}
char* IgcAltitude(char* p, double metres) {
    std::int64_t whole = std::llround(metres);
    whole = whole < -9999 ? -9999 : whole > 99999 ? 99999 : whole;
    if (whole >= 0) return Digits(p, static_cast<std::uint64_t>(whole), 5);
    *p++ = '-';
    return Digits(p, static_cast<std::uint64_t>(-whole), 4);
}

void IgcHeader(std::int64_t utc_day) {
    std::int64_t y = 0;
    int m = 0, d = 0;
    Ymd(utc_day, y, m, d);
    char line[32];
    std::snprintf(line, sizeof line, "HFDTE%02d%02d%02d\r\n", d, m,
                  static_cast<int>((y % 100 + 100) % 100));
    Put("AXKR001 Kestrun Digital Flight Recorder\r\n");
    Put(line);
    Put("HFFXA100\r\nHFPLTPILOTINCHARGE:\r\nHFCM2CREW2:\r\nHFGTYGLIDERTYPE:\r\n"
        "HFGIDGLIDERID:\r\nHFDTM100GPSDATUM:WGS-1984\r\nHFRFWFIRMWAREVERSION:" KESTRUN_VERSION
        "\r\nHFFTYFRTYPE:Kestrun,Digital Flight Recorder\r\nHFALGALTGPS:GEO\r\n"
        "HFALPALTPRESSURE:ISA\r\nI023638IAS3941HDT\r\n");
}

void Igc(const Input& in) {
    bool header = false;
    ToUtc to_utc;
    EachRecord(in, [&](const unsigned char* r, std::int64_t t, bool) {
        const Fields f = Convert<false>(r);
        if (!f.position) return;
        const std::int64_t utc = to_utc(in.first_day, t);
        const std::int64_t day = FloorDiv(utc, kDay);
        if (!header) {
            IgcHeader(day);
            header = true;
        }
        const std::int64_t s = utc - day * kDay;
        char* p = Room(64);
        *p++ = 'B';
        p = Two(p, s / 3600);
        p = Two(p, s / 60 % 60);
        p = Two(p, s % 60);
        p = IgcAngle(p, f.lat, 2, 'N', 'S');
        p = IgcAngle(p, f.lon, 3, 'E', 'W');
        *p++ = 'A';
        p = IgcAltitude(p, f.alt);
        p = IgcAltitude(p, f.alt);
        std::int64_t kmh = std::llround(f.kt * 1.852);
        kmh = kmh < 0 ? 0 : kmh > 999 ? 999 : kmh;
        p = Digits(p, static_cast<std::uint64_t>(kmh), 3);
        p = Digits(p, static_cast<std::uint64_t>(std::llround(f.heading) % 360), 3);
        *p++ = '\r';
        *p++ = '\n';
        Done(p);
    });
    if (!header) IgcHeader(in.first_day);
}

}  // namespace

int main(int argc, char** argv) {
    int y = 0, m = 0, d = 0;
    if (argc != 4 || std::sscanf(argv[3], "%d-%d-%d", &y, &m, &d) != 3) {
        std::fputs("usage: min_export FILE csv|gpx|kml|igc YYYY-MM-DD\n", stderr);
        return 2;
    }
    const int fd = ::open(argv[1], O_RDONLY);
    struct stat facts {};
    if (fd < 0 || ::fstat(fd, &facts) != 0) {
        std::perror(argv[1]);
        return 1;
    }
    const auto size = static_cast<std::size_t>(facts.st_size);
    const void* map =
        size > 0 ? ::mmap(nullptr, size, PROT_READ, MAP_PRIVATE | MAP_POPULATE, fd, 0) : nullptr;
    if (map == MAP_FAILED) {
        std::perror("mmap");
        return 1;
    }
    Input in{static_cast<const unsigned char*>(map), size / kRecord, "", argv[3],
             DaysFromYmd(y, m, d)};
    static constexpr unsigned char kHeader[8] = {8, 0, 0, 0, 1, 0, 0, 0};
    bool sound = size % kRecord == 0;
    for (std::size_t i = 0; sound && i < in.records; ++i) {
        sound = std::memcmp(in.data + i * kRecord, kHeader, 8) == 0;
    }
    if (!sound) {
        std::fputs("min_export: not a sound record file\n", stderr);
        return 1;
    }
    const std::string_view path = argv[1];
    in.name = std::string(path.substr(path.find_last_of('/') + 1));
    ::madvise(const_cast<void*>(map), size, MADV_SEQUENTIAL);
    const std::string_view format = argv[2];
    if (format == "csv")
        Csv(in);
    else if (format == "gpx")
        Gpx(in);
    else if (format == "kml")
        Kml(in);
    else if (format == "igc")
        Igc(in);
    else
        return 2;
    Flush();
    return 0;
}
