// Fuzz target for the FlightGear bridge's datagram parser: whatever arrives on
// its UDP port, a datagram is either refused with the state untouched, or
// accepted with every value finite and within what an aircraft can show, and
// those values can be stored in the host's image.
//
// Input: the datagram's bytes.

#include <cmath>
#include <cstring>
#include <string>

#include "fuzz/fuzz_target.h"
#include "flightgear/flightgear_datagram.h"
#include "flightgear/flightgear_state.h"

using namespace kestrun;

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const std::string_view datagram(reinterpret_cast<const char*>(data), size);
    const FlightGearState before{1, 2, 3, 4, 5, 6, 7, 8};
    FlightGearState state = before;
    const DatagramVerdict verdict = ParseFlightGearDatagram(datagram, state);
    Check(static_cast<std::size_t>(verdict) < kDatagramVerdictCount);
    Check(!VerdictText(verdict).empty());
    if (verdict != DatagramVerdict::kAccepted) {
        Check(std::memcmp(&state, &before, sizeof state) == 0);
        return 0;
    }
    Check(!datagram.empty() && datagram.back() == '\n');
    for (const double value : {state.latitude_deg, state.longitude_deg, state.altitude_ft,
                               state.pitch_deg, state.roll_deg, state.heading_deg,
                               state.indicated_airspeed_kt, state.vertical_speed_fps}) {
        Check(std::isfinite(value));
    }
    Check(std::abs(state.latitude_deg) <= 90 && std::abs(state.longitude_deg) <= 180);
    // The conversions to the host's integers must hold for every accepted value.
    static OffsetImage image;
    StoreFlightGearState(state, image);
    return 0;
}

// Datagrams as FlightGear sends them, with values from ordinary to extreme.
std::vector<std::uint8_t> GenerateFuzzInput(std::mt19937& random) {
    static const char* const kValues[] = {"0",      "37.4611", "-122.115", "1e3",   "-0.0",
                                          "359.99", "90",      "-180",     "1e308", "nan",
                                          "inf",    "",        "12,5",     "0x10",  " 1"};
    std::string datagram;
    const auto fields = 6 + random() % 4;
    for (unsigned i = 0; i < fields; ++i) {
        if (i > 0) datagram += ',';
        datagram += random() % 3 == 0 ? kValues[random() % std::size(kValues)]
                                      : std::to_string(static_cast<int>(random() % 2000) - 1000);
    }
    if (random() % 8 != 0) datagram += '\n';
    return {datagram.begin(), datagram.end()};
}
