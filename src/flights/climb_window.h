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
    // The fitted line: its slope is rise / spread, spread positive, in
    // 2^-32 m a second.
    struct Line {
        WideInt rise;
        WideInt spread;
        // How the slope compares with `rate_mps` (a multiple of 2^-32 m/s,
        // such as a whole number): below, at or above it (-1, 0, 1).
        int Compare(double rate_mps) const;
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

    // Empty while fewer than two distinct times are held.
    std::optional<Line> Fit() const;

  private:
    struct Point {
        std::int64_t t;  // seconds since base_
        std::int64_t a;  // altitude, 2^-32 m
    };
    Point& At(std::size_t i) { return ring_[(first_ + i) & mask_]; }

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
    // Sums over points_ of 1, t, t*t, a and t*a.
    std::int64_t n_ = 0, st_ = 0, stt_ = 0;
    WideInt sa_ = 0, sta_ = 0;
};

}  // namespace kestrun
