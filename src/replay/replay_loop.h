#pragma once
// The replay's frames: a datagram at a steady rate from the playback clock,
// the pilot's keys and the status line on a terminal, and the signals that
// end it.

#include "platform/status.h"
#include "playback/flight_track.h"
#include "playback/playback_clock.h"
#include "replay/udp_sender.h"

namespace kestrun {

enum class ReplayEnd {
    kPlayed,      // the clock reached the end
    kStopped,     // q, Ctrl-C, SIGTERM, SIGHUP or SIGQUIT
    kSendFailed,  // `failure` says why
};

struct ReplayFrames {
    const FlightTrack& track;
    PlaybackClock& clock;
    double rate_hz = 30;
    // Keys from standard input and the status line on standard output, both
    // only on a terminal.
    bool interactive = false;
};

// Plays until the end, a stop or a failed send. `now` of the clock is the
// monotonic clock in seconds (SteadyNow). Signals that end the replay are
// blocked on entry and taken in the loop, so the terminal is always restored.
ReplayEnd RunReplay(const ReplayFrames& frames, UdpSender& sender, Status& failure);

double SteadyNow();

}  // namespace kestrun
