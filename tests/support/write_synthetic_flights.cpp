// Writes synthetic record files with known truth for tests that drive the
// programs from outside (the browser tests of the logbook's pages):
//   day.dat   two flights: a pattern with a touch-and-go, then a cross-country
//   long.dat  one flight of ten hours (about 36 000 records)
// and prints, as JSON, the seconds of the day of each touchdown.

#include <cstdio>
#include <string>

#include "tests/support/synthetic_flight.h"
#include "tests/support/test_files.h"

namespace {

bool WriteFile(const std::string& path, const std::string& bytes) {
    std::FILE* file = std::fopen(path.c_str(), "wb");
    if (file == nullptr) return false;
    const bool written = std::fwrite(bytes.data(), 1, bytes.size(), file) == bytes.size();
    return std::fclose(file) == 0 && written;
}

}  // namespace

int main(int argc, char** argv) {
    if (argc != 2) {
        std::fprintf(stderr, "usage: write_synthetic_flights DIR\n");
        return 2;
    }
    const std::string dir = argv[1];
    kestrun::testing::SyntheticFlight day;
    day.Depart().Arrive().Fly(5, 0, 100).Depart();
    day.Fly(125, 65, 100).Fly(6, 60, 100).Fly(60, 75, 500).Fly(100, 90, 500).Arrive();
    const auto day_touchdown = day.touchdown();

    kestrun::testing::SyntheticFlight long_flight(6 * 3600);
    long_flight.Depart().Fly(35000, 110, 1200).Fly(300, 100, 500).Arrive();

    if (!WriteFile(dir + "/day.dat", day.Bytes()) ||
        !WriteFile(dir + "/long.dat", long_flight.Bytes())) {
        std::fprintf(stderr, "cannot write the flights into %s\n", dir.c_str());
        return 1;
    }
    std::printf("{\"day_touchdown\": %lld, \"long_touchdown\": %lld, \"long_records\": %zu}\n",
                static_cast<long long>(day_touchdown.value_or(-1)),
                static_cast<long long>(long_flight.touchdown().value_or(-1)),
                long_flight.points().size());
    return 0;
}
