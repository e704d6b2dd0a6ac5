#pragma once
// RecentPoints: the newest records with a position, in a ring made once, so
// that keeping a record costs one copy and never an allocation. The flight
// detector looks back over them at a takeoff and a landing, and the landing
// analysis around each touchdown; both read the same ring.

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <memory>

#include "flights/flight_point.h"

namespace kestrun {

class RecentPoints {
  public:
    // Enough for the detector's look back over the last 15 minutes and for
    // an approach from 1000 ft at a slow sink with the rolls around it.
    static constexpr std::size_t kCapacity = 1024;  // a power of two

    RecentPoints() : points_(std::make_unique<FlightPoint[]>(kCapacity)) {}

    void Push(const FlightPoint& p) { points_[next_++ & kMask] = p; }
    // How many are held: every one pushed, up to kCapacity.
    std::size_t size() const {
        return static_cast<std::size_t>(std::min<std::uint64_t>(next_, kCapacity));
    }
    // The newest but `back` (0: the newest); `back` < size().
    const FlightPoint& Back(std::size_t back) const { return points_[(next_ - 1 - back) & kMask]; }

    // The newest `count` of them (at most size()), oldest first; valid
    // until the next Push.
    class Tail {
      public:
        Tail(const RecentPoints& ring, std::size_t count) : ring_(&ring), count_(count) {}
        std::size_t size() const { return count_; }
        const FlightPoint& operator[](std::size_t i) const { return ring_->Back(count_ - 1 - i); }

      private:
        const RecentPoints* ring_;
        std::size_t count_;
    };
    Tail Newest(std::size_t count) const { return Tail(*this, std::min(count, size())); }

  private:
    static constexpr std::uint64_t kMask = kCapacity - 1;
    std::unique_ptr<FlightPoint[]> points_;
    std::uint64_t next_ = 0;
};

}  // namespace kestrun
