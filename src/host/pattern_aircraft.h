#pragma once
// The simulated aircraft: a light aircraft flying left-hand traffic patterns
// from one runway, forever. It holds at the threshold, takes off, climbs out,
// turns crosswind and downwind at pattern height, turns base and final,
// descends on a 3 degree glide path, flares, lands, rolls out, taxis back to
// the threshold and starts again.
//
// The model is kinematic but consistent: turns are coordinated (turn rate =
// g * tan(bank) / speed), vertical speed = speed * sin(flight path angle),
// the ground track follows the heading at speed * cos(flight path angle)
// (no wind), and pitch is the flight path angle plus an angle of attack that
// grows as the aircraft slows and banks. Indicated airspeed is taken equal to
// true airspeed, near enough at pattern heights.

#include <string>

#include "host/aircraft_source.h"
#include "host/aircraft_state.h"

namespace kestrun {

// Where the patterns are flown: the runway threshold, where every takeoff
// starts, and the runway's true heading.
struct Airfield {
    std::string name;
    double latitude_deg = 0;
    double longitude_deg = 0;
    double elevation_m = 0;
    double runway_heading_deg = 0;
};

// Palo Alto (KPAO), runway 31: a small field on San Francisco Bay.
Airfield DefaultAirfield();

class PatternAircraft final : public AircraftSource {
  public:
    static constexpr double kDefaultHoldSeconds = 5;

    enum class Phase {
        kHold,
        kTakeoffRoll,
        kRotate,
        kClimbOut,
        kCrosswind,
        kDownwind,
        kBase,
        kFinal,
        kFlare,
        kRollout,
        kTurnAround,
        kTaxiBack,
        kLineUp,
    };

    // `hold_seconds`: how long it waits at the threshold before each takeoff,
    // in the aircraft's own time, which runs `speed` times as fast as the
    // host's clock.
    explicit PatternAircraft(Airfield airfield, double hold_seconds = kDefaultHoldSeconds,
                             double speed = 1);

    void Update(double now_seconds, OffsetImage& image) override;

    // Advances the model by `seconds` without touching any image.
    void Advance(double seconds);

    AircraftState state() const;
    Phase phase() const { return phase_; }

  private:
    struct Command;
    Command Guide() const;
    void Step(double dt);
    void StepAirborne(const Command& command, double dt);
    void StepOnGround(const Command& command, double dt);
    void Enter(Phase phase);
    double AlongRunway() const;
    double RightOfRunway() const;
    double HeightAboveField() const { return altitude_m_ - airfield_.elevation_m; }

    Airfield airfield_;
    double hold_seconds_;
    double speed_;
    Phase phase_ = Phase::kHold;
    double phase_time_ = 0;  // seconds spent in the current phase
    double turned_deg_ = 0;  // heading change so far in a ground turn
    bool started_ = false;
    double last_update_ = 0;

    // Position in metres north and east of the threshold.
    double north_m_ = 0;
    double east_m_ = 0;
    double altitude_m_ = 0;
    double speed_mps_ = 0;
    double path_angle_deg_ = 0;
    double heading_deg_ = 0;
    double bank_deg_ = 0;
    double pitch_deg_ = 0;
};

}  // namespace kestrun
