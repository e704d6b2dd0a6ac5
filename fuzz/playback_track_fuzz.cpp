// Fuzz target for the replay's reading side: whatever a record file holds,
// the flight track built from it answers every play time with a state that a
// simulator can take (finite, latitude and longitude on the globe, heading in
// [0, 360)) and play time inside the track, and a clock-time search never
// answers a time before the one it was asked from.
//
// Input: byte 0 picks the clock time searched for; the rest is the file.

#include <algorithm>
#include <cmath>
#include <span>
#include <string>

#include "fuzz/fuzz_target.h"
#include "playback/flight_track.h"
#include "recordfile/record_scanner.h"
#include "tests/support/test_files.h"

using namespace kestrun;

namespace {

class TrackSink final : public RecordSink {
  public:
    void OnRecord(const FlightRecord& record, std::uint64_t) override {
        track.Add(SampleFromRecord(record),
                  timeline.Place(record.Hour, record.Minute, record.Second));
    }
    FlightTimeline timeline;
    FlightTrack track;
};

void CheckState(const PlaybackState& state) {
    const FlightSample& s = state.sample;
    for (const double value :
         {s.latitude_deg, s.longitude_deg, s.altitude_m, s.pitch_deg, s.bank_deg, s.heading_deg,
          s.airspeed_kt, state.vertical_speed_mps, state.clock_seconds}) {
        Check(std::isfinite(value));
    }
    Check(s.has_position && std::abs(s.latitude_deg) <= 90 && s.longitude_deg >= -180 &&
          s.longitude_deg < 180 && s.heading_deg >= 0 && s.heading_deg < 360);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    if (size == 0) return 0;
    TrackSink sink;
    static_cast<void>(
        ScanBytes(std::span(reinterpret_cast<const std::byte*>(data + 1), size - 1), sink));
    const FlightTrack& track = sink.track;
    if (track.empty()) return 0;
    Check(track.begin() <= track.end());
    const double length = track.end() - track.begin();
    for (const double f : {-1.0, 0.0, 0.25, 0.5, 0.999, 1.0, 2.0})
        CheckState(track.At(track.begin() + f * length));
    const std::int64_t wanted = std::int64_t{data[0]} * 337;
    if (const std::optional<double> found = track.FindClockTime(wanted, track.begin())) {
        Check(*found >= track.begin());
    }
    return 0;
}

// Recordings as a pilot makes them: a stretch of flight, with gaps, a
// midnight, a clock that steps back and records of a closed link.
std::vector<std::uint8_t> GenerateFuzzInput(std::mt19937& random) {
    const auto byte = [&] { return static_cast<int>(random() % 256); };
    std::string file(1, static_cast<char>(byte()));
    int second = 86400 - byte();
    double lat = byte() * 0.7 - 90, lon = byte() * 1.41 - 180;
    for (int records = byte() % 40; records > 0; --records) {
        second =
            (second + 1 + (byte() < 8 ? byte() * 13 : 0) - (byte() < 4 ? 3600 : 0) + 86400) % 86400;
        lat = std::clamp(lat + (byte() - 128) * 0.001, -90.0, 90.0);
        lon = std::fmod(lon + (byte() - 128) * 0.01 + 540, 360) - 180;
        testing::Flown f{.h = second / 3600, .m = second / 60 % 60, .s = second % 60};
        if (byte() >= 16) {
            f.lat = lat;
            f.lon = lon;
            f.alt_m = byte() * 40.0 - 400;
            f.pitch_up = byte() - 128;
            f.bank_right = byte() - 128;
            f.heading = byte() * 1.41;
            f.kt = byte();
        }
        std::string bytes;
        testing::AppendRecord(bytes, testing::MakeRecord(f));
        file += bytes;
    }
    return {file.begin(), file.end()};
}
