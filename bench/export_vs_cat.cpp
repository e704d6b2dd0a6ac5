// Exports a large record file to csv and to summary beside `cat FILE >
// /dev/null` on the same file in the same run, so the ratios say how close the
// exporter comes to the speed of simply reading the file.
//
// The file (10 million records, 800 MB, unless KESTRUN_BENCH_RECORDS says
// otherwise) is generated into a fresh temporary directory first and removed
// at the end. Every case runs the real programs as processes with their
// output going to /dev/null, seven times over: on a shared machine the
// fastest repetition shows the program rather than the neighbours.

#include <benchmark/benchmark.h>
#include <sys/statvfs.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <string>
#include <vector>

#include "recording/flight_record.h"
#include "tests/integration/host_process.h"
#include "tests/support/test_files.h"

namespace {

using namespace kestrun;

std::string g_file;

// A flight in wide circles at cruise, one record a second, crossing midnight
// every day of it.
void WriteFlight(const std::string& path, std::uint64_t records) {
    std::FILE* out = std::fopen(path.c_str(), "wb");
    if (out == nullptr) {
        std::perror(path.c_str());
        std::exit(1);
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
                std::perror(path.c_str());
                std::exit(1);
            }
            chunk.clear();
        }
    }
    if (std::fclose(out) != 0) {
        std::perror(path.c_str());
        std::exit(1);
    }
}

// Runs `args` with its output and notes sent to /dev/null and waits for it.
void RunQuietly(benchmark::State& state, const std::vector<std::string>& args) {
    const pid_t pid = testing::SpawnProgram(
        args[0], std::vector<std::string>(args.begin() + 1, args.end()), "/dev/null", "/dev/null");
    const int status = pid > 0 ? testing::WaitForChild(pid) : -1;
    if (!WIFEXITED(status) || WEXITSTATUS(status) != 0) {
        state.SkipWithError(("failed: " + args[0]).c_str());
    }
}

void BM_Cat(benchmark::State& state) {
    for (auto _ : state) RunQuietly(state, {"cat", g_file});
}

void BM_ExportSummary(benchmark::State& state) {
    for (auto _ : state) {
        RunQuietly(state, {KESTRUN_EXPORT_BINARY, "--format", "summary", g_file});
    }
}

void BM_ExportCsv(benchmark::State& state) {
    for (auto _ : state) {
        RunQuietly(state,
                   {KESTRUN_EXPORT_BINARY, "--format", "csv", "--date", "2024-06-01", g_file});
    }
}

// Without --date the file is read twice: once for the midnights.
void BM_ExportCsvDateFromFile(benchmark::State& state) {
    for (auto _ : state) RunQuietly(state, {KESTRUN_EXPORT_BINARY, "--format", "csv", g_file});
}

}  // namespace

BENCHMARK(BM_Cat)->Unit(benchmark::kMillisecond)->UseRealTime()->Iterations(2)->Repetitions(7);
BENCHMARK(BM_ExportSummary)
    ->Unit(benchmark::kMillisecond)
    ->UseRealTime()
    ->Iterations(2)
    ->Repetitions(7);
BENCHMARK(BM_ExportCsv)
    ->Unit(benchmark::kMillisecond)
    ->UseRealTime()
    ->Iterations(2)
    ->Repetitions(7);
BENCHMARK(BM_ExportCsvDateFromFile)
    ->Unit(benchmark::kMillisecond)
    ->UseRealTime()
    ->Iterations(2)
    ->Repetitions(7);

int main(int argc, char** argv) {
    benchmark::Initialize(&argc, argv);
    const char* wanted = std::getenv("KESTRUN_BENCH_RECORDS");
    const std::uint64_t records =
        wanted != nullptr ? std::strtoull(wanted, nullptr, 10) : 10'000'000;

    std::string dir = (std::filesystem::temp_directory_path() / "kestrun-bench-XXXXXX").string();
    if (::mkdtemp(dir.data()) == nullptr) {
        std::perror("mkdtemp");
        return 1;
    }
    struct statvfs disk {};
    const std::uint64_t needed = records * kFlightRecordSize + (std::uint64_t{64} << 20);
    if (::statvfs(dir.c_str(), &disk) == 0 &&
        static_cast<std::uint64_t>(disk.f_bavail) * disk.f_frsize < needed) {
        std::fprintf(stderr, "not enough room in %s for %llu bytes\n", dir.c_str(),
                     static_cast<unsigned long long>(needed));
        std::filesystem::remove_all(dir);
        return 1;
    }
    g_file = dir + "/flight.dat";
    std::fprintf(stderr, "writing %llu records to %s\n", static_cast<unsigned long long>(records),
                 g_file.c_str());
    WriteFlight(g_file, records);

    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    std::filesystem::remove_all(dir);
    return 0;
}
