#include "flights/climb_window.h"

#include <cmath>

namespace kestrun {
namespace {

constexpr double kAltitudeUnitsPerMetre = 4294967296.0;  // 2^32

}  // namespace

void ClimbWindow::Clear() {
    points_.clear();
    ordered_ = true;
    n_ = st_ = stt_ = sa_ = sta_ = 0;
}

void ClimbWindow::Remove(const Point& p) {
    n_ -= 1;
    st_ -= p.t;
    stt_ -= static_cast<WideInt>(p.t) * p.t;
    sa_ -= p.a;
    sta_ -= p.t * p.a;
}

void ClimbWindow::Add(std::int64_t seconds, double altitude_m) {
    if (!ordered_) return;
    if (points_.empty()) {
        base_ = seconds;
    } else if (seconds < base_ + points_.back().t) {
        ordered_ = false;
        return;
    }
    // Host altitudes lie on the 2^-32 m grid, so this is exact for them;
    // anything else is rounded to it.
    const Point p{seconds - base_,
                  static_cast<WideInt>(std::llround(altitude_m * kAltitudeUnitsPerMetre))};
    points_.push_back(p);
    n_ += 1;
    st_ += p.t;
    stt_ += static_cast<WideInt>(p.t) * p.t;
    sa_ += p.a;
    sta_ += p.t * p.a;
    while (points_.front().t < p.t - window_s_ || points_.size() > limit_) {
        Remove(points_.front());
        points_.pop_front();
    }
}

std::optional<int> ClimbWindow::CompareSlope(double rate_mps) const {
    // slope = (n*sta - st*sa) / (n*stt - st*st), the spread being positive
    // once two times differ; shifting every t by the same amount changes
    // neither.
    const WideInt spread = n_ * stt_ - st_ * st_;
    if (n_ < 2 || spread <= 0) return std::nullopt;
    const WideInt rise = n_ * sta_ - st_ * sa_;
    const auto rate = static_cast<WideInt>(std::llround(rate_mps * kAltitudeUnitsPerMetre));
    const WideInt bound = rate * spread;
    return rise < bound ? -1 : rise > bound ? 1 : 0;
}

}  // namespace kestrun
