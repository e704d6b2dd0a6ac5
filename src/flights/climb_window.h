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
#include <deque>
#include <optional>

namespace kestrun {

// Wide enough for the sums of a window of products of times and altitudes.
__extension__ using WideInt = __int128;

class ClimbWindow {
  public:
    // Keeps the records in [newest - window_s, newest], at most `limit` of
    // them (the oldest go first).
    ClimbWindow(std::int64_t window_s, std::size_t limit) : window_s_(window_s), limit_(limit) {}

    void Clear();
    // The next record; `seconds` never goes back while the window holds
    // records, but for a caller that breaks that, valid() turns false.
    void Add(std::int64_t seconds, double altitude_m);
    // False once records came out of time order since the last Clear.
    bool valid() const { return ordered_; }

    // How the slope compares with `rate_mps` in metres a second: below, at
    // or above it (-1, 0, 1); empty when fewer than two distinct times are
    // held.
    std::optional<int> CompareSlope(double rate_mps) const;

  private:
    struct Point {
        std::int64_t t;  // seconds since base_
        WideInt a;       // altitude, 2^-32 m
    };
    void Remove(const Point& p);

    std::int64_t window_s_;
    std::size_t limit_;
    std::deque<Point> points_;
    bool ordered_ = true;
    std::int64_t base_ = 0;
    // Sums over points_ of 1, t, t*t, a and t*a.
    WideInt n_ = 0, st_ = 0, stt_ = 0, sa_ = 0, sta_ = 0;
};

}  // namespace kestrun
