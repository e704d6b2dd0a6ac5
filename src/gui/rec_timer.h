#pragma once
// RecTimer: a millisecond timer with an interval and an enable switch. It
// ticks only while enabled with an interval above 0.
//
// Ticks are paced from their due times, not from when the handler returned,
// so one-second ticks do not drift. A tick handler that blocks for longer
// than the interval is followed by a single late tick as soon as it returns,
// and the pace resumes from then: ticks never pile up into a burst.

#include <QTimer>
#include <functional>

namespace kestrun::qt {

class RecTimer {
  public:
    // `on_tick` runs on the thread that owns the timer, once per tick.
    explicit RecTimer(std::function<void()> on_tick);

    void SetInterval(int milliseconds);
    void SetEnabled(bool enabled);

  private:
    void Apply();

    QTimer timer_;
    std::function<void()> on_tick_;
    int interval_ms_ = 0;
    bool enabled_ = false;
};

}  // namespace kestrun::qt
