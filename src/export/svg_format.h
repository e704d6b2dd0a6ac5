#pragma once
// SvgFormat: one picture per flight, stacked top to bottom: the ground track
// on a plan drawn to scale (with a scale bar, north up, start and end
// marked), and below it altitude and indicated airspeed against local time,
// with labelled axes. Gaps and records without a position break the lines.
//
// A picture cannot show millions of points anyway, so the writer keeps at
// most kMaxPoints evenly spread samples of the flight (halving them when
// full) while tracking the exact extremes: memory is bounded on any flight.

#include <iterator>
#include <string>
#include <vector>

#include "export/flight_format.h"
#include "export/flight_stats.h"
#include "export/output_buffer.h"

namespace kestrun {

class SvgFormat final : public FlightFormat {
  public:
    static constexpr std::size_t kMaxPoints = 4096;

    // `flights` is the number of flights that will follow, for the height of
    // the picture.
    SvgFormat(OutputBuffer& out, std::size_t flights);

    bool NeedsDateUpFront() const override { return false; }
    void BeginDocument() override;
    void BeginFlight(const FlightInfo& flight) override;
    void AddRecord(const TimedRecord& record) override;
    void EndFlight(const FlightInfo& flight, const ScanCounts& scan,
                   const FlightTimeline& timeline) override;
    void EndDocument() override;

    struct PlotPoint {
        std::int64_t seconds = 0;
        double x_deg = 0;  // longitude, unwrapped so the track never jumps 360 degrees
        double latitude_deg = 0;
        double altitude_ft = 0;
        double airspeed_kt = 0;
        bool break_before = false;
    };

  private:
    using Out = std::back_insert_iterator<std::string>;
    void Keep(const PlotPoint& point);
    void WriteFacts(Out o, const FlightInfo& flight) const;
    void WritePlan(Out o, const PlotPoint* tail) const;

    OutputBuffer& out_;
    std::size_t flights_;
    std::size_t flight_index_ = 0;
    FlightStats stats_;
    std::vector<PlotPoint> points_;
    std::uint64_t stride_ = 1;
    std::uint64_t seen_ = 0;
    bool carry_break_ = false;
    bool break_next_ = false;
    PlotPoint last_;
    bool last_kept_ = false;
    double min_x_ = 0, max_x_ = 0, min_lat_ = 0, max_lat_ = 0;
    double min_alt_ = 0, max_alt_ = 0, max_ias_ = 0;
};

}  // namespace kestrun
