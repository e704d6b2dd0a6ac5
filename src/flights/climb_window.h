#pragma once
// ClimbWindow: the least-squares slope of altitude over time across the
// records of the last few seconds, kept up to date as records arrive, so a
// record costs the same whatever the window holds.
//
// Sums are kept exactly, in integers: times in whole seconds and altitudes
// in units of 2^-32 m, the resolution the host stores them in. The slope's
// comparison with a rate is therefore exact, never at the mercy of the order
// in which floating-point sums were rounded.

#include <cstdint>
#include <memory>
#include <optional>

namespace kestrun {

// Wide enough for the sums of a window of products of times and altitudes.
__extension__ using WideInt = __int128;

class ClimbWindow {
  public:
    // How the fitted slope compares with a rate going up and with the same
    // rate going down: below, at or above each (-1, 0, 1).
    struct RateComparison {
        int up;
        int down;
    };

    // Keeps the records in [newest - window_s, newest], at most `limit` of
    // them (the oldest go first).
    ClimbWindow(std::int64_t window_s, std::size_t limit);

    void Clear();
    // The next record; `seconds` never goes back while the window holds
    // records, but for a caller that breaks that, valid() turns false.
    void Add(std::int64_t seconds, double altitude_m);
    // False once records came out of time order since the last Clear.
    bool valid() const { return ordered_; }

    // The slope against +rate_mps and -rate_mps (a multiple of 2^-32 m/s,
    // such as a whole number). Empty while fewer than two distinct times
    // are held.
    std::optional<RateComparison> CompareSlope(double rate_mps) const {
        return Compare(n_, st_, stt_, sa_, sta_, rate_mps);
    }
    // The same over the newest points no older than `within_s` before the
    // newest (`within_s` at most the window's): what a window that short
    // would say. Worked out from those points, for the rare caller.
    std::optional<RateComparison> CompareNewestSlope(std::int64_t within_s, double rate_mps) const;

  private:
    struct Point {
        std::int64_t t;  // seconds since base_
        std::int64_t a;  // altitude, 2^-32 m
    };
    Point& At(std::size_t i) { return ring_[(first_ + i) & mask_]; }
    const Point& At(std::size_t i) const { return ring_[(first_ + i) & mask_]; }
    static std::optional<RateComparison> Compare(std::int64_t n, std::int64_t st, std::int64_t stt,
                                                 WideInt sa, WideInt sta, double rate_mps);

    std::int64_t window_s_;
    std::size_t limit_;
    // The points, oldest first, in a ring of a power of two longer than
    // limit_: made once, never moved.
    std::unique_ptr<Point[]> ring_;
    std::size_t mask_;
    std::size_t first_ = 0;
    std::size_t size_ = 0;
    bool ordered_ = true;
    std::int64_t base_ = 0;
    std::int64_t newest_ = 0;  // seconds of the newest point
    // Sums over the points of 1, t, t*t, a and t*a.
    std::int64_t n_ = 0, st_ = 0, stt_ = 0;
    WideInt sa_ = 0, sta_ = 0;
};

namespace climb_window_detail {

inline constexpr double kAltitudeUnitsPerMetre = 4294967296.0;  // 2^32

// Host altitudes lie on the 2^-32 m grid, where this is exact; anything else
// is cut to it, and what no 64-bit count of units holds is clamped.
inline std::int64_t AltitudeUnits(double metres) {
    const double units = metres * kAltitudeUnitsPerMetre;
    constexpr double kLimit = 9.2e18;
    if (units < kLimit && units > -kLimit) return static_cast<std::int64_t>(units);
    return units > 0 ? static_cast<std::int64_t>(kLimit) : -static_cast<std::int64_t>(kLimit);
}

}  // namespace climb_window_detail

// Once a record in the air, so kept where the detector can inline it.
inline void ClimbWindow::Add(std::int64_t seconds, double altitude_m) {
    if (!ordered_) return;
    if (size_ == 0) {
        base_ = seconds;
    } else if (seconds < newest_) {
        ordered_ = false;
        return;
    }
    newest_ = seconds;
    const std::int64_t t = seconds - base_;
    const std::int64_t a = climb_window_detail::AltitudeUnits(altitude_m);
    At(size_++) = Point{t, a};
    n_ += 1;
    st_ += t;
    stt_ += t * t;
    sa_ += a;
    sta_ += static_cast<WideInt>(t) * a;
    while (At(0).t < t - window_s_ || size_ > limit_) {
        const Point& old = At(0);
        n_ -= 1;
        st_ -= old.t;
        stt_ -= old.t * old.t;
        sa_ -= old.a;
        sta_ -= static_cast<WideInt>(old.t) * old.a;
        first_ = (first_ + 1) & mask_;
        --size_;
    }
}

inline std::optional<ClimbWindow::RateComparison> ClimbWindow::Compare(
    std::int64_t n, std::int64_t st, std::int64_t stt, WideInt sa, WideInt sta, double rate_mps) {
    // slope = (n*sta - st*sa) / (n*stt - st*st); shifting every t by the
    // same amount changes neither. The spread is positive, so the slope
    // compares with a rate as the rise with rate * spread.
    const WideInt spread = static_cast<WideInt>(n) * stt - static_cast<WideInt>(st) * st;
    if (n < 2 || spread <= 0) return std::nullopt;
    const WideInt rise = static_cast<WideInt>(n) * sta - static_cast<WideInt>(st) * sa;
    const WideInt bound =
        static_cast<WideInt>(climb_window_detail::AltitudeUnits(rate_mps)) * spread;
    const auto order = [](WideInt a, WideInt b) { return a < b ? -1 : a > b ? 1 : 0; };
    return RateComparison{order(rise, bound), order(rise, -bound)};
}

}  // namespace kestrun
