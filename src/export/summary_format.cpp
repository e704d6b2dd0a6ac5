#include "export/summary_format.h"

#include <fmt/format.h>

#include <iterator>

#include "text/terminal_text.h"

namespace kestrun {

void SummaryFormat::EndFlight(const FlightInfo& flight, const ScanCounts& scan,
                              const FlightTimeline& timeline) {
    std::string text;
    auto line = [&text](fmt::string_view format, auto&&... args) {
        fmt::vformat_to(std::back_inserter(text), format, fmt::make_format_args(args...));
        text += '\n';
    };
    const CivilDate date = flight.first_date;

    if (!first_flight_) text += '\n';
    first_flight_ = false;
    // The summary is read at a terminal, so the path cannot steer it.
    line("File: {}", TerminalSafe(flight.path));
    line("Date: {} ({})", FormatCivilDate(date), DateSourceText(flight.date_source));
    if (stats_.records() > 0) {
        line("From: {}", FormatLocalTime(date, stats_.earliest()));
        line("To: {}", FormatLocalTime(date, stats_.latest()));
        line("Duration: {}", FormatDuration(stats_.latest() - stats_.earliest()));
    } else {
        line("From: -");
        line("To: -");
        line("Duration: -");
    }
    line("Records: {}", stats_.records());
    line("Records without a position: {}", stats_.records() - stats_.positions());
    const double metres = stats_.distance_m();
    line("Distance flown: {:.1f} km ({:.1f} NM)", metres / 1000, metres / kMetresPerNauticalMile);
    if (stats_.positions() > 0) {
        line("Highest altitude: {:.1f} m ({:.0f} ft)", stats_.highest_m(),
             stats_.highest_m() / kMetresPerFoot);
        line("Fastest airspeed: {:.1f} kt", stats_.fastest_kt());
    } else {
        line("Highest altitude: -");
        line("Fastest airspeed: -");
    }
    if (timeline.gaps() == 0) {
        line("Gaps in time: 0");
    } else {
        line("Gaps in time: {}, longest {}", timeline.gaps(),
             FormatDuration(timeline.longest_gap()));
        for (const TimelineGap& gap : timeline.kept_gaps()) {
            line("  {} to {} ({})", FormatLocalTime(date, gap.from), FormatLocalTime(date, gap.to),
                 FormatDuration(gap.to - gap.from));
        }
        if (timeline.gaps() > timeline.kept_gaps().size()) {
            line("  and {} more", timeline.gaps() - timeline.kept_gaps().size());
        }
    }
    line("Steps backwards in time: {}", timeline.backward_steps());
    line("Torn time stamps mended: {}", timeline.mended_stamps());
    line("Damaged records skipped: {} ({} bytes)", scan.damaged_records, scan.damaged_bytes);
    line("Other bytes skipped: {}", scan.skipped_bytes);
    if (scan.truncated_bytes > 0) {
        line("Truncated last record: {} bytes, not decoded", scan.truncated_bytes);
    } else {
        line("Truncated last record: none");
    }
    out_.Append(text);
}

}  // namespace kestrun
