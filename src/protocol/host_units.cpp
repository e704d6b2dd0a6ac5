#include "protocol/host_units.h"

#include <cmath>
#include <limits>

namespace kestrun {
namespace {

constexpr long double kTwo32 = 4294967296.0L;
constexpr long double kTwo64 = kTwo32 * kTwo32;
constexpr long double kLatitudeScale = 10001750.0L * kTwo32 / 90.0L;  // host units per degree

// Rounds to the nearest integer and clamps into the range of T, so that an
// out-of-range physical value saturates instead of wrapping into nonsense.
template <typename T>
T RoundClamped(long double v) {
    const long double r = std::nearbyint(v);
    if (!(r >= static_cast<long double>(std::numeric_limits<T>::min()))) {
        return std::numeric_limits<T>::min();
    }
    if (r >= static_cast<long double>(std::numeric_limits<T>::max())) {
        return std::numeric_limits<T>::max();
    }
    return static_cast<T>(r);
}

// Maps any angle into [-180, 180).
long double WrapSigned(long double degrees) {
    long double d = std::fmod(degrees + 180.0L, 360.0L);
    if (d < 0) d += 360.0L;
    return d - 180.0L;
}

// Turns an angle in [-180, 180) into a signed fraction of a full turn of
// 2^bits units; a value that rounds up to +half a turn wraps to -half.
template <typename T>
T AngleUnits(long double degrees, long double full_turn) {
    long double units = std::nearbyint(WrapSigned(degrees) / 360.0L * full_turn);
    if (units >= full_turn / 2) units -= full_turn;
    return static_cast<T>(units);
}

}  // namespace

std::int64_t LatitudeToHost(double degrees) {
    return RoundClamped<std::int64_t>(static_cast<long double>(degrees) * kLatitudeScale);
}

double LatitudeFromHost(std::int64_t v) {
    return static_cast<double>(static_cast<long double>(v) / kLatitudeScale);
}

std::int64_t LongitudeToHost(double degrees) {
    return AngleUnits<std::int64_t>(degrees, kTwo64);
}

double LongitudeFromHost(std::int64_t v) {
    return static_cast<double>(static_cast<long double>(v) * 360.0L / kTwo64);
}

HostAltitude AltitudeToHost(double metres) {
    const long double m = metres;
    long double whole = std::floor(m);
    long double fraction = std::nearbyint((m - whole) * kTwo32);
    if (fraction >= kTwo32) {
        whole += 1;
        fraction = 0;
    }
    HostAltitude altitude;
    altitude.metres = RoundClamped<std::int32_t>(whole);
    altitude.fraction = static_cast<std::uint32_t>(fraction);
    return altitude;
}

std::int32_t SignedAngleToHost(double degrees) {
    return AngleUnits<std::int32_t>(degrees, kTwo32);
}

std::uint32_t HeadingToHost(double degrees) {
    long double d = std::fmod(static_cast<long double>(degrees), 360.0L);
    if (d < 0) d += 360.0L;
    long double units = std::nearbyint(d / 360.0L * kTwo32);
    if (units >= kTwo32) units -= kTwo32;
    return static_cast<std::uint32_t>(units);
}

std::int32_t AirspeedToHost(double knots) {
    return RoundClamped<std::int32_t>(static_cast<long double>(knots) * 128.0L);
}

std::int32_t VerticalSpeedToHost(double metres_per_second) {
    return RoundClamped<std::int32_t>(static_cast<long double>(metres_per_second) * 256.0L);
}

double VerticalSpeedFromHost(std::int32_t v) {
    return static_cast<double>(v) / 256.0;
}

}  // namespace kestrun
