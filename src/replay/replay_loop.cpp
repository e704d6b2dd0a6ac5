#include "replay/replay_loop.h"

#include <poll.h>
#include <signal.h>
#include <sys/signalfd.h>
#include <unistd.h>

#include <cerrno>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <ctime>
#include <memory>
#include <string>
#include <vector>

#include "platform/posix/posix_error.h"
#include "replay/replay_datagram.h"
#include "replay/status_line.h"
#include "replay/terminal.h"

namespace kestrun {
namespace {

constexpr double kSeekSeconds = 10;
constexpr double kStatusPeriod = 0.1;  // the line need not flicker at 120 Hz

// The ending signals and Ctrl-Z, taken through a descriptor while blocked.
class SignalReader {
  public:
    SignalReader() {
        sigemptyset(&set_);
        for (const int signal : {SIGINT, SIGTERM, SIGHUP, SIGQUIT, SIGTSTP})
            sigaddset(&set_, signal);
        ::sigprocmask(SIG_BLOCK, &set_, &old_);
        fd_ = ::signalfd(-1, &set_, SFD_CLOEXEC | SFD_NONBLOCK);
    }
    ~SignalReader() {
        if (fd_ >= 0) ::close(fd_);
        ::sigprocmask(SIG_SETMASK, &old_, nullptr);
    }
    int fd() const { return fd_; }
    // The next pending signal, or 0.
    int Next() {
        signalfd_siginfo info{};
        if (::read(fd_, &info, sizeof info) != sizeof info) return 0;
        return static_cast<int>(info.ssi_signo);
    }

  private:
    sigset_t set_{};
    sigset_t old_{};
    int fd_ = -1;
};

class StatusOutput {
  public:
    explicit StatusOutput(bool enabled) : enabled_(enabled) {}
    ~StatusOutput() { Close(); }
    void Show(const std::string& line) {
        if (!enabled_) return;
        std::fprintf(stdout, "\r%s\x1b[K", line.c_str());
        std::fflush(stdout);
        shown_ = true;
    }
    // Ends the line so that what follows starts on a fresh one.
    void Close() {
        if (!shown_) return;
        std::fputc('\n', stdout);
        std::fflush(stdout);
        shown_ = false;
    }

  private:
    bool enabled_;
    bool shown_ = false;
};

}  // namespace

double SteadyNow() {
    timespec now{};
    ::clock_gettime(CLOCK_MONOTONIC, &now);
    return double(now.tv_sec) + double(now.tv_nsec) * 1e-9;
}

namespace {

// What a key does to the replay's clock at `now`; false for the key that
// ends the replay.
bool ApplyKey(Key key, PlaybackClock& clock, double now) {
    switch (key) {
        case Key::kQuit:
            return false;
        case Key::kPause:
            clock.SetPaused(!clock.paused(), now);
            break;
        case Key::kBack:
            clock.Seek(-kSeekSeconds, now);
            break;
        case Key::kForward:
            clock.Seek(kSeekSeconds, now);
            break;
        case Key::kFaster:
            clock.SetSpeed(clock.speed() * 2, now);
            break;
        case Key::kSlower:
            clock.SetSpeed(clock.speed() / 2, now);
            break;
    }
    return true;
}

// Ctrl-Z: hands the terminal back as it was, stops the process, and takes
// the terminal again when continued. The flight waits too. Returns the time
// it was continued at.
double SuspendUntilContinued(PlaybackClock& clock, StatusOutput& status, RawTerminal* terminal,
                             double now) {
    const bool paused = clock.paused();
    clock.SetPaused(true, now);
    status.Close();
    if (terminal) terminal->Suspend();
    ::kill(::getpid(), SIGSTOP);
    if (terminal) terminal->Resume();
    now = SteadyNow();
    clock.SetPaused(paused, now);
    return now;
}

}  // namespace

ReplayEnd RunReplay(const ReplayFrames& frames, UdpSender& sender, Status& failure) {
    PlaybackClock& clock = frames.clock;
    SignalReader signals;
    std::unique_ptr<RawTerminal> terminal;
    if (frames.interactive) terminal = RawTerminal::Enter(STDIN_FILENO);
    StatusOutput status(frames.interactive);
    KeyDecoder decoder;
    std::vector<Key> keys;
    std::string datagram;

    const double period = 1.0 / frames.rate_hz;
    // The first frame shows the first moment exactly.
    double now = SteadyNow();
    clock.Restart(now);
    double next_frame = now;
    double next_status = next_frame;
    bool keys_open = true;  // until the terminal hangs up
    for (;;) {
        if (now >= next_frame) {
            const double play = clock.At(now);
            const PlaybackState state = frames.track.At(play);
            FormatReplayDatagram(state, datagram);
            if (Status sent = sender.Send(datagram); !sent.ok()) {
                failure = sent;
                return ReplayEnd::kSendFailed;
            }
            if (now >= next_status || clock.finished()) {
                status.Show(StatusLine(state, clock, play));
                next_status = now + kStatusPeriod;
            }
            if (clock.finished()) return ReplayEnd::kPlayed;
            next_frame += period;
            // After a stall (a stopped process, a loaded machine) carry on
            // from now rather than sending the missed frames in a burst.
            if (next_frame < now) next_frame = now + period;
        }

        pollfd fds[2] = {{signals.fd(), POLLIN, 0}, {STDIN_FILENO, POLLIN, 0}};
        const nfds_t count = terminal && keys_open ? 2 : 1;
        const double wait = std::max(0.0, next_frame - SteadyNow());
        timespec timeout{static_cast<time_t>(wait),
                         static_cast<long>((wait - std::floor(wait)) * 1e9)};
        if (::ppoll(fds, count, &timeout, nullptr) < 0 && errno != EINTR) {
            failure = Status::Error(std::string("cannot wait for the next frame: ") +
                                    PosixErrorText(errno));
            return ReplayEnd::kSendFailed;
        }
        now = SteadyNow();
        for (int signal = signals.Next(); signal != 0; signal = signals.Next()) {
            if (signal != SIGTSTP) return ReplayEnd::kStopped;
            now = SuspendUntilContinued(clock, status, terminal.get(), now);
        }
        if (count == 2 && fds[1].revents != 0) {
            char bytes[64];
            const ssize_t got = ::read(STDIN_FILENO, bytes, sizeof bytes);
            if (got == 0 || (got < 0 && errno != EAGAIN && errno != EINTR)) keys_open = false;
            keys.clear();
            for (ssize_t i = 0; i < got; ++i) decoder.Feed(bytes[i], keys);
            for (const Key key : keys) {
                if (!ApplyKey(key, clock, now)) return ReplayEnd::kStopped;
            }
            // Show what the key did at once.
            if (!keys.empty()) next_status = now;
        }
    }
}

}  // namespace kestrun
