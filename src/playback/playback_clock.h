#pragma once
// PlaybackClock: where in a flight a replay is, given a steady wall clock.
// Play time moves at `speed` times the wall clock between `begin` and `end`,
// can pause, seek and change speed, and at the end either wraps to `begin`
// (looping) or stays there, finished.

namespace kestrun {

class PlaybackClock {
  public:
    static constexpr double kMinSpeed = 0.1;
    static constexpr double kMaxSpeed = 64.0;

    // Starts playing at `begin` at wall time `now` (seconds, any origin).
    // Requires begin <= end; `speed` is clamped into [kMinSpeed, kMaxSpeed].
    PlaybackClock(double begin, double end, double speed, bool loop, double now);

    // Starts (again) from `begin` at `now`, for a replay whose first frame
    // comes a moment after the clock was made.
    void Restart(double now);

    // The play time at `now`; calls come with `now` never decreasing.
    double At(double now);
    // True once the play time reached the end without looping. It stays
    // false while paused, so a paused replay waits at the end for the pilot.
    bool finished() const { return finished_; }

    double speed() const { return speed_; }
    bool paused() const { return paused_; }
    double begin() const { return begin_; }
    double end() const { return end_; }

    void SetSpeed(double speed, double now);
    void SetPaused(bool paused, double now);
    // Moves the play time by `seconds` (negative backwards), kept inside
    // [begin, end].
    void Seek(double seconds, double now);

  private:
    void Anchor(double now);

    double begin_;
    double end_;
    double speed_;
    bool loop_;
    bool paused_ = false;
    bool finished_ = false;
    double anchor_play_;  // play time at anchor_wall_
    double anchor_wall_;
};

}  // namespace kestrun
