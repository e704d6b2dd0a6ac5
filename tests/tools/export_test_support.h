#pragma once
// Helpers for the export tests: records built from physical values, record
// files in a temporary directory, and running kestrun-export.

#include <sys/wait.h>
#include <unistd.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

#include "protocol/host_units.h"
#include "recording/flight_record.h"

namespace kestrun::test {

struct Flown {
    int h = 0, m = 0, s = 0;
    double lat = 0, lon = 0, alt_m = 0;
    double pitch_up = 0, bank_right = 0, heading = 0, kt = 0;
};

// A record as the recorder writes it, from degrees, metres and knots.
inline FlightRecord MakeRecord(const Flown& f) {
    FlightRecord r;
    r.Header1 = kHeader1;
    r.Header2 = kHeader2;
    r.Header3 = kHeader3;
    r.Header4 = kHeader4;
    r.Hour = static_cast<std::int16_t>(f.h);
    r.Minute = static_cast<std::int16_t>(f.m);
    r.Second = static_cast<std::int16_t>(f.s);
    r.Latitude = LatitudeToHost(f.lat);
    r.Longitude = LongitudeToHost(f.lon);
    const HostAltitude altitude = AltitudeToHost(f.alt_m);
    r.AltitudeFraction = altitude.fraction;
    r.AltitudeMetres = altitude.metres;
    r.Pitch = SignedAngleToHost(-f.pitch_up);
    r.Bank = SignedAngleToHost(-f.bank_right);
    r.Heading = HeadingToHost(f.heading);
    r.IAS = AirspeedToHost(f.kt);
    return r;
}

inline void Put(std::string& bytes, const FlightRecord& record) {
    const FlightRecordBytes encoded = EncodeFlightRecord(record);
    bytes.append(reinterpret_cast<const char*>(encoded.data()), encoded.size());
}

class TempDir {
  public:
    TempDir() {
        std::string pattern = (std::filesystem::temp_directory_path() / "kestrun-export-XXXXXX");
        path_ = ::mkdtemp(pattern.data());
    }
    ~TempDir() { std::filesystem::remove_all(path_); }
    std::string File(const std::string& name, const std::string& bytes) const {
        const std::string path = (path_ / name).string();
        std::ofstream(path, std::ios::binary) << bytes;
        return path;
    }
    std::filesystem::path path() const { return path_; }

  private:
    std::filesystem::path path_;
};

inline std::string ReadAll(const std::filesystem::path& path) {
    std::ifstream in(path, std::ios::binary);
    std::ostringstream text;
    text << in.rdbuf();
    return text.str();
}

struct Outcome {
    int exit_code = -1;
    std::string out;
    std::string err;
};

// Runs the shell command `command` with stdout and stderr captured.
inline Outcome Shell(const TempDir& dir, const std::string& command) {
    const auto out = dir.path() / "stdout";
    const auto err = dir.path() / "stderr";
    const int status =
        std::system((command + " >'" + out.string() + "' 2>'" + err.string() + "'").c_str());
    return Outcome{WIFEXITED(status) ? WEXITSTATUS(status) : -1, ReadAll(out), ReadAll(err)};
}

// Runs kestrun-export in the UTC time zone with `args` (already quoted).
inline Outcome Export(const TempDir& dir, const std::string& args) {
    return Shell(dir, std::string("TZ=UTC ") + KESTRUN_EXPORT_BINARY + " " + args);
}

inline std::vector<std::string> Lines(const std::string& text) {
    std::vector<std::string> lines;
    std::istringstream in(text);
    for (std::string line; std::getline(in, line);) lines.push_back(line);
    return lines;
}

inline std::size_t Count(const std::string& text, const std::string& what) {
    std::size_t n = 0;
    for (auto at = text.find(what); at != std::string::npos; at = text.find(what, at + 1)) ++n;
    return n;
}

}  // namespace kestrun::test
