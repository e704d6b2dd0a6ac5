#include "playback/playback_clock.h"

#include <algorithm>
#include <cmath>

namespace kestrun {

PlaybackClock::PlaybackClock(double begin, double end, double speed, bool loop, double now)
    : begin_(begin),
      end_(end),
      speed_(std::clamp(speed, kMinSpeed, kMaxSpeed)),
      loop_(loop),
      anchor_play_(begin),
      anchor_wall_(now) {}

double PlaybackClock::At(double now) {
    double play = anchor_play_ + (paused_ ? 0.0 : (now - anchor_wall_) * speed_);
    if (play < end_) return play;
    const double span = end_ - begin_;
    if (loop_) return span > 0 ? begin_ + std::fmod(play - begin_, span) : end_;
    if (!paused_) finished_ = true;
    return end_;
}

void PlaybackClock::Restart(double now) {
    anchor_play_ = begin_;
    anchor_wall_ = now;
    finished_ = false;
}

void PlaybackClock::Anchor(double now) {
    anchor_play_ = At(now);
    anchor_wall_ = now;
}

void PlaybackClock::SetSpeed(double speed, double now) {
    Anchor(now);
    speed_ = std::clamp(speed, kMinSpeed, kMaxSpeed);
}

void PlaybackClock::SetPaused(bool paused, double now) {
    Anchor(now);
    paused_ = paused;
}

void PlaybackClock::Seek(double seconds, double now) {
    Anchor(now);
    anchor_play_ = std::clamp(anchor_play_ + seconds, begin_, end_);
}

}  // namespace kestrun
