#pragma once
// GpxFormat: a GPX 1.1 document with one track per flight and one track
// segment per continuous stretch of positions. Each point carries its
// elevation in metres and its UTC time; local record times are converted with
// this process's time zone. A stretch ends at a gap in time, a step backwards
// and at records without a position.

#include "export/flight_format.h"
#include "export/output_buffer.h"
#include "export/utc_stamp.h"

namespace kestrun {

class GpxFormat final : public FlightFormat {
  public:
    explicit GpxFormat(OutputBuffer& out) : out_(out) {}

    bool NeedsDateUpFront() const override { return true; }
    void BeginDocument() override;
    void BeginFlight(const FlightInfo& flight) override;
    void AddRecord(const TimedRecord& record) override;
    void EndFlight(const FlightInfo&, const ScanCounts&, const FlightTimeline&) override;
    void EndDocument() override;

  private:
    OutputBuffer& out_;
    CivilDate first_date_;
    LocalToUtc to_utc_;
    UtcStamp stamp_;
    bool in_segment_ = false;
};

}  // namespace kestrun
