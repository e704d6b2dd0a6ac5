#include "flights/climb_window.h"

namespace kestrun {

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

std::optional<ClimbWindow::RateComparison> ClimbWindow::CompareNewestSlope(std::int64_t within_s,
                                                                           double rate_mps) const {
    // Exact sums, so these are the very numbers a window of within_s keeps.
    std::int64_t n = 0, st = 0, stt = 0;
    WideInt sa = 0, sta = 0;
    const std::int64_t from = newest_ - base_ - within_s;
    for (std::size_t i = size_; i-- > 0 && At(i).t >= from;) {
        const Point& p = At(i);
        n += 1;
        st += p.t;
        stt += p.t * p.t;
        sa += p.a;
        sta += static_cast<WideInt>(p.t) * p.a;
    }
    return Compare(n, st, stt, sa, sta, rate_mps);
}

}  // namespace kestrun
