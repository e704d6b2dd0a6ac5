#include "flights/flight_analyzer.h"

#include <algorithm>
#include <cmath>

#include "flights/touchdown_analysis.h"
#include "protocol/host_units.h"
#include "recordfile/track_length.h"

namespace kestrun {
namespace {

// Enough for an approach from 1000 ft at a slow sink, the landing roll and
// the takeoff roll before its lift-off.
constexpr std::size_t kRingSize = 1024;
// An approach is looked at from where it was last this high above the
// point judged (above the highest gate and the sink events' height), but no
// longer than this before it: 1500 ft at 300 ft/min.
constexpr double kApproachAboveM = 1500 * kMetresPerFoot;
constexpr std::int64_t kApproachMaxS = 300;
// A lowest point counts once the aircraft has come down this far to it and
// climbed this far from it: turbulence and level flight make none.
constexpr double kSwingM = 100 * kMetresPerFoot;
// Runways are looked for this far from the point judged.
constexpr double kRunwayReachM = 8000;
constexpr double kTaxiKt = 30;
constexpr double kFeetPerMetre = 1 / kMetresPerFoot;
constexpr double kKnotsPerMps = 3600.0 / 1852.0;

double GroundKt(const FlightPoint& a, const FlightPoint& b) {
    return GreatCircleMetres(a.latitude_deg, a.longitude_deg, b.latitude_deg, b.longitude_deg) /
           static_cast<double>(b.seconds - a.seconds) * kKnotsPerMps;
}

std::size_t IndexAt(const std::vector<FlightPoint>& points, std::int64_t seconds) {
    const auto it = std::lower_bound(
        points.begin(), points.end(), seconds,
        [](const FlightPoint& p, std::int64_t s) { return p.seconds < s; });
    return static_cast<std::size_t>(std::min(it - points.begin(),
                                             static_cast<std::ptrdiff_t>(points.size()) - 1));
}

template <typename T>
void TakeUntil(std::vector<T>& from, std::vector<T>& to, double first, double last) {
    std::vector<T> kept;
    for (T& item : from) {
        if (item.seconds > last) {
            kept.push_back(std::move(item));
        } else if (item.seconds >= first) {
            to.push_back(std::move(item));
        }
    }
    from = std::move(kept);
}

}  // namespace

FlightAnalyzer::FlightAnalyzer(FlightSink& sink, RunwayFinder* runways, const EventLimits& limits)
    : sink_(sink),
      runways_(runways),
      limits_(limits),
      detector_(*this),
      ring_(kRingSize),
      bank_("bank", limits.bank_deg, true),
      pitch_up_("pitch up", limits.pitch_up_deg, true),
      pitch_down_("pitch down", limits.pitch_down_deg, false),
      sinking_("sink", limits.sink_fpm, true) {}

void FlightAnalyzer::Add(const FlightPoint& p) {
    if (!p.has_position) {
        detector_.Add(p);
        return;
    }
    const bool follows = last_ && !p.new_stretch && p.seconds > last_->seconds;
    if (!follows) EndWatches();
    ring_[ring_next_] = p;
    ring_next_ = (ring_next_ + 1) % kRingSize;
    ring_count_ = std::min(ring_count_ + 1, kRingSize);
    const auto t = static_cast<double>(p.seconds);
    bank_.Add(t, std::fabs(p.bank_deg), pending_.events);
    pitch_up_.Add(t, p.pitch_deg, pending_.events);
    pitch_down_.Add(t, p.pitch_deg, pending_.events);

    detector_.Add(p);

    const DetectedFlight& flight = detector_.current();
    if (detector_.Flying()) {
        if (flight.takeoff && judged_takeoff_ != flight.takeoff) JudgeTakeoff();
        if (!tracking_ || !follows) {
            tracking_ = true;
            peak_m_ = low_m_ = p.altitude_m;
            low_seconds_ = p.seconds;
        } else if (p.altitude_m > peak_m_) {
            peak_m_ = low_m_ = p.altitude_m;
            low_seconds_ = p.seconds;
        } else if (p.altitude_m < low_m_) {
            low_m_ = p.altitude_m;
            low_seconds_ = p.seconds;
        } else if (p.altitude_m >= low_m_ + kSwingM && peak_m_ >= low_m_ + kSwingM) {
            JudgeLowPoint();
            peak_m_ = low_m_ = p.altitude_m;
            low_seconds_ = p.seconds;
        }
        if (departure_watch_ && follows && detector_.departure_level()) {
            const double height_ft = (p.altitude_m - *detector_.departure_level()) * kFeetPerMetre;
            if (height_ft >= limits_.sink_below_ft) {
                departure_watch_ = false;
                sinking_.End(pending_.events);
            } else {
                const double sink_fpm = (last_->altitude_m - p.altitude_m) * kFeetPerMetre * 60 /
                                        static_cast<double>(p.seconds - last_->seconds);
                sinking_.Add(t, sink_fpm, pending_.events);
                sink_judged_until_ = p.seconds;
            }
        }
        if (follows) {
            plausibility_.Add(*last_, p);
        } else {
            plausibility_.Break();
        }
    } else {
        tracking_ = false;
        plausibility_.Break();
    }
    if (detector_.RollingOut() && flight.touchdown && judged_landing_ != flight.touchdown->seconds &&
        follows && GroundKt(*last_, p) < kTaxiKt) {
        JudgeFinal(flight);
    }
    last_ = p;
}

void FlightAnalyzer::Finish() {
    EndWatches();
    detector_.Finish();
}

void FlightAnalyzer::EndWatches() {
    bank_.End(pending_.events);
    pitch_up_.End(pending_.events);
    pitch_down_.End(pending_.events);
    sinking_.End(pending_.events);
    departure_watch_ = false;
}

std::vector<FlightPoint> FlightAnalyzer::Recent(std::int64_t from, double below_m) const {
    // Back from the newest record while it is recent enough and, before
    // `from`, lower than `below_m`; then the records from there on, in order.
    std::size_t count = 0;
    while (count < ring_count_) {
        const FlightPoint& p = ring_[(ring_next_ + kRingSize - 1 - count) % kRingSize];
        if (p.seconds < from && (p.altitude_m >= below_m || p.seconds < from - kApproachMaxS)) break;
        ++count;
    }
    std::vector<FlightPoint> points;
    points.reserve(count);
    for (std::size_t i = count; i-- > 0;) points.push_back(ring_[(ring_next_ + kRingSize - 1 - i) % kRingSize]);
    return points;
}

std::vector<Runway> FlightAnalyzer::RunwaysNear(const GeoPoint& point) {
    return runways_ != nullptr ? runways_->RunwaysNear(point, kRunwayReachM)
                               : std::vector<Runway>{};
}

void FlightAnalyzer::JudgeTakeoff() {
    const DetectedFlight& flight = detector_.current();
    judged_takeoff_ = flight.takeoff;
    departure_watch_ = true;
    std::int64_t roll_start = *flight.takeoff;
    for (const PhaseStart& phase : flight.phases) {
        if (phase.phase == FlightPhase::kTakeoffRoll) roll_start = phase.seconds;
    }
    const std::vector<FlightPoint> points = Recent(roll_start, -1e9);
    if (points.empty()) return;
    const std::size_t liftoff = IndexAt(points, *flight.takeoff);
    pending_.takeoff = kestrun::JudgeTakeoff(
        points, 0, liftoff, RunwaysNear({points[liftoff].latitude_deg, points[liftoff].longitude_deg}));
}

void FlightAnalyzer::JudgeLowPoint() {
    const std::vector<FlightPoint> points = Recent(low_seconds_, low_m_ + kApproachAboveM);
    const std::size_t lowest = IndexAt(points, low_seconds_);
    const FlightPoint& low = points[lowest];
    const std::vector<Runway> runways = RunwaysNear({low.latitude_deg, low.longitude_deg});
    if (runways.empty()) return;
    LowPoint found = kestrun::JudgeLowPoint(points, lowest, runways, detector_.departure_level());
    std::optional<double> ground;
    if (found.touchdown) {
        ground = low.altitude_m;
        pending_.touchdowns.push_back(*found.touchdown);
    } else if (found.go_around) {
        ground = low.altitude_m - found.go_around->lowest_ft_agl * kMetresPerFoot;
        pending_.go_arounds.push_back(*found.go_around);
    }
    if (ground) {
        departure_watch_ = false;
        sinking_.End(pending_.events);
        SinkEvents(points, lowest, *ground);
    }
}

void FlightAnalyzer::JudgeFinal(const DetectedFlight& flight) {
    judged_landing_ = flight.touchdown->seconds;
    const std::vector<FlightPoint> points = Recent(
        flight.touchdown->seconds, flight.touchdown->altitude_m + kApproachAboveM);
    if (points.empty() || points.front().seconds > flight.touchdown->seconds) return;
    const std::size_t settled = IndexAt(points, flight.touchdown->seconds);
    const double ground = points[settled].altitude_m;
    const std::optional<Contact> contact = FindContact(points, settled, ground);
    if (!contact) return;
    const std::vector<Runway> runways = RunwaysNear(contact->where);
    pending_.touchdowns.push_back(JudgeTouchdown(points, *contact, ground, runways, true));
    if (const auto frame = RunwayUnder(runways, contact->where, contact->track_deg)) {
        pending_.approach = JudgeApproach(points, *contact, ground, *frame);
    }
    departure_watch_ = false;
    sinking_.End(pending_.events);
    SinkEvents(points, contact->airborne, ground);
}

void FlightAnalyzer::SinkEvents(const std::vector<FlightPoint>& p, std::size_t to, double ground_m) {
    const double below_m = ground_m + limits_.sink_below_ft * kMetresPerFoot;
    std::size_t from = to;
    while (from > 0 && !p[from].new_stretch && p[from - 1].altitude_m < below_m &&
           p[from - 1].seconds > sink_judged_until_)
        --from;
    LimitWatch watch("sink", limits_.sink_fpm, true);
    for (std::size_t i = from + 1; i <= to; ++i) {
        const double sink_fpm = (p[i - 1].altitude_m - p[i].altitude_m) * kFeetPerMetre * 60 /
                                static_cast<double>(p[i].seconds - p[i - 1].seconds);
        watch.Add(static_cast<double>(p[i].seconds), sink_fpm, pending_.events);
    }
    watch.End(pending_.events);
    sink_judged_until_ = std::max(sink_judged_until_, p[to].seconds);
}

void FlightAnalyzer::OnFlight(const DetectedFlight& found) {
    if (found.touchdown && judged_landing_ != found.touchdown->seconds) JudgeFinal(found);
    DetectedFlight flight = found;
    const auto first = static_cast<double>(found.first_seconds);
    const auto last = static_cast<double>(found.last_seconds);
    FlightJudgement& j = flight.judgement;
    if (pending_.takeoff && found.takeoff) j.takeoff = pending_.takeoff;
    pending_.takeoff.reset();
    TakeUntil(pending_.touchdowns, j.touchdowns, first, last);
    TakeUntil(pending_.go_arounds, j.go_arounds, first, last);
    TakeUntil(pending_.events, j.events, first, last);
    std::sort(j.events.begin(), j.events.end(),
              [](const FlightEvent& a, const FlightEvent& b) { return a.seconds < b.seconds; });
    // Touch-and-goes at any airport; the detector sees them at its departure
    // field even without runways.
    const auto touch_and_goes = std::count_if(j.touchdowns.begin(), j.touchdowns.end(),
                                              [](const TouchdownJudgement& t) { return !t.final; });
    flight.touch_and_goes = std::max(flight.touch_and_goes, static_cast<int>(touch_and_goes));
    if (found.touchdown) j.approach = std::move(pending_.approach);
    pending_.approach.reset();
    flight.implausible = plausibility_.Reason(found);
    plausibility_.Clear();
    sink_.OnFlight(flight);
}

}  // namespace kestrun
