// Writes the record files the logbook benchmark scans:
//   logbook_files DIR many   1000 files of 10 records each
//   logbook_files DIR big    one file of about 1 GB: days of synthetic
//                            flights (takeoffs, circuits, landings, taxiing)
//                            appended one after another
//   logbook_files DIR folder N  N files of about 0.5 MB (6250 records) of
//                            varied days: fields at other heights, circuits
//                            and cruises of other lengths, touch-and-goes,
//                            pauses, and noise on altitude and position, so
//                            that climb rates and ground speeds wander
//                            across the detector's thresholds

#include <cstdio>
#include <fstream>
#include <random>
#include <string>

#include "tests/support/synthetic_flight.h"

namespace {

using kestrun::testing::SyntheticFlight;

constexpr int kFolderRecords = 6250;  // 0.5 MB

// One varied day of about kFolderRecords records, the same for the same seed.
std::string VariedDay(unsigned seed) {
    std::mt19937 random(seed);
    auto pick = [&](int low, int high) { return std::uniform_int_distribution(low, high)(random); };
    SyntheticFlight day(pick(0, 86399), pick(-20, 2500));
    day.Rest(pick(1, 60));
    while (day.points().size() < kFolderRecords - 1500) {
        day.Depart();
        const double field = static_cast<double>(day.points().back().altitude_m) - 400;
        switch (pick(0, 3)) {
            case 0:  // a circuit with a touch-and-go
                day.Fly(120, 65, field).Fly(8, 62, field).Fly(60, 75, field + 300);
                break;
            case 1:  // a paused recorder in the air
                day.Pause(pick(6, 600)).Fly(pick(10, 200), 100, field + pick(300, 3000));
                break;
            case 2:  // level with a slow drift, near the trend's threshold
                day.Fly(pick(60, 600), 110, field + 400 + pick(-700, 700) / 10.0);
                break;
            default:
                day.Fly(pick(100, 900), pick(80, 160), field + pick(200, 4000));
                break;
        }
        day.Fly(pick(30, 300), 90, field + 400);
        day.Arrive(pick(5, 120));
        if (pick(0, 4) == 0) day.Blank(pick(1, 30));
    }
    day.Rest(kFolderRecords - static_cast<int>(day.points().size()));
    std::normal_distribution<double> altitude_noise(0, 0.4), position_noise(0, 2e-6);
    for (kestrun::FlightPoint& p : day.points()) {
        if (!p.has_position) continue;
        p.altitude_m += altitude_noise(random);
        p.latitude_deg += position_noise(random);
        p.longitude_deg += position_noise(random);
    }
    return day.Bytes();
}

bool Write(const std::string& path, const std::string& bytes, int times) {
    std::ofstream out(path, std::ios::binary);
    for (int i = 0; i < times && out; ++i)
        out.write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
    return static_cast<bool>(out);
}

}  // namespace

int main(int argc, char** argv) {
    if (argc == 4 && std::string(argv[2]) == "folder") {
        const int files = std::stoi(argv[3]);
        for (int i = 0; i < files; ++i) {
            char name[32];
            std::snprintf(name, sizeof name, "/day%04d.dat", i);
            if (!Write(argv[1] + std::string(name), VariedDay(static_cast<unsigned>(i)), 1))
                return 1;
        }
        return 0;
    }
    if (argc != 3) {
        std::fputs("usage: logbook_files DIR many|big|folder N\n", stderr);
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
