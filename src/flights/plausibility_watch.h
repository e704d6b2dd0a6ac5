#pragma once
// PlausibilityWatch: speeds and rates that no light aircraft flies, watched
// over a flight in the air. A host sped up for a demonstration still gives
// the recorder one record a real second, so such a recording shows every
// speed and rate as many times as high; the logbook marks its flights rather
// than filing them as ordinary ones.
//
// Limits are set far beyond light aircraft, so that no real flight reaches
// them, and single records (a repositioned aircraft, a glitch) do not count:
//  - ground speed above 450 kt for 10 s on end (the fastest single-engine
//    turboprops cruise near 330 kt; a 100 kt tailwind stays below). Not
//    longer: a pattern flown 8 times as fast is in the air for half a minute;
//  - climbing faster than 6000 ft/min for 30 s on end (aerobatic aircraft
//    climb about half that, and an up-line faster only for seconds; a dive
//    or spin can sink faster, so sink is not held against a flight);
//  - a touchdown sinking faster than 2000 ft/min, three times what light
//    aircraft landing gear is built to take.

#include <cstdint>
#include <string>

#include "flights/detected_flight.h"
#include "flights/flight_detector.h"

namespace kestrun {

inline constexpr double kImplausibleGroundKt = 450;
inline constexpr double kImplausibleClimbFpm = 6000;
inline constexpr std::int64_t kImplausibleFastForS = 10;
inline constexpr std::int64_t kImplausibleClimbForS = 30;
inline constexpr double kImplausibleTouchdownFpm = -2000;

class PlausibilityWatch {
  public:
    // `p` follows `before` in the air, one or more seconds later, with no
    // break in time between them.
    void Add(const FlightPoint& before, const FlightPoint& p);
    // A break in time or a stop: a run above a limit ends there.
    void Break();
    // Why no light aircraft flies `flight`, in plain words; empty when one
    // could. Takes what was watched since the last Clear.
    std::string Reason(const DetectedFlight& flight) const;
    void Clear() { *this = PlausibilityWatch{}; }

  private:
    // Seconds on end above a limit, and the longest such run with its peak.
    struct Run {
        std::int64_t seconds = 0;
        double peak = 0;
        std::int64_t longest = 0;
        double longest_peak = 0;
        void Add(bool above, std::int64_t dt, double value);
    };
    Run fast_;
    Run climbing_;
};

}  // namespace kestrun
