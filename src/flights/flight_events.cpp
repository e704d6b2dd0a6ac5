#include "flights/flight_events.h"

#include <fmt/format.h>

#include <cmath>
#include <cstdlib>
#include <sstream>

namespace kestrun {

Status ParseEventLimits(std::string_view text, EventLimits& limits) {
    std::istringstream in{std::string(text)};
    std::string line;
    int number = 0;
    while (std::getline(in, line)) {
        ++number;
        std::istringstream words(line);
        std::string name, value_text, extra;
        if (!(words >> name) || name[0] == '#') continue;
        double value = 0;
        char* end = nullptr;
        if (words >> value_text) value = std::strtod(value_text.c_str(), &end);
        if (end == nullptr || *end != '\0' || !std::isfinite(value) || (words >> extra)) {
            return Status::Error(fmt::format("line {}: expected a name and a number", number));
        }
        double* field = name == "bank_deg"         ? &limits.bank_deg
                        : name == "pitch_up_deg"   ? &limits.pitch_up_deg
                        : name == "pitch_down_deg" ? &limits.pitch_down_deg
                        : name == "sink_fpm"       ? &limits.sink_fpm
                        : name == "sink_below_ft"  ? &limits.sink_below_ft
                                                   : nullptr;
        if (field == nullptr) {
            return Status::Error(fmt::format(
                "line {}: unknown limit {} (bank_deg, pitch_up_deg, pitch_down_deg, sink_fpm, "
                "sink_below_ft)",
                number, name));
        }
        *field = value;
    }
    return Status::Ok();
}

void LimitWatch::Beyond(double seconds, double value, std::vector<FlightEvent>& events) {
    const bool beyond = above_ ? value > limit_ : value < limit_;
    if (!beyond) {
        End(events);
        return;
    }
    if (!open_) open_ = FlightEvent{seconds, kind_, value, limit_, 0};
    if (above_ ? value > open_->peak : value < open_->peak) open_->peak = value;
    last_seconds_ = seconds;
}

void LimitWatch::End(std::vector<FlightEvent>& events) {
    if (!open_) return;
    // Each record stands for the second it was taken in.
    open_->duration_s = last_seconds_ - open_->seconds + 1;
    events.push_back(*open_);
    open_.reset();
}

}  // namespace kestrun
