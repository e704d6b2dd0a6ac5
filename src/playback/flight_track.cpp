#include "playback/flight_track.h"

#include <algorithm>
#include <cmath>

#include "recordfile/civil_date.h"

namespace kestrun {
namespace {

// `degrees` wrapped into [-180, 180); values already inside come back
// unchanged, so a record's own angles are played to the last bit.
double Wrap180(double degrees) {
    if (degrees >= -180.0 && degrees < 180.0) return degrees;
    double wrapped = std::fmod(degrees + 180.0, 360.0);
    if (wrapped < 0) wrapped += 360.0;
    return wrapped - 180.0;
}

}  // namespace

double Lerp(double a, double b, double f) {
    return a + (b - a) * f;
}

double LerpSigned180(double a, double b, double f) {
    return Wrap180(a + Wrap180(b - a) * f);
}

double LerpHeading(double a, double b, double f) {
    double heading = a + Wrap180(b - a) * f;
    if (heading < 0) heading += 360.0;
    if (heading >= 360.0) heading -= 360.0;
    return heading;
}

void FlightTrack::Add(const FlightSample& sample, const TimePlacement& time) {
    const std::int64_t step = time.seconds - last_clock_;
    const double play = !any_record_ ? 0.0 : last_play_ + (step >= 0 ? double(step) : 1.0);
    const bool joins = any_record_ && !time.new_stretch && !broken_ && step > 0 && !empty();
    any_record_ = true;
    last_play_ = play;
    last_clock_ = time.seconds;
    if (!sample.has_position) {
        broken_ = true;
        return;
    }
    broken_ = false;
    points_.push_back(Point{play, time.seconds, joins, sample});
}

PlaybackState FlightTrack::Hold(const Point& point, double t) const {
    return PlaybackState{point.sample, 0.0, double(point.clock) + (t - point.play)};
}

PlaybackState FlightTrack::At(double t) const {
    t = std::clamp(t, begin(), end());
    // The last point at or before t; of points at the same play time, the
    // later one, as the file has it.
    const auto after = std::upper_bound(points_.begin(), points_.end(), t,
                                        [](double time, const Point& p) { return time < p.play; });
    const Point& from = *(after - 1);
    if (after == points_.end() || !after->joins_previous) return Hold(from, t);

    const Point& to = *after;
    const double span = to.play - from.play;
    const double f = (t - from.play) / span;
    const FlightSample& a = from.sample;
    const FlightSample& b = to.sample;
    PlaybackState state;
    FlightSample& s = state.sample;
    s.has_position = true;
    s.latitude_deg = Lerp(a.latitude_deg, b.latitude_deg, f);
    s.longitude_deg = LerpSigned180(a.longitude_deg, b.longitude_deg, f);
    s.altitude_m = Lerp(a.altitude_m, b.altitude_m, f);
    s.pitch_deg = Lerp(a.pitch_deg, b.pitch_deg, f);
    s.bank_deg = LerpSigned180(a.bank_deg, b.bank_deg, f);
    s.heading_deg = LerpHeading(a.heading_deg, b.heading_deg, f);
    s.airspeed_kt = Lerp(a.airspeed_kt, b.airspeed_kt, f);
    state.vertical_speed_mps = (b.altitude_m - a.altitude_m) / span;
    state.clock_seconds = double(from.clock) + (t - from.play);
    return state;
}

std::optional<double> FlightTrack::FindClockTime(std::int64_t second_of_day, double after) const {
    for (std::size_t k = 0; k < points_.size(); ++k) {
        const Point& from = points_[k];
        const Point& to = k + 1 < points_.size() ? points_[k + 1] : from;
        if (to.play < after) continue;
        // Only where play time and the clock run together: not across a step
        // backwards, where the clock shows nothing in between.
        if (to.clock - from.clock != std::llround(to.play - from.play)) continue;
        const double skip = std::max(0.0, after - from.play);
        const auto lowest = static_cast<std::int64_t>(std::ceil(double(from.clock) + skip));
        const std::int64_t day_start =
            lowest - ((lowest % kSecondsPerDay) + kSecondsPerDay) % kSecondsPerDay;
        std::int64_t candidate = day_start + second_of_day;
        if (candidate < lowest) candidate += kSecondsPerDay;
        if (candidate <= to.clock) return from.play + double(candidate - from.clock);
    }
    return std::nullopt;
}

}  // namespace kestrun
