#pragma once
// Events over a flight: bank, pitch and sink beyond limits, each with when it
// began, its peak and how long it lasted. The limits have defaults and can
// be read from a small text file.

#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "flights/flight_judgement.h"
#include "platform/status.h"

namespace kestrun {

struct EventLimits {
    double bank_deg = 45;         // either way
    double pitch_up_deg = 25;     // nose up
    double pitch_down_deg = -20;  // nose down
    double sink_fpm = 2000;       // sinking faster, while low:
    double sink_below_ft = 1000;  // below this above the ground
};

// Lines "NAME VALUE" with the names of EventLimits' fields; blank lines and
// lines starting with '#' are skipped. Names not given keep their defaults.
Status ParseEventLimits(std::string_view text, EventLimits& limits);

// One quantity watched against its limit, a record at a time.
class LimitWatch {
  public:
    // `above`: beyond means greater than the limit, else less than it.
    LimitWatch(std::string kind, double limit, bool above)
        : kind_(std::move(kind)), limit_(limit), above_(above) {}
    // The value of the record at `seconds`; an event that ends is added to
    // `events`.
    void Add(double seconds, double value, std::vector<FlightEvent>& events) {
        // Within the limit with no event open, as nearly every record is.
        if ((above_ ? value <= limit_ : value >= limit_) && !open_) return;
        Beyond(seconds, value, events);
    }
    // The records end (or leave the stretch watched).
    void End(std::vector<FlightEvent>& events);

  private:
    void Beyond(double seconds, double value, std::vector<FlightEvent>& events);

    std::string kind_;
    double limit_;
    bool above_;
    std::optional<FlightEvent> open_;
    double last_seconds_ = 0;
};

}  // namespace kestrun
