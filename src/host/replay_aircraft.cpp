#include "host/replay_aircraft.h"

#include <fmt/format.h>

#include <optional>

#include "host/aircraft_state.h"
#include "playback/clock_text.h"
#include "playback/flight_file.h"
#include "playback/playback_clock.h"

namespace kestrun {
namespace {

class ReplayAircraft final : public AircraftSource {
  public:
    ReplayAircraft(const ReplayChoice& choice, std::function<void(std::string_view)> console)
        : choice_(choice), console_(std::move(console)) {}

    LoadedFlight& flight() { return flight_; }

    void Update(double now_seconds, OffsetImage& image) override {
        const FlightTrack& track = flight_.track;
        // The flight starts with the host's first update.
        if (!clock_)
            clock_.emplace(track.begin(), track.end(), choice_.speed, choice_.loop, now_seconds);
        const PlaybackState state = track.At(clock_->At(now_seconds));
        const FlightSample& s = state.sample;
        WriteAircraftState(
            AircraftState{s.latitude_deg, s.longitude_deg, s.altitude_m, s.pitch_deg, s.bank_deg,
                          s.heading_deg, s.airspeed_kt, state.vertical_speed_mps},
            image);
        if (clock_->finished() && !said_end_) {
            said_end_ = true;
            console_(fmt::format("Replay of {} ended at {}; holding the last state", choice_.path,
                                 FormatClockTime(state.clock_seconds)));
        }
    }

  private:
    ReplayChoice choice_;
    std::function<void(std::string_view)> console_;
    LoadedFlight flight_;
    std::optional<PlaybackClock> clock_;
    bool said_end_ = false;
};

}  // namespace

std::unique_ptr<AircraftSource> OpenReplayAircraft(const ReplayChoice& choice,
                                                   std::function<void(std::string_view)> console,
                                                   std::string& description, Status& status) {
    auto aircraft = std::make_unique<ReplayAircraft>(choice, std::move(console));
    status = LoadFlight(choice.path, aircraft->flight());
    if (!status.ok()) return nullptr;
    const FlightTrack& track = aircraft->flight().track;
    description = fmt::format("replaying {} ({} to {} at x{:g}{})", choice.path,
                              FormatClockTime(track.At(track.begin()).clock_seconds),
                              FormatClockTime(track.At(track.end()).clock_seconds), choice.speed,
                              choice.loop ? ", looping" : "");
    return aircraft;
}

}  // namespace kestrun
