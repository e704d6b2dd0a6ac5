#pragma once
// SummaryFormat: a few lines of plain text per flight: the date and where it
// came from, start and end, duration, records, distance flown, highest
// altitude, fastest airspeed, gaps in time, and what was skipped as damaged.

#include "export/flight_format.h"
#include "export/flight_stats.h"
#include "export/output_buffer.h"

namespace kestrun {

class SummaryFormat final : public FlightFormat {
  public:
    explicit SummaryFormat(OutputBuffer& out) : out_(out) {}

    bool NeedsDateUpFront() const override { return false; }
    void BeginDocument() override {}
    void BeginFlight(const FlightInfo&) override { stats_ = FlightStats(); }
    void AddRecord(const TimedRecord& record) override { stats_.Add(record); }
    void EndFlight(const FlightInfo& flight, const ScanCounts& scan,
                   const FlightTimeline& timeline) override;
    void EndDocument() override {}

  private:
    OutputBuffer& out_;
    FlightStats stats_;
    bool first_flight_ = true;
};

}  // namespace kestrun
