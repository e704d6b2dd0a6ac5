#include "flights/climb_window.h"

namespace kestrun {
namespace {

constexpr double kAltitudeUnitsPerMetre = 4294967296.0;  // 2^32

// Host altitudes lie on the 2^-32 m grid, where this is exact; anything else
// is cut to it, and what no 64-bit count of units holds is clamped.
std::int64_t AltitudeUnits(double metres) {
    const double units = metres * kAltitudeUnitsPerMetre;
    constexpr double kLimit = 9.2e18;
    if (units < kLimit && units > -kLimit) return static_cast<std::int64_t>(units);
    return units > 0 ? static_cast<std::int64_t>(kLimit) : -static_cast<std::int64_t>(kLimit);
}

}  // namespace

int ClimbWindow::Line::Compare(double rate_mps) const {
    const WideInt bound = static_cast<WideInt>(AltitudeUnits(rate_mps)) * spread;
    return rise < bound ? -1 : rise > bound ? 1 : 0;
}

ClimbWindow::ClimbWindow(std::int64_t window_s, std::size_t limit)
    : window_s_(window_s), limit_(limit > 0 ? limit : 1) {
    std::size_t capacity = 1;
    while (capacity <= limit_) capacity *= 2;  // room for one more before the oldest goes
    ring_.reset(new Point[capacity]);          // written before it is read
    mask_ = capacity - 1;
}

void ClimbWindow::Clear() {
    first_ = size_ = 0;
    ordered_ = true;
    n_ = st_ = stt_ = 0;
    sa_ = sta_ = 0;
}

void ClimbWindow::Add(std::int64_t seconds, double altitude_m) {
    if (!ordered_) return;
    if (size_ == 0) {
        base_ = seconds;
    } else if (seconds < base_ + At(size_ - 1).t) {
        ordered_ = false;
        return;
    }
    const std::int64_t t = seconds - base_;
    const std::int64_t a = AltitudeUnits(altitude_m);
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

std::optional<ClimbWindow::Line> ClimbWindow::Fit() const {
    // slope = (n*sta - st*sa) / (n*stt - st*st); shifting every t by the
    // same amount changes neither.
    const WideInt spread = static_cast<WideInt>(n_) * stt_ - static_cast<WideInt>(st_) * st_;
    if (n_ < 2 || spread <= 0) return std::nullopt;
    return Line{static_cast<WideInt>(n_) * sta_ - static_cast<WideInt>(st_) * sa_, spread};
}

}  // namespace kestrun
