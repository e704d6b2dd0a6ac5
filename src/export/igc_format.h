#pragma once
// IgcFormat: the flight as an IGC file, the format gliding and flight-log
// tools read: CR LF lines, an A record naming us, H records with the date of
// the first fix and the pilot, aircraft type and registration the logbook
// was told (else left for the pilot to fill),
// an I record announcing indicated airspeed and true heading after each fix,
// and a B record per record with a position:
//   B HHMMSS DDMMmmm N DDDMMmmm E A PPPPP GGGGG SSS HHH
// Time is UTC; both altitudes are the recorded altitude in metres (records
// hold nothing else); SSS is indicated airspeed in km/h and HHH true heading
// in degrees, as IGC counts them. Times roll over midnight by themselves.

#include <cstdint>

#include "export/flight_format.h"
#include "export/output_buffer.h"

namespace kestrun {

struct IgcFix {
    std::int64_t utc_second_of_day = 0;
    double latitude_deg = 0;
    double longitude_deg = 0;
    double altitude_m = 0;
    double airspeed_kt = 0;
    double heading_deg = 0;
};

inline constexpr std::size_t kIgcFixLength = 41;  // without CR LF
// Writes the B record of `fix` with its CR LF and returns the end.
char* WriteIgcFix(char* out, const IgcFix& fix);

class IgcFormat final : public FlightFormat {
  public:
    explicit IgcFormat(OutputBuffer& out) : out_(out) {}

    bool NeedsDateUpFront() const override { return true; }
    void BeginDocument() override {}
    void BeginFlight(const FlightInfo& flight) override;
    void AddRecord(const TimedRecord& record) override;
    void EndFlight(const FlightInfo& flight, const ScanCounts&, const FlightTimeline&) override;
    void EndDocument() override {}

  private:
    void WriteHeader(CivilDate utc_date);

    OutputBuffer& out_;
    CivilDate first_date_;
    FlightPilotFields pilot_fields_;
    LocalToUtc to_utc_;
    bool header_written_ = false;
};

}  // namespace kestrun
