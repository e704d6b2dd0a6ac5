// Runs the record scanner's fuzz entry point over generated record files
// where no coverage-guided fuzzer is available. Files start as sound
// recordings, then get junk, cut-off records, impossible times and damaged
// bytes, the faults appended and crashed recordings show.

#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <random>
#include <vector>

#include "protocol/host_units.h"
#include "recording/flight_record.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size);

namespace {

using namespace kestrun;

std::vector<std::uint8_t> GenerateInput(std::mt19937& random) {
    std::uniform_int_distribution<int> byte(0, 255);
    std::vector<std::uint8_t> input{static_cast<std::uint8_t>(byte(random))};
    const int records = byte(random) % 40;
    int second = byte(random) * 337;
    for (int i = 0; i < records; ++i) {
        FlightRecord r;
        r.Header1 = kHeader1;
        r.Header3 = kHeader3;
        second = (second + 1 + (byte(random) < 8 ? byte(random) * 97 : 0)) % 86400;
        r.Hour = static_cast<std::int16_t>(second / 3600);
        r.Minute = static_cast<std::int16_t>(second / 60 % 60);
        r.Second = static_cast<std::int16_t>(second % 60);
        if (byte(random) < 16) r.Hour = static_cast<std::int16_t>(byte(random));
        if (byte(random) >= 16) {  // else: a record of a closed link
            r.Latitude = LatitudeToHost(byte(random) * 0.7 - 90);
            r.Longitude = LongitudeToHost(byte(random) * 1.41 - 180);
            const HostAltitude altitude = AltitudeToHost(byte(random) * 40.0 - 400);
            r.AltitudeFraction = altitude.fraction;
            r.AltitudeMetres = altitude.metres;
            r.Heading = static_cast<std::uint32_t>(random());
            r.IAS = AirspeedToHost(byte(random));
        }
        if (byte(random) < 8) r.Latitude = 0x0000000100000008;  // a header inside the data
        const FlightRecordBytes bytes = EncodeFlightRecord(r);
        std::size_t keep = bytes.size();
        if (byte(random) < 10) keep = static_cast<std::size_t>(byte(random)) % bytes.size();
        for (std::size_t b = 0; b < keep; ++b)
            input.push_back(std::to_integer<std::uint8_t>(bytes[b]));
        if (byte(random) < 12) {
            const int junk = byte(random) % 100;
            for (int j = 0; j < junk; ++j)
                input.push_back(static_cast<std::uint8_t>(byte(random) & 0x0F));
        }
    }
    const int damages = byte(random) % 4;
    for (int d = 0; d < damages && input.size() > 1; ++d) {
        input[1 + static_cast<std::size_t>(random()) % (input.size() - 1)] =
            static_cast<std::uint8_t>(byte(random));
    }
    return input;
}

}  // namespace

int main(int argc, char** argv) {
    const long runs = argc > 1 ? std::strtol(argv[1], nullptr, 10) : 5000;
    std::mt19937 random(0x52454344);
    for (long run = 0; run < runs; ++run) {
        const std::vector<std::uint8_t> input = GenerateInput(random);
        LLVMFuzzerTestOneInput(input.data(), input.size());
    }
    return 0;
}
