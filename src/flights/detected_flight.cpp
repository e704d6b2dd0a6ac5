#include "flights/detected_flight.h"

#include <array>

namespace kestrun {
namespace {

constexpr std::array<std::string_view, 8> kPhaseNames = {
    "taxi out", "takeoff roll", "climb", "cruise", "descent", "approach", "landing roll", "taxi in",
};

}  // namespace

std::string_view PhaseName(FlightPhase phase) {
    return kPhaseNames[static_cast<std::size_t>(phase)];
}

std::optional<FlightPhase> PhaseFromName(std::string_view name) {
    for (std::size_t i = 0; i < kPhaseNames.size(); ++i) {
        if (kPhaseNames[i] == name) return static_cast<FlightPhase>(i);
    }
    return std::nullopt;
}

}  // namespace kestrun
