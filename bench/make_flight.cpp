// Writes a long generated flight for the export benchmarks:
//   make_flight PATH [RECORDS]   (10 million records, 800 MB, by default)
// Wide circles at cruise, one record a second, crossing midnight every day of
// it, so that every format has dates, positions and angles to work on.

#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

#include "record/flight_record.h"
#include "tests/support/test_files.h"

int main(int argc, char** argv) {
    using namespace kestrun;
    if (argc < 2 || argc > 3) {
        std::fprintf(stderr, "usage: make_flight PATH [RECORDS]\n");
        return 2;
    }
    const std::uint64_t records = argc == 3 ? std::strtoull(argv[2], nullptr, 10) : 10'000'000;
    std::FILE* out = std::fopen(argv[1], "wb");
    if (out == nullptr) {
        std::perror(argv[1]);
        return 1;
    }
    std::vector<std::byte> chunk;
    chunk.reserve(kFlightRecordSize * 8192);
    for (std::uint64_t i = 0; i < records; ++i) {
        const double turn = static_cast<double>(i) * 2e-4;
        const auto of_day = static_cast<int>((36000 + i) % 86400);
        const FlightRecord r = testing::MakeRecord({.h = of_day / 3600,
                                                    .m = of_day / 60 % 60,
                                                    .s = of_day % 60,
                                                    .lat = 47 + std::sin(turn),
                                                    .lon = 8 + 1.5 * std::cos(turn),
                                                    .alt_m = 3000 + 500 * std::sin(turn * 7),
                                                    .pitch_up = 2.5 * std::cos(turn * 7),
                                                    .bank_right = 15,
                                                    .heading = turn * 57.29577951308232 + 90,
                                                    .kt = 180 + 20 * std::sin(turn * 3)});
        const FlightRecordBytes bytes = EncodeFlightRecord(r);
        chunk.insert(chunk.end(), bytes.begin(), bytes.end());
        if (chunk.size() == chunk.capacity() || i + 1 == records) {
            if (std::fwrite(chunk.data(), 1, chunk.size(), out) != chunk.size()) {
                std::perror(argv[1]);
                return 1;
            }
            chunk.clear();
        }
    }
    if (std::fclose(out) != 0) {
        std::perror(argv[1]);
        return 1;
    }
    return 0;
}
