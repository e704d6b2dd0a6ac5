#pragma once
// FlightTrack: a recorded flight held in memory, answering "where was the
// aircraft at play time t". Play time runs in seconds like the file's own
// clock; a midnight the timeline crosses costs nothing, a gap lasts as long
// as it did, and a step backwards (a clock change, an appended file) lasts one
// record's second, so play time always moves forward through the file.
//
// Between two records of one stretch the state is interpolated: position
// linearly in degrees with longitude the short way round the antimeridian
// (records are at most five seconds apart, where the difference from the
// great circle is centimetres), altitude, pitch and airspeed linearly,
// heading and bank the short way round the circle. Across a gap, a step
// backwards, or a record without position the last state is held and the
// next one follows at once: nothing is invented where nothing was recorded.
//
// Memory: about a hundred bytes per positioned record.

#include <cstdint>
#include <optional>
#include <vector>

#include "recordfile/flight_sample.h"
#include "recordfile/flight_timeline.h"

namespace kestrun {

struct PlaybackState {
    FlightSample sample;            // has_position always true
    double vertical_speed_mps = 0;  // climbing positive; 0 while a state is held
    double clock_seconds = 0;       // on the file's timeline (see FlightTimeline)
};

class FlightTrack {
  public:
    // Adds the next record of the file, in file order, with its place on the
    // file's timeline. Records without position are not played but break the
    // interpolation and still move play time on.
    void Add(const FlightSample& sample, const TimePlacement& time);

    bool empty() const { return points_.empty(); }
    std::size_t size() const { return points_.size(); }
    // Play times of the first and last positioned record; only when !empty().
    double begin() const { return points_.front().play; }
    double end() const { return points_.back().play; }

    // The state at play time `t`, clamped into [begin(), end()]. Only when
    // !empty().
    PlaybackState At(double t) const;

    // The first play time at or after `after` at which the file's clock shows
    // `second_of_day` (0..86399): inside a stretch, a gap or at a record.
    // Empty when the file's clock never shows it from `after` on.
    std::optional<double> FindClockTime(std::int64_t second_of_day, double after) const;

  private:
    struct Point {
        double play = 0;
        std::int64_t clock = 0;  // running seconds of the record
        bool joins_previous = false;
        FlightSample sample;
    };
    PlaybackState Hold(const Point& point, double t) const;

    std::vector<Point> points_;
    bool any_record_ = false;
    double last_play_ = 0;
    std::int64_t last_clock_ = 0;
    bool broken_ = false;  // a record without position since the last point
};

// Interpolation of one value from `a` to `b` by `f` in [0, 1].
double Lerp(double a, double b, double f);
// Angles the short way round: a result in [0, 360) for headings, in
// [-180, 180) for bank and longitude.
double LerpHeading(double a, double b, double f);
double LerpSigned180(double a, double b, double f);

}  // namespace kestrun
