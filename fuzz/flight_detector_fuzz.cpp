// Fuzz target for the flight detector: whatever records a file holds, placed
// in time as the logbook places them, the flights found follow one another
// in the file without overlapping (sharing at most the stop between them),
// each runs forward in time (off-block, takeoff, landing, on-block and every
// phase inside it and in that order), every touchdown lies inside its
// flight, and no number is NaN or infinite. The record file itself is the
// logbook target's: here the records' values go straight to the detector.
//
// Input: a flight script (fuzz/flight_script.h).

#include <cmath>
#include <optional>

#include "flights/flight_detector.h"
#include "fuzz/flight_script.h"
#include "fuzz/fuzz_target.h"
#include "recordfile/flight_timeline.h"

namespace {

using namespace kestrun;

void CheckFinite(std::initializer_list<double> values) {
    for (const double value : values) Check(std::isfinite(value));
}

void CheckPoint(const GeoPoint& p) {
    CheckFinite({p.latitude_deg, p.longitude_deg});
    Check(std::abs(p.latitude_deg) <= 90 && std::abs(p.longitude_deg) <= 180);
}

// `time`, when known, lies in [from, to].
void CheckWithin(const std::optional<std::int64_t>& time, std::int64_t from, std::int64_t to) {
    if (time) Check(from <= *time && *time <= to);
}

void CheckFlight(const DetectedFlight& f, std::uint64_t file_size) {
    Check(f.begin_offset < f.end_offset && f.end_offset <= file_size);
    Check(f.first_seconds <= f.last_seconds);
    // Each moment after the one before it, all inside the flight.
    std::int64_t from = f.first_seconds;
    for (const auto& moment : {f.off_block, f.takeoff, f.landing, f.on_block}) {
        CheckWithin(moment, from, f.last_seconds);
        if (moment) from = *moment;
    }
    std::int64_t phase_from = f.first_seconds;
    for (const PhaseStart& phase : f.phases) {
        Check(phase_from <= phase.seconds && phase.seconds <= f.last_seconds);
        phase_from = phase.seconds;
    }
    if (f.takeoff_point) CheckPoint(*f.takeoff_point);
    if (f.touchdown) {
        const LandingReport& td = *f.touchdown;
        Check(f.first_seconds <= td.seconds && td.seconds <= f.last_seconds);
        CheckWithin(td.seconds, f.takeoff.value_or(f.first_seconds), f.last_seconds);
        CheckPoint(td.where);
        CheckFinite({td.rate_fpm.value_or(0), td.airspeed_kt, td.pitch_deg, td.bank_deg});
    }
    Check(f.touch_and_goes >= 0);
    CheckFinite({f.distance_m, f.max_altitude_m, f.max_airspeed_kt});
    Check(f.distance_m >= 0);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    testing::CollectFlights sink;
    FlightDetector detector(sink);
    FlightTimeline timeline;
    std::uint64_t offset = 0;
    // The values as the script gives them: converting them to the host's
    // words and back, as a record file would, took half of every run.
    for (const fuzz::ScriptedRecord& r : fuzz::DecodeScript({data, size})) {
        const testing::Flown& f = r.flown;
        const TimePlacement time = timeline.Place(f.h, f.m, f.s);
        detector.Add({.offset = offset,
                      .seconds = time.seconds,
                      .new_stretch = time.new_stretch,
                      .has_position = r.has_position,
                      .latitude_deg = f.lat,
                      .longitude_deg = f.lon,
                      .altitude_m = f.alt_m,
                      .pitch_deg = f.pitch_up,
                      .bank_deg = f.bank_right,
                      .airspeed_kt = f.kt});
        offset += kFlightRecordSize;
        Check(detector.RestedSinceLanding() >= 0);
    }
    detector.Finish();
    for (std::size_t i = 0; i < sink.flights.size(); ++i) {
        CheckFlight(sink.flights[i], offset);
        // Only the last flight may be one the records ended in.
        Check(sink.flights[i].complete || i + 1 == sink.flights.size());
        // Flights follow one another in the file, meeting at most at the one
        // record at rest that is the on-block of one and the off-block of the
        // next. (In clock time they may not: the clock can be set back.)
        if (i > 0) {
            Check(sink.flights[i - 1].end_offset <=
                  sink.flights[i].begin_offset + kFlightRecordSize);
        }
    }
    if (const auto resume = detector.resume_point()) Check(resume->offset < offset);
    return 0;
}

std::vector<std::uint8_t> GenerateFuzzInput(std::mt19937& random) {
    return fuzz::GenerateFlightScript(random);
}
