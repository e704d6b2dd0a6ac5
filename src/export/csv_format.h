#pragma once
// CsvFormat: one row per record under a header row:
//   date,time,latitude_deg,longitude_deg,altitude_m,altitude_ft,
//   pitch_deg,bank_deg,heading_deg,airspeed_kt,header1,header2,header3,header4
// Date and time are local, as recorded (a torn stamp is shown mended). Pitch
// is positive nose up, bank positive right wing down. Position, altitude and
// airspeed are empty for a record that holds no position; attitude is
// written as recorded.

#include "export/flight_format.h"
#include "export/output_buffer.h"

namespace kestrun {

class CsvFormat final : public FlightFormat {
  public:
    explicit CsvFormat(OutputBuffer& out) : out_(out) {}

    bool NeedsDateUpFront() const override { return true; }
    void BeginDocument() override;
    void BeginFlight(const FlightInfo& flight) override;
    void AddRecord(const TimedRecord& record) override;
    void EndFlight(const FlightInfo&, const ScanCounts&, const FlightTimeline&) override {}
    void EndDocument() override {}

  private:
    OutputBuffer& out_;
    CivilDate first_date_;
    std::int64_t day_ = -1;  // day of date_text_, counted from first_date_
    char date_text_[24] = {};
    std::size_t date_length_ = 0;
};

}  // namespace kestrun
