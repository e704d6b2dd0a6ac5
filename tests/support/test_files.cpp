#include "tests/support/test_files.h"

#include <cstdlib>
#include <fstream>
#include <iterator>
#include <system_error>

#include "protocol/host_units.h"

namespace kestrun::testing {

ScratchDir::ScratchDir() : ScratchDir(std::filesystem::temp_directory_path()) {}

ScratchDir::ScratchDir(const std::filesystem::path& parent) {
    std::string pattern = (parent / "kestrun-XXXXXX").string();
    // mkdtemp makes the folder with mode 0700.
    if (::mkdtemp(pattern.data()) == nullptr) std::abort();
    path_ = pattern;
}

ScratchDir::~ScratchDir() {
    std::error_code ignored;
    std::filesystem::remove_all(path_, ignored);
}

std::string ScratchDir::Write(const std::string& name, const std::string& bytes) const {
    const std::string path = (path_ / name).string();
    std::ofstream(path, std::ios::binary) << bytes;
    return path;
}

std::string ReadFile(const std::filesystem::path& path) {
    std::ifstream in(path, std::ios::binary);
    return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
}

FlightRecord MakeRecord(const Flown& f) {
    const HostAltitude altitude = AltitudeToHost(f.alt_m);
    return FlightRecord{.Header1 = kHeader1,
                        .Header2 = kHeader2,
                        .Header3 = kHeader3,
                        .Header4 = kHeader4,
                        .Hour = static_cast<std::int16_t>(f.h),
                        .Minute = static_cast<std::int16_t>(f.m),
                        .Second = static_cast<std::int16_t>(f.s),
                        .Latitude = LatitudeToHost(f.lat),
                        .Longitude = LongitudeToHost(f.lon),
                        .AltitudeFraction = altitude.fraction,
                        .AltitudeMetres = altitude.metres,
                        .Pitch = SignedAngleToHost(-f.pitch_up),
                        .Bank = SignedAngleToHost(-f.bank_right),
                        .Heading = HeadingToHost(f.heading),
                        .IAS = AirspeedToHost(f.kt)};
}

void AppendRecord(std::string& bytes, const FlightRecord& record) {
    const FlightRecordBytes encoded = EncodeFlightRecord(record);
    bytes.append(reinterpret_cast<const char*>(encoded.data()), encoded.size());
}

std::vector<FlightRecord> ReadFlightRecords(const std::filesystem::path& path, std::size_t skip) {
    const std::string bytes = ReadFile(path);
    std::vector<FlightRecord> records;
    for (std::size_t at = skip; at + kFlightRecordSize <= bytes.size(); at += kFlightRecordSize) {
        records.push_back(DecodeFlightRecord(reinterpret_cast<const std::byte*>(&bytes[at])));
    }
    return records;
}

}  // namespace kestrun::testing
