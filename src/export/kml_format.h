#pragma once
// KmlFormat: a KML 2.2 document with one folder per flight. Each folder holds
// the flight as a timed track (gx:MultiTrack, one gx:Track per continuous
// stretch) and as a path (LineStrings of at most 50 000 points, each starting
// where the one before ends), both at absolute altitude, so a globe
// viewer shows it in three dimensions and can replay it, plus its start and
// end points.
//
// KML lists all of a track's times before all of its coordinates, and the
// path follows the track: the flight's positions are spooled, in memory up to
// `spool_buffer` bytes and to a temporary file beyond, so that memory stays
// bounded, and each is written out twice from there.

#include "export/flight_format.h"
#include "export/output_buffer.h"
#include "export/spool_file.h"
#include "export/utc_stamp.h"

namespace kestrun {

class KmlFormat final : public FlightFormat {
  public:
    explicit KmlFormat(OutputBuffer& out, std::size_t spool_buffer = SpoolFile::kDefaultBuffer)
        : out_(out), positions_(spool_buffer) {}

    bool NeedsDateUpFront() const override { return true; }
    void BeginDocument() override;
    void BeginFlight(const FlightInfo& flight) override;
    void AddRecord(const TimedRecord& record) override;
    void EndFlight(const FlightInfo& flight, const ScanCounts&, const FlightTimeline&) override;
    void EndDocument() override;

  private:
    // A spooled position, as written.
    struct Position {
        double longitude_deg;
        double latitude_deg;
        double altitude_m;
    };

    void EndTrack();
    void WritePath();
    void AppendPoint(const char* name, const Position& position);
    // Hands the spooled positions from the `first` on to `take(position)`; a
    // spool that failed fails the output.
    template <typename Take>
    void ReadPositions(std::uint64_t first, Take take);

    OutputBuffer& out_;
    SpoolFile positions_;  // every position of the flight
    CivilDate first_date_;
    LocalToUtc to_utc_;
    UtcStamp stamp_;
    bool in_track_ = false;
    std::uint64_t track_start_ = 0;  // index of the track's first position
    std::uint64_t points_ = 0;
    Position first_{};
    Position last_{};
};

}  // namespace kestrun
