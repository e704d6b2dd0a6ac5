// Writes the record files the logbook benchmark scans:
//   logbook_files DIR many   1000 files of 10 records each
//   logbook_files DIR big    one file of about 1 GB: days of synthetic
//                            flights (takeoffs, circuits, landings, taxiing)
//                            appended one after another

#include <cstdio>
#include <fstream>
#include <string>

#include "tests/support/synthetic_flight.h"

namespace {

using kestrun::testing::SyntheticFlight;

bool Write(const std::string& path, const std::string& bytes, int times) {
    std::ofstream out(path, std::ios::binary);
    for (int i = 0; i < times && out; ++i)
        out.write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
    return static_cast<bool>(out);
}

}  // namespace

int main(int argc, char** argv) {
    if (argc != 3) {
        std::fputs("usage: logbook_files DIR many|big\n", stderr);
        return 2;
    }
    const std::string dir = argv[1], what = argv[2];
    if (what == "many") {
        SyntheticFlight parked;
        parked.Rest(10);
        for (int i = 0; i < 1000; ++i) {
            if (!Write(dir + "/parked" + std::to_string(i) + ".dat", parked.Bytes(), 1)) return 1;
        }
        return 0;
    }
    SyntheticFlight day;
    day.Depart();
    day.Arrive();
    day.Fly(5, 0, 100).Depart();
    day.Fly(125, 65, 100).Fly(6, 60, 100).Fly(60, 75, 500).Fly(300, 90, 500);
    day.Arrive();
    const std::string bytes = day.Bytes();
    const auto times = static_cast<int>((std::uint64_t{1} << 30) / bytes.size());
    return Write(dir + "/big.dat", bytes, times) ? 0 : 1;
}
