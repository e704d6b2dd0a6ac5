#include "flights/flight_detector.h"

#include <algorithm>
#include <cmath>
#include <numbers>

#include "flights/touchdown_analysis.h"
#include "protocol/host_units.h"
#include "record/flight_record.h"

namespace kestrun {
namespace {

// Light aircraft lift off above 40 kt and none flies below 30 kt, so below
// taxi speed an aircraft that has been seen on the ground is still on it, and
// below flying speed it has not taken off yet.
constexpr double kFlyingKt = 40;
constexpr double kTaxiKt = 30;
// A takeoff roll begins where the airspeed last was this low.
constexpr double kRollStartKt = 20;
// Slower than this over the ground is at rest (simulators jitter a little).
constexpr double kRestKt = 2;
// A simulator that is still loading, or paused, holds the aircraft still
// with its airspeed at zero wherever it is, in the air too, and an airspeed
// indicator may read zero while the aircraft flies. Only rolling proves the
// ground: moving, slower than flying speed both over the ground and through
// the air, with the altitude steady. An aircraft never seen rolling that
// shows flying speed while moving at least this fast over the ground was in
// the air.
constexpr double kMovingKt = 30;
// Heights above the ground level: within the band an aircraft may be rolling
// on it (gear, runway slope, altitude noise); above the lift-off height it
// is surely in the air.
constexpr double kGroundBandM = 2.5;
constexpr double kLiftoffHeightM = 10;
// Below this height above the arrival field the final descent is the approach.
constexpr double kApproachHeightM = 1000 * kMetresPerFoot;
// The vertical trend is the altitude's slope over this many seconds; it must
// hold this long to begin a new phase, so turbulence and a few seconds of
// levelling off do not split the flight into pieces.
constexpr std::int64_t kTrendWindowS = 10;
constexpr std::int64_t kTrendHoldS = 30;
constexpr double kTrendRateMps = 1.0;  // about 200 ft/min
// Sinking slower than this (about 60 ft/min) the wheels are on the runway.
constexpr double kSettledSinkMps = 0.3;
// Records before the touchdown looked at for the moment of contact.
constexpr std::size_t kContactLookBack = 120;
// How much recent flight is kept for looking back at a landing, and of the
// ground roll for looking back at a takeoff.
constexpr std::size_t kAirKept = 900;
constexpr std::size_t kGroundKept = 180;
constexpr double kFeetPerMetre = 1 / kMetresPerFoot;
constexpr double kKnotsPerMps = 3600.0 / 1852.0;

// How far from the latitude of its cosine a ground-speed step may be before
// the cosine is worked out again: 0.001 degrees (about 110 m) changes it by
// less than 2e-5 of itself below 45 degrees, 1e-4 at 80, while a record a
// second at taxi speed needs it once in several records.
constexpr double kCosineStepDeg = 0.001;

void PushPhase(DetectedFlight& flight, FlightPhase phase, std::int64_t seconds) {
    if (!flight.phases.empty() && flight.phases.back().phase == phase) return;
    flight.phases.push_back({phase, seconds});
}

}  // namespace

FlightDetector::FlightDetector(FlightSink& sink)
    : sink_(sink), trend_window_(kTrendWindowS, kAirKept) {}

double FlightDetector::ShortDistanceMetres(const FlightPoint& a, const FlightPoint& b) {
    // A once-a-second step is short enough for a flat earth.
    constexpr double kMetresPerDegree = kEarthMeanRadiusMetres * std::numbers::pi / 180;
    if (!(std::fabs(a.latitude_deg - cosine_at_deg_) <= kCosineStepDeg)) {
        cosine_at_deg_ = a.latitude_deg;
        cosine_ = std::cos(a.latitude_deg * std::numbers::pi / 180);
    }
    const double north = (b.latitude_deg - a.latitude_deg) * kMetresPerDegree;
    double dlon = b.longitude_deg - a.longitude_deg;
    if (dlon > 180) dlon -= 360;
    if (dlon < -180) dlon += 360;
    const double east = dlon * kMetresPerDegree * cosine_;
    return std::sqrt(north * north + east * east);
}

void FlightDetector::KeepInAir(const FlightPoint& p) {
    air_kept_ = std::min(air_kept_ + 1, kAirKept);
    trend_window_.Add(p.seconds, p.altitude_m);
}

void FlightDetector::ClearAir() {
    air_kept_ = 0;
    trend_window_.Clear();
}

std::optional<FlightDetector::TrendRates> FlightDetector::CompareTrendRate(std::int64_t window_s,
                                                                           std::int64_t to) const {
    if (trend_window_.valid()) {
        return window_s < kTrendWindowS ? trend_window_.CompareNewestSlope(window_s, kTrendRateMps)
                                        : trend_window_.CompareSlope(kTrendRateMps);
    }
    // Records out of time order: the window cannot follow them; look back.
    const std::optional<double> rate = ClimbRate(to - window_s, to);
    if (!rate) return std::nullopt;
    auto compare = [&](double bound) { return *rate < bound ? -1 : *rate > bound ? 1 : 0; };
    return TrendRates{compare(kTrendRateMps), compare(-kTrendRateMps)};
}

std::optional<double> FlightDetector::ClimbRate(std::int64_t from, std::int64_t to) const {
    // Least squares over the kept records in [from, to], in metres a second.
    double n = 0, st = 0, sa = 0, stt = 0, sta = 0;
    for (std::size_t back = 0; back < air_kept_ && recent_.Back(back).seconds >= from; ++back) {
        const FlightPoint& point = recent_.Back(back);
        if (point.seconds > to) continue;
        const double t = static_cast<double>(point.seconds - to);
        n += 1;
        st += t;
        sa += point.altitude_m;
        stt += t * t;
        sta += t * point.altitude_m;
    }
    const double spread = n * stt - st * st;
    if (n < 2 || spread <= 0) return std::nullopt;
    return (n * sta - st * sa) / spread;
}

void FlightDetector::Add(const FlightPoint& p) {
    if (!p.has_position) return;
    const bool first = recent_.size() == 0;
    // Time going back always begins a stretch, also when the record that
    // began it had no position and was ignored.
    const bool stretch_start = first || p.new_stretch || p.seconds < recent_.Back(0).seconds;
    Motion motion;
    if (stretch_start) {
        motion.at_rest = resume_at_rest_ && first;
    } else if (const FlightPoint& last = recent_.Back(0); p.seconds > last.seconds) {
        // Nearly always one second, where dividing changes no bit and only
        // costs time.
        const std::int64_t step = p.seconds - last.seconds;
        const auto per_second = [&](double x) {
            return step == 1 ? x : x / static_cast<double>(step);
        };
        motion.ground_kt = per_second(ShortDistanceMetres(last, p)) * kKnotsPerMps;
        motion.at_rest = *motion.ground_kt < kRestKt;
        motion.steady = per_second(std::fabs(p.altitude_m - last.altitude_m)) < kTrendRateMps;
    }
    // From here on the record before is recent_.Back(1).
    recent_.Push(p);
    if (motion.at_rest) {
        if (!rest_run_start_) rest_run_start_ = p.seconds;
    } else {
        rest_run_start_.reset();
    }

    switch (state_) {
        case State::kGround:
            OnGround(p, stretch_start, motion);
            break;
        case State::kAir:
            InAir(p, stretch_start, motion);
            break;
        case State::kRollout:
            RollingOut(p, stretch_start, motion);
            break;
    }
}

void FlightDetector::BeginGroundStretch(const FlightPoint& p) {
    stretch_start_ = p;
    last_rest_.reset();
    ground_kept_ = 0;
    ground_level_m_ = p.altitude_m;
    rolled_ = false;
    roll_start_ = p.seconds;
}

void FlightDetector::OnGround(const FlightPoint& p, bool stretch_start, const Motion& motion) {
    if (stretch_start) {
        if (p.airspeed_kt >= kFlyingKt) {
            StartInAir(p);
            return;
        }
        BeginGroundStretch(p);
        // A reading resumed at a resume point stands where the reading
        // through it stood: on the ground, after a roll.
        if (motion.at_rest) rolled_ = true;
    }
    ground_kept_ = std::min(ground_kept_ + 1, kGroundKept);
    if (motion.at_rest) {
        last_rest_ = p;
        // Only where a reading starting here finds the same flights: parked
        // after a roll, below the speed a takeoff roll starts from (at rest
        // in a gale, a first record at flying speed would start in the air).
        if (rolled_ && p.airspeed_kt <= kRollStartKt) resume_ = ResumePoint{p.offset, p.seconds};
    }
    const bool rolling = motion.ground_kt && !motion.at_rest && *motion.ground_kt < kFlyingKt &&
                         motion.steady && p.airspeed_kt < kFlyingKt;
    if (rolling) rolled_ = true;
    if (p.airspeed_kt < kTaxiKt || rolling) ground_level_m_ = p.altitude_m;
    if (p.airspeed_kt <= kRollStartKt) roll_start_ = p.seconds;
    if (p.airspeed_kt < kFlyingKt) return;
    if (!rolled_) {
        // Flying speed straight from standing still: a simulator that was
        // frozen in the air has started. Its takeoff was never recorded.
        if (motion.ground_kt && *motion.ground_kt >= kMovingKt) StartInAir(p);
    } else if (p.altitude_m > ground_level_m_ + kLiftoffHeightM) {
        TakeOff();
    }
}

void FlightDetector::TakeOff() {
    // The last record of the roll still on the ground is the takeoff.
    const RecentPoints::Tail ground_recent = recent_.Newest(ground_kept_);
    std::size_t liftoff = 0;
    for (std::size_t i = ground_recent.size(); i-- > 0;) {
        if (ground_recent[i].altitude_m <= ground_level_m_ + kGroundBandM) {
            liftoff = i;
            break;
        }
    }
    const FlightPoint& up = ground_recent[liftoff];
    // The flight begins at the last stop, unless that came after the
    // liftoff (held still above the runway, against the wind): then at the
    // liftoff, with its off-block unknown.
    const bool from_rest = last_rest_ && last_rest_->offset <= up.offset;
    const FlightPoint& begin = from_rest ? *last_rest_ : last_rest_ ? up : stretch_start_;
    flight_ = DetectedFlight{};
    flight_.begin_offset = begin.offset;
    flight_.first_seconds = begin.seconds;
    flight_.takeoff = up.seconds;
    flight_.takeoff_point = GeoPoint{up.latitude_deg, up.longitude_deg};
    if (from_rest) {
        flight_.off_block = begin.seconds;
        if (roll_start_ > begin.seconds) PushPhase(flight_, FlightPhase::kTaxiOut, begin.seconds);
    }
    PushPhase(flight_, FlightPhase::kTakeoffRoll, std::max(roll_start_, begin.seconds));
    PushPhase(flight_, FlightPhase::kClimb, up.seconds);
    trend_ = Trend::kClimb;
    pending_trend_ = Trend::kNone;

    ClearAir();
    for (std::size_t i = 0; i < ground_recent.size(); ++i) {
        Track(ground_recent[i], i >= liftoff);
        if (i >= liftoff) KeepInAir(ground_recent[i]);
    }
    departure_level_m_ = ground_level_m_;
    touching_ = false;
    below_field_ = false;
    landed_ = false;
    state_ = State::kAir;
}

void FlightDetector::StartInAir(const FlightPoint& p) {
    flight_ = DetectedFlight{};
    flight_.begin_offset = p.offset;
    flight_.first_seconds = p.seconds;
    trend_ = Trend::kNone;
    pending_trend_ = Trend::kNone;
    ClearAir();
    KeepInAir(p);
    Track(p, true);
    departure_level_m_.reset();
    touching_ = false;
    below_field_ = false;
    landed_ = false;
    state_ = State::kAir;
}

void FlightDetector::Track(const FlightPoint& p, bool airborne) {
    flight_.max_altitude_m = std::max(flight_.max_altitude_m, p.altitude_m);
    flight_.max_airspeed_kt = std::max(flight_.max_airspeed_kt, p.airspeed_kt);
    // Straight across breaks in time, as the exporter measures.
    if (airborne) track_.Add(p.latitude_deg, p.longitude_deg);
}

void FlightDetector::InAir(const FlightPoint& p, bool stretch_start, const Motion& motion) {
    if (stretch_start) {
        ClearAir();
        touching_ = false;
        below_field_ = false;
        pending_trend_ = Trend::kNone;
        // It came down while the recorder was off, or the clock went back
        // (set back, another recording appended) and a flight's times must
        // run forward: either way the flight ends at the record before, its
        // landing unknown, and what follows is read afresh.
        if (p.airspeed_kt < kTaxiKt || p.seconds < recent_.Back(1).seconds) {
            Emit(true, recent_.Back(1));
            state_ = State::kGround;
            OnGround(p, true, Motion{});
            return;
        }
    }
    KeepInAir(p);
    Track(p, true);
    FollowTrend(p);

    if (departure_level_m_) {
        // Only coming down onto the field's level is a touch; a sloping
        // runway may put it some metres below where the roll began. An
        // aircraft that flew well below it (a valley, a lower field) and
        // climbs back up through it touched nothing.
        const double height = p.altitude_m - *departure_level_m_;
        if (height < -kLiftoffHeightM) {
            below_field_ = true;
            touching_ = false;
        } else if (height <= kGroundBandM) {
            if (!below_field_) touching_ = true;
        } else {
            below_field_ = false;
            if (touching_ && height > kLiftoffHeightM) {
                touching_ = false;
                ++flight_.touch_and_goes;
            }
        }
    }
    // Slow through the air is not enough: an airspeed indicator reading 0
    // in level flight would land the aircraft.
    if (p.airspeed_kt < kTaxiKt && motion.ground_kt && *motion.ground_kt < kFlyingKt) {
        const std::optional<TrendRates> rate = CompareTrendRate(kTrendWindowS / 2, p.seconds);
        if (rate && rate->up < 0 && rate->down > 0) Land(p);
    }
}

void FlightDetector::FollowTrend(const FlightPoint& p) {
    const std::optional<TrendRates> rate = CompareTrendRate(kTrendWindowS, p.seconds);
    if (!rate) return;
    const Trend now = rate->up > 0     ? Trend::kClimb
                      : rate->down < 0 ? Trend::kDescent
                                       : Trend::kLevel;
    auto phase_of = [](Trend trend) {
        return trend == Trend::kClimb   ? FlightPhase::kClimb
               : trend == Trend::kLevel ? FlightPhase::kCruise
                                        : FlightPhase::kDescent;
    };
    if (trend_ == Trend::kNone) {
        // A recording that starts in the air starts with what it shows.
        trend_ = now;
        PushPhase(flight_, phase_of(now), p.seconds);
        return;
    }
    if (now == trend_) {
        pending_trend_ = Trend::kNone;
        return;
    }
    if (now != pending_trend_) {
        pending_trend_ = now;
        pending_since_ = p.seconds;
    } else if (p.seconds - pending_since_ >= kTrendHoldS) {
        trend_ = now;
        pending_trend_ = Trend::kNone;
        PushPhase(flight_, phase_of(now), pending_since_);
    }
}

void FlightDetector::Land(const FlightPoint& p) {
    const double level = p.altitude_m;
    // The touchdown: the first record of the final run at the rolling level,
    // where a slow flare has stopped sinking.
    const RecentPoints::Tail air_recent = recent_.Newest(air_kept_);
    std::size_t down = air_recent.size() - 1;
    while (down > 0 && air_recent[down - 1].altitude_m <= level + kGroundBandM) --down;
    while (down + 1 < air_recent.size() &&
           air_recent[down].altitude_m - air_recent[down + 1].altitude_m >=
               kSettledSinkMps *
                   static_cast<double>(air_recent[down + 1].seconds - air_recent[down].seconds)) {
        ++down;
    }
    const FlightPoint& td = air_recent[down];

    LandingReport report;
    report.seconds = td.seconds;
    report.where = GeoPoint{td.latitude_deg, td.longitude_deg};
    report.altitude_m = td.altitude_m;
    // The rate from the records still in the air only: a line through the
    // first record on the ground would flatten it. The low run before the
    // touchdown is all the contact needs.
    const std::size_t from = down > kContactLookBack ? down - kContactLookBack : 0;
    std::vector<FlightPoint> recent;
    recent.reserve(air_recent.size() - from);
    for (std::size_t i = from; i < air_recent.size(); ++i) recent.push_back(air_recent[i]);
    const std::optional<Contact> contact = FindContact(recent, down - from, td.altitude_m);
    if (contact && contact->sink_mps) report.rate_fpm = -*contact->sink_mps * kFeetPerMetre * 60;
    report.airspeed_kt = td.airspeed_kt;
    report.pitch_deg = td.pitch_deg;
    report.bank_deg = td.bank_deg;
    flight_.landing = td.seconds;
    flight_.touchdown = report;

    // The approach is the final descent from 1000 ft above the field, or all
    // of it when it began lower (a traffic pattern).
    std::optional<std::int64_t> approach;
    for (std::size_t i = down; i-- > 0;) {
        if (air_recent[i].altitude_m > level + kApproachHeightM) {
            approach = air_recent[i + 1].seconds;
            break;
        }
    }
    auto& phases = flight_.phases;
    if (!approach && !phases.empty() && phases.back().phase == FlightPhase::kDescent) {
        approach = phases.back().seconds;
    }
    // No phase begins after the touchdown that ends it, not even in a
    // recording that starts in the air at the level it lands on.
    while (!phases.empty() && phases.back().seconds > td.seconds) phases.pop_back();
    if (approach && *approach < td.seconds) {
        while (!phases.empty() && phases.back().seconds >= *approach &&
               phases.back().phase != FlightPhase::kClimb)
            phases.pop_back();
        // A climb kept after the approach began leaves the phases in time
        // order only without it.
        if (phases.empty() || phases.back().seconds <= *approach) {
            PushPhase(flight_, FlightPhase::kApproach, *approach);
        }
    }
    PushPhase(flight_, FlightPhase::kLandingRoll, td.seconds);
    PushPhase(flight_, FlightPhase::kTaxiIn, p.seconds);
    ground_level_m_ = level;
    state_ = State::kRollout;
}

void FlightDetector::RollingOut(const FlightPoint& p, bool stretch_start, const Motion& motion) {
    if (stretch_start) {
        Emit(true, recent_.Back(1));  // stopped recording before the stop: on-block unknown
        state_ = State::kGround;
        OnGround(p, true, Motion{});
        return;
    }
    Track(p, false);
    const bool stopped = motion.at_rest;
    // Off again without stopping: the flight ends before this roll.
    if (!stopped && p.airspeed_kt < kFlyingKt) return;
    if (stopped) flight_.on_block = p.seconds;
    Emit(true, stopped ? p : recent_.Back(1));
    landed_ = stopped;
    state_ = State::kGround;
    BeginGroundStretch(p);
    rolled_ = true;  // it has just rolled out on this ground
    OnGround(p, false, motion);
}

void FlightDetector::Emit(bool complete, const FlightPoint& last) {
    flight_.end_offset = last.offset + kFlightRecordSize;
    flight_.last_seconds = last.seconds;
    flight_.distance_m = track_.metres();
    flight_.complete = complete;
    sink_.OnFlight(flight_);
    track_ = TrackLength{};
}

void FlightDetector::Finish() {
    if (state_ != State::kGround && recent_.size() > 0) {
        Emit(false, recent_.Back(0));
        state_ = State::kGround;
    }
}

std::int64_t FlightDetector::RestedSinceLanding() const {
    if (!landed_ || state_ != State::kGround || !rest_run_start_ || recent_.size() == 0) return 0;
    return recent_.Back(0).seconds - *rest_run_start_;
}

}  // namespace kestrun
