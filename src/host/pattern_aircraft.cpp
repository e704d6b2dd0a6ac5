#include "host/pattern_aircraft.h"

#include <algorithm>
#include <cmath>
#include <numbers>
#include <utility>

namespace kestrun {
namespace {

constexpr double kGravity = 9.80665;  // m/s^2
constexpr double kMetresPerSecondPerKnot = 1852.0 / 3600.0;
// The host's latitude unit puts 10001750 m in 90 degrees of latitude.
constexpr double kMetresPerDegreeLatitude = 10001750.0 / 90.0;

// Performance and handling of the simulated aircraft.
constexpr double kRotateKt = 55;
constexpr double kClimbKt = 70;
constexpr double kCruiseKt = 90;
constexpr double kBaseKt = 75;
constexpr double kApproachKt = 65;
constexpr double kTouchdownKt = 50;
constexpr double kTaxiKt = 15;
constexpr double kTurnAroundKt = 5;
constexpr double kMaxBankDeg = 25;
constexpr double kRollRateDegPerS = 10;
constexpr double kPathAngleRateDegPerS = 2;
constexpr double kPitchRateOnGroundDegPerS = 3;
constexpr double kGroundTurnRateDegPerS = 15;

// Geometry of the pattern, in metres from the threshold.
constexpr double kCrosswindHeight = 150;
constexpr double kPatternHeight = 300;
constexpr double kDownwindDescentHeight = 220;
constexpr double kBaseHeight = 130;
constexpr double kDownwindOffset = 1200;  // left of the runway
constexpr double kBaseTurnBehind = 1500;  // before the threshold
constexpr double kTouchdownAlong = 150;
constexpr double kGlidePathDeg = 3;
constexpr double kFlareHeight = 8;
constexpr double kLongestStep = 0.05;

double Radians(double degrees) {
    return degrees * std::numbers::pi / 180.0;
}
double Degrees(double radians) {
    return radians * 180.0 / std::numbers::pi;
}
double Knots(double mps) {
    return mps / kMetresPerSecondPerKnot;
}
double Mps(double knots) {
    return knots * kMetresPerSecondPerKnot;
}

// Any angle into (-180, 180].
double Wrap180(double degrees) {
    double d = std::fmod(degrees, 360.0);
    if (d > 180) d -= 360;
    if (d <= -180) d += 360;
    return d;
}

double Wrap360(double degrees) {
    double d = std::fmod(degrees, 360.0);
    return d < 0 ? d + 360 : d;
}

double Toward(double value, double target, double max_change) {
    return value + std::clamp(target - value, -max_change, max_change);
}

// Angle of attack in degrees: a wing needs more of it the slower it flies and
// the steeper it banks (the lift must carry 1 / cos(bank) of the weight).
double AngleOfAttack(double speed_mps, double bank_deg) {
    if (speed_mps < 1) return 14;
    const double reference = 3.0 * std::pow(Mps(kCruiseKt) / speed_mps, 2);
    return std::clamp(reference / std::cos(Radians(bank_deg)), 0.0, 14.0);
}

}  // namespace

struct PatternAircraft::Command {
    double speed_kt = 0;
    double acceleration = 1.5;  // m/s^2, the most the speed may change
    double vertical_speed = 0;  // m/s, airborne only
    double heading_deg = 0;
    int turn_direction = 0;  // -1 left, +1 right, 0 the shorter way
    double max_bank_deg = kMaxBankDeg;
};

Airfield DefaultAirfield() {
    return Airfield{"Palo Alto (KPAO), runway 31", 37.4611, -122.1150, 2.0, 323.0};
}

PatternAircraft::PatternAircraft(Airfield airfield, double hold_seconds, double speed)
    : airfield_(std::move(airfield)), hold_seconds_(hold_seconds), speed_(speed) {
    altitude_m_ = airfield_.elevation_m;
    heading_deg_ = Wrap360(airfield_.runway_heading_deg);
}

void PatternAircraft::Update(double now_seconds, OffsetImage& image) {
    if (started_) {
        // A host stopped for minutes (a debugger, a suspended laptop) resumes
        // where it was rather than replaying the whole gap.
        Advance(std::clamp(now_seconds - last_update_, 0.0, 5.0) * speed_);
    }
    started_ = true;
    last_update_ = now_seconds;
    WriteAircraftState(state(), image);
}

void PatternAircraft::Advance(double seconds) {
    while (seconds > 0) {
        const double dt = std::min(seconds, kLongestStep);
        Step(dt);
        seconds -= dt;
    }
}

AircraftState PatternAircraft::state() const {
    AircraftState s;
    s.latitude_deg = airfield_.latitude_deg + north_m_ / kMetresPerDegreeLatitude;
    s.longitude_deg =
        airfield_.longitude_deg +
        east_m_ / (kMetresPerDegreeLatitude * std::cos(Radians(airfield_.latitude_deg)));
    if (s.longitude_deg >= 180) s.longitude_deg -= 360;
    if (s.longitude_deg < -180) s.longitude_deg += 360;
    s.altitude_m = altitude_m_;
    s.pitch_deg = pitch_deg_;
    s.bank_deg = bank_deg_;
    s.heading_deg = Wrap360(heading_deg_);
    s.airspeed_kt = Knots(speed_mps_);
    s.vertical_speed_mps = speed_mps_ * std::sin(Radians(path_angle_deg_));
    return s;
}

double PatternAircraft::AlongRunway() const {
    const double h = Radians(airfield_.runway_heading_deg);
    return north_m_ * std::cos(h) + east_m_ * std::sin(h);
}

double PatternAircraft::RightOfRunway() const {
    const double h = Radians(airfield_.runway_heading_deg);
    return -north_m_ * std::sin(h) + east_m_ * std::cos(h);
}

void PatternAircraft::Enter(Phase phase) {
    phase_ = phase;
    phase_time_ = 0;
    turned_deg_ = 0;
}

PatternAircraft::Command PatternAircraft::Guide() const {
    const double runway = airfield_.runway_heading_deg;
    const double height = HeightAboveField();
    // Climbs and descents as vertical speeds that close the gap to a target
    // height gently, within what a light aircraft does.
    const auto hold_height = [&](double target, double climb, double sink) {
        return std::clamp(0.2 * (target - height), -sink, climb);
    };
    // Back to the centreline, steering at most 30 degrees off the runway.
    const double track_correction = std::clamp(-0.05 * RightOfRunway(), -30.0, 30.0);

    Command c;
    c.heading_deg = runway;
    switch (phase_) {
        case Phase::kHold:
            c.speed_kt = 0;
            c.acceleration = 2.0;
            break;
        case Phase::kTakeoffRoll:
        case Phase::kRotate:
            c.speed_kt = kClimbKt;
            c.acceleration = 2.0;
            break;
        case Phase::kClimbOut:
            c.speed_kt = kClimbKt;
            c.vertical_speed = 3.5;
            c.max_bank_deg = 5;
            break;
        case Phase::kCrosswind:
            c.speed_kt = kClimbKt;
            c.vertical_speed = hold_height(kPatternHeight, 3.5, 3.5);
            c.heading_deg = runway - 90;
            c.turn_direction = -1;
            break;
        case Phase::kDownwind:
            c.speed_kt = kCruiseKt;
            // Start down once abeam the threshold, ready for a short base.
            c.vertical_speed = hold_height(
                AlongRunway() < -300 ? kDownwindDescentHeight : kPatternHeight, 3.5, 3.0);
            c.heading_deg = runway + 180;
            c.turn_direction = -1;
            break;
        case Phase::kBase:
            c.speed_kt = kBaseKt;
            c.vertical_speed = hold_height(kBaseHeight, 1.0, 3.0);
            c.heading_deg = runway + 90;
            c.turn_direction = -1;
            break;
        case Phase::kFinal: {
            c.speed_kt = kApproachKt;
            const double to_touchdown = kTouchdownAlong - AlongRunway();
            const double glide_height =
                std::max(0.0, to_touchdown) * std::tan(Radians(kGlidePathDeg));
            const double on_path = -Mps(kApproachKt) * std::sin(Radians(kGlidePathDeg));
            c.vertical_speed = std::clamp(on_path + 0.2 * (glide_height - height), -5.0, 1.0);
            c.heading_deg = runway + track_correction;
            c.turn_direction = -1;
            break;
        }
        case Phase::kFlare:
            c.speed_kt = kTouchdownKt;
            c.acceleration = 0.5;
            c.vertical_speed = -(0.25 * height + 0.4);
            c.heading_deg = runway + track_correction;
            c.max_bank_deg = 0;
            break;
        case Phase::kRollout:
            c.speed_kt = kTurnAroundKt;
            c.acceleration = 2.5;
            break;
        case Phase::kTurnAround:
            c.speed_kt = kTurnAroundKt;
            c.heading_deg = heading_deg_ - 90;  // keep turning left
            break;
        case Phase::kTaxiBack:
            // Slow down in time to turn onto the runway at the threshold.
            c.speed_kt = AlongRunway() < 60 ? kTurnAroundKt : kTaxiKt;
            c.acceleration = 1.0;
            c.heading_deg = runway + 180;
            break;
        case Phase::kLineUp:
            c.speed_kt = kTurnAroundKt;
            c.acceleration = 1.0;
            c.heading_deg = heading_deg_ - 90;
            break;
    }
    return c;
}

void PatternAircraft::StepAirborne(const Command& command, double dt) {
    speed_mps_ = Toward(speed_mps_, Mps(command.speed_kt), command.acceleration * dt);

    const double sine = std::clamp(command.vertical_speed / speed_mps_, -0.2, 0.2);
    path_angle_deg_ = Toward(path_angle_deg_, Degrees(std::asin(sine)), kPathAngleRateDegPerS * dt);

    double error = Wrap180(command.heading_deg - heading_deg_);
    // Only a large error may be turned the long way: near the target the
    // shorter way is always right, and would otherwise start a full circle.
    if (command.turn_direction < 0 && error > 90) error -= 360;
    if (command.turn_direction > 0 && error < -90) error += 360;
    const double wanted_bank = std::clamp(2.0 * error, -command.max_bank_deg, command.max_bank_deg);
    bank_deg_ = Toward(bank_deg_, wanted_bank, kRollRateDegPerS * dt);

    // A coordinated turn: the horizontal part of the lift turns the aircraft.
    const double turn_rate = Degrees(kGravity * std::tan(Radians(bank_deg_)) / speed_mps_);
    heading_deg_ = Wrap360(heading_deg_ + turn_rate * dt);

    const double gamma = Radians(path_angle_deg_);
    altitude_m_ += speed_mps_ * std::sin(gamma) * dt;
    const double ground_speed = speed_mps_ * std::cos(gamma);
    north_m_ += ground_speed * std::cos(Radians(heading_deg_)) * dt;
    east_m_ += ground_speed * std::sin(Radians(heading_deg_)) * dt;
    pitch_deg_ = path_angle_deg_ + AngleOfAttack(speed_mps_, bank_deg_);
}

void PatternAircraft::StepOnGround(const Command& command, double dt) {
    speed_mps_ =
        std::max(0.0, Toward(speed_mps_, Mps(command.speed_kt), command.acceleration * dt));
    path_angle_deg_ = 0;
    altitude_m_ = airfield_.elevation_m;
    bank_deg_ = Toward(bank_deg_, 0, kRollRateDegPerS * dt);

    // Nose-wheel steering: the heading follows the command without banking,
    // and only while rolling.
    if (speed_mps_ > 0.1) {
        const double error = Wrap180(command.heading_deg - heading_deg_);
        const double change =
            std::clamp(2.0 * error, -kGroundTurnRateDegPerS, kGroundTurnRateDegPerS) * dt;
        heading_deg_ = Wrap360(heading_deg_ + change);
        turned_deg_ += std::abs(change);
    }
    north_m_ += speed_mps_ * std::cos(Radians(heading_deg_)) * dt;
    east_m_ += speed_mps_ * std::sin(Radians(heading_deg_)) * dt;

    if (phase_ == Phase::kRotate) {
        pitch_deg_ += kPitchRateOnGroundDegPerS * dt;
    } else {
        pitch_deg_ = Toward(pitch_deg_, 0, kPitchRateOnGroundDegPerS * dt);
    }
}

void PatternAircraft::Step(double dt) {
    const Command command = Guide();
    const bool airborne = phase_ >= Phase::kClimbOut && phase_ <= Phase::kFlare;
    if (airborne) {
        StepAirborne(command, dt);
    } else {
        StepOnGround(command, dt);
    }
    phase_time_ += dt;

    const double runway = airfield_.runway_heading_deg;
    const double height = HeightAboveField();
    const auto aligned_with = [&](double heading) {
        return std::abs(Wrap180(heading_deg_ - heading)) < 1.0;
    };
    switch (phase_) {
        case Phase::kHold:
            if (phase_time_ >= hold_seconds_ && speed_mps_ == 0) Enter(Phase::kTakeoffRoll);
            break;
        case Phase::kTakeoffRoll:
            if (Knots(speed_mps_) >= kRotateKt) Enter(Phase::kRotate);
            break;
        case Phase::kRotate:
            // Lift-off once the nose is up at the angle the wing needs.
            if (pitch_deg_ >= AngleOfAttack(speed_mps_, 0)) Enter(Phase::kClimbOut);
            break;
        case Phase::kClimbOut:
            if (height >= kCrosswindHeight) Enter(Phase::kCrosswind);
            break;
        case Phase::kCrosswind:
            if (-RightOfRunway() >= kDownwindOffset) Enter(Phase::kDownwind);
            break;
        case Phase::kDownwind:
            if (AlongRunway() <= -kBaseTurnBehind) Enter(Phase::kBase);
            break;
        case Phase::kBase: {
            // Turn final one turn radius before the centreline.
            const double radius =
                speed_mps_ * speed_mps_ / (kGravity * std::tan(Radians(kMaxBankDeg - 5)));
            if (-RightOfRunway() <= radius) Enter(Phase::kFinal);
            break;
        }
        case Phase::kFinal:
            if (height <= kFlareHeight) Enter(Phase::kFlare);
            break;
        case Phase::kFlare:
            if (altitude_m_ <= airfield_.elevation_m) {
                altitude_m_ = airfield_.elevation_m;
                path_angle_deg_ = 0;
                Enter(Phase::kRollout);
            }
            break;
        case Phase::kRollout:
            if (Knots(speed_mps_) <= kTurnAroundKt + 0.1) Enter(Phase::kTurnAround);
            break;
        case Phase::kTurnAround:
            if (turned_deg_ >= 170 && aligned_with(runway + 180)) Enter(Phase::kTaxiBack);
            break;
        case Phase::kTaxiBack:
            if (AlongRunway() <= 0) Enter(Phase::kLineUp);
            break;
        case Phase::kLineUp:
            if (turned_deg_ >= 170 && aligned_with(runway)) Enter(Phase::kHold);
            break;
    }
}

}  // namespace kestrun
