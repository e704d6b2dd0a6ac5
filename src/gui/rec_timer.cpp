#include "gui/rec_timer.h"

#include <utility>

namespace kestrun::qt {

RecTimer::RecTimer(std::function<void()> on_tick) : on_tick_(std::move(on_tick)) {
    // A precise timer keeps each due time one interval after the previous
    // one; when a handler overruns, Qt schedules the next due time from the
    // moment the late tick is delivered, which gives the no-burst behaviour.
    timer_.setTimerType(Qt::PreciseTimer);
    QObject::connect(&timer_, &QTimer::timeout, [this] { on_tick_(); });
}

void RecTimer::SetInterval(int milliseconds) {
    if (milliseconds == interval_ms_) return;
    interval_ms_ = milliseconds;
    Apply();
}

void RecTimer::SetEnabled(bool enabled) {
    if (enabled == enabled_) return;
    enabled_ = enabled;
    Apply();
}

void RecTimer::Apply() {
    // Changing the interval of a running timer restarts its count, like a
    // fresh enable; an unchanged setting leaves a running count alone.
    if (enabled_ && interval_ms_ > 0) {
        timer_.start(interval_ms_);
    } else {
        timer_.stop();
    }
}

}  // namespace kestrun::qt
