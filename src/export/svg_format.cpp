#include "export/svg_format.h"

#include <fmt/format.h>

#include <algorithm>
#include <cmath>
#include <functional>
#include <iterator>
#include <numbers>

#include "export/xml_text.h"

namespace kestrun {
namespace {

constexpr int kWidth = 960;
constexpr int kPanelHeight = 1170;
constexpr double kLeft = 80;
constexpr double kPlotWidth = 840;
constexpr double kPlanTop = 90;
constexpr double kPlanHeight = 520;
constexpr double kChartHeight = 180;
constexpr double kAltitudeTop = 680;
constexpr double kAirspeedTop = 940;
// The plan shows at least this many degrees of latitude (about 200 m), so a
// flight that never moved still gets a sensible scale.
constexpr double kMinPlanDeg = 0.002;
constexpr double kMetresPerDegree = kEarthMeanRadiusMetres * std::numbers::pi / 180.0;

using Out = std::back_insert_iterator<std::string>;

// The largest of 1, 2 or 5 times a power of ten that is at most `value`.
double NiceBelow(double value) {
    const double power = std::pow(10.0, std::floor(std::log10(value)));
    for (const double m : {5.0, 2.0, 1.0}) {
        if (m * power <= value) return m * power;
    }
    return power;
}

// The smallest of 1, 2 or 5 times a power of ten that is at least `value`.
double NiceAbove(double value) {
    const double power = std::pow(10.0, std::floor(std::log10(value)));
    for (const double m : {1.0, 2.0, 5.0, 10.0}) {
        if (m * power >= value) return m * power;
    }
    return 10 * power;
}

std::string Hemisphere(double value, char positive, char negative) {
    return fmt::format("{:.4f}\u00b0 {}", std::fabs(value), value < 0 ? negative : positive);
}

// Draws `points` (and `tail`, when given) as polylines broken where a point
// says so; `x` and `y` map a point to picture coordinates.
void Polylines(Out o, const std::vector<SvgFormat::PlotPoint>& points,
               const SvgFormat::PlotPoint* tail, const char* style,
               const std::function<double(const SvgFormat::PlotPoint&)>& x,
               const std::function<double(const SvgFormat::PlotPoint&)>& y) {
    std::string line;
    std::size_t count = 0;
    auto flush = [&] {
        if (count >= 2) fmt::format_to(o, "<polyline {} points=\"{}\"/>\n", style, line);
        line.clear();
        count = 0;
    };
    auto add = [&](const SvgFormat::PlotPoint& p) {
        if (p.break_before) flush();
        fmt::format_to(std::back_inserter(line), "{}{:.1f},{:.1f}", count ? " " : "", x(p), y(p));
        ++count;
    };
    for (const auto& p : points) add(p);
    if (tail != nullptr) add(*tail);
    flush();
}

struct Axis {
    double lo = 0;
    double hi = 1;
    double step = 1;
};

Axis ValueAxis(double lo, double hi) {
    if (hi - lo < 1) hi = lo + 1;
    Axis axis;
    axis.step = NiceAbove((hi - lo) / 5);
    axis.lo = std::floor(lo / axis.step) * axis.step;
    axis.hi = std::ceil(hi / axis.step) * axis.step;
    return axis;
}

Axis TimeAxis(std::int64_t first, std::int64_t last) {
    static constexpr std::int64_t kSteps[] = {5,     10,    15,     30,     60,     120,   300,
                                              600,   900,   1800,   3600,   7200,   10800, 21600,
                                              43200, 86400, 172800, 604800, 2592000};
    const auto span = static_cast<double>(std::max<std::int64_t>(last - first, 10));
    Axis axis;
    // Beyond a month of running time (only a strange file gets there) the
    // ticks fall on a round number of days.
    axis.step = NiceAbove(span / 8 / kSecondsPerDay) * kSecondsPerDay;
    for (const std::int64_t step : kSteps) {
        if (span / static_cast<double>(step) <= 8) {
            axis.step = static_cast<double>(step);
            break;
        }
    }
    axis.lo = static_cast<double>(first);
    axis.hi = static_cast<double>(first) + span;
    return axis;
}

// A chart of one value against time, with axes, ticks and titles.
void Chart(Out o, double top, const Axis& time, const Axis& values, const char* title,
           const char* colour, const std::vector<SvgFormat::PlotPoint>& points,
           const SvgFormat::PlotPoint* tail, double SvgFormat::PlotPoint::*member) {
    const double bottom = top + kChartHeight;
    auto px = [&](double t) { return kLeft + (t - time.lo) / (time.hi - time.lo) * kPlotWidth; };
    auto py = [&](double v) {
        return bottom - (v - values.lo) / (values.hi - values.lo) * kChartHeight;
    };
    fmt::format_to(o, "<rect x=\"{}\" y=\"{}\" width=\"{}\" height=\"{}\" class=\"frame\"/>\n",
                   kLeft, top, kPlotWidth, kChartHeight);
    for (double v = values.lo; v <= values.hi + values.step / 2; v += values.step) {
        fmt::format_to(
            o,
            "<line x1=\"{}\" y1=\"{:.1f}\" x2=\"{}\" y2=\"{:.1f}\" class=\"grid\"/>"
            "<text x=\"{}\" y=\"{:.1f}\" class=\"tick\" text-anchor=\"end\">{:g}</text>\n",
            kLeft, py(v), kLeft + kPlotWidth, py(v), kLeft - 6, py(v) + 4, v);
    }
    const double first_tick = std::ceil(time.lo / time.step) * time.step;
    for (double t = first_tick; t <= time.hi; t += time.step) {
        // Seconds show only when the ticks are less than a minute apart.
        std::string label = FormatTimeOfDay(static_cast<std::int64_t>(t));
        if (time.step >= 60) label.resize(5);
        fmt::format_to(o,
                       "<line x1=\"{:.1f}\" y1=\"{}\" x2=\"{:.1f}\" y2=\"{}\" class=\"grid\"/>"
                       "<text x=\"{:.1f}\" y=\"{}\" class=\"tick\" text-anchor=\"middle\">{}"
                       "</text>\n",
                       px(t), top, px(t), bottom, px(t), bottom + 16, label);
    }
    fmt::format_to(o,
                   "<text x=\"{}\" y=\"{}\" class=\"axis\" text-anchor=\"middle\" "
                   "transform=\"rotate(-90 {} {})\">{}</text>\n",
                   kLeft - 52, top + kChartHeight / 2, kLeft - 52, top + kChartHeight / 2, title);
    fmt::format_to(
        o, "<text x=\"{}\" y=\"{}\" class=\"axis\" text-anchor=\"middle\">Local time</text>\n",
        kLeft + kPlotWidth / 2, bottom + 36);
    const std::string style =
        fmt::format("fill=\"none\" stroke=\"{}\" stroke-width=\"1.5\"", colour);
    Polylines(
        o, points, tail, style.c_str(),
        [&](const SvgFormat::PlotPoint& p) { return px(static_cast<double>(p.seconds)); },
        [&](const SvgFormat::PlotPoint& p) { return py(p.*member); });
}

}  // namespace

SvgFormat::SvgFormat(OutputBuffer& out, std::size_t flights) : out_(out), flights_(flights) {
    points_.reserve(kMaxPoints);
}

void SvgFormat::BeginDocument() {
    const std::size_t height = std::max<std::size_t>(flights_, 1) * kPanelHeight;
    out_.Append(
        fmt::format("<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n"
                    "<svg xmlns=\"http://www.w3.org/2000/svg\" width=\"{0}\" height=\"{1}\" "
                    "viewBox=\"0 0 {0} {1}\" font-family=\"sans-serif\">\n"
                    "<style>.frame{{fill:none;stroke:#444}} .grid{{stroke:#ddd}} "
                    ".tick{{font-size:11px;fill:#444}}"
                    " .axis{{font-size:13px;fill:#222}} .title{{font-size:17px;font-weight:bold}}"
                    " .facts{{font-size:13px;fill:#333}}</style>\n"
                    "<rect width=\"100%\" height=\"100%\" fill=\"white\"/>\n",
                    kWidth, height));
}

void SvgFormat::BeginFlight(const FlightInfo&) {
    stats_ = FlightStats();
    points_.clear();
    stride_ = 1;
    seen_ = 0;
    carry_break_ = false;
    break_next_ = false;
    last_kept_ = false;
}

void SvgFormat::Keep(const PlotPoint& point) {
    if (seen_++ % stride_ != 0) {
        carry_break_ = carry_break_ || point.break_before;
        last_kept_ = false;
        return;
    }
    if (points_.size() == kMaxPoints) {
        // Keep every other point; a dropped point's break passes to the next.
        std::size_t kept = 0;
        bool carry = false;
        for (std::size_t i = 0; i < points_.size(); ++i) {
            carry = carry || points_[i].break_before;
            if (i % 2 == 0) {
                points_[kept] = points_[i];
                points_[kept++].break_before = carry;
                carry = false;
            }
        }
        points_.resize(kept);
        carry_break_ = carry_break_ || carry;
        stride_ *= 2;
        // The point at hand was counted against the old stride; under the new
        // one it is kept only if its index is a multiple of it.
        if ((seen_ - 1) % stride_ != 0) {
            carry_break_ = carry_break_ || point.break_before;
            last_kept_ = false;
            return;
        }
    }
    PlotPoint kept = point;
    kept.break_before = point.break_before || carry_break_;
    carry_break_ = false;
    points_.push_back(kept);
    last_kept_ = true;
}

void SvgFormat::AddRecord(const TimedRecord& record) {
    stats_.Add(record);
    const FlightSample s = SampleFromRecord(record.Decode());
    if (!s.has_position) {
        break_next_ = true;
        return;
    }
    PlotPoint point;
    point.seconds = record.time.seconds;
    point.x_deg = s.longitude_deg;
    if (stats_.positions() > 1) {
        // Unwrap across the antimeridian so the plan shows one piece.
        while (point.x_deg - last_.x_deg > 180) point.x_deg -= 360;
        while (point.x_deg - last_.x_deg < -180) point.x_deg += 360;
    }
    point.latitude_deg = s.latitude_deg;
    point.altitude_ft = s.altitude_m / kMetresPerFoot;
    point.airspeed_kt = s.airspeed_kt;
    point.break_before = record.time.new_stretch || break_next_;
    break_next_ = false;

    if (stats_.positions() == 1) {
        min_x_ = max_x_ = point.x_deg;
        min_lat_ = max_lat_ = point.latitude_deg;
        min_alt_ = max_alt_ = point.altitude_ft;
        max_ias_ = point.airspeed_kt;
    } else {
        min_x_ = std::min(min_x_, point.x_deg);
        max_x_ = std::max(max_x_, point.x_deg);
        min_lat_ = std::min(min_lat_, point.latitude_deg);
        max_lat_ = std::max(max_lat_, point.latitude_deg);
        min_alt_ = std::min(min_alt_, point.altitude_ft);
        max_alt_ = std::max(max_alt_, point.altitude_ft);
        max_ias_ = std::max(max_ias_, point.airspeed_kt);
    }
    last_ = point;
    Keep(point);
}

// The flight's facts line under its title: date, records, times, distance.
void SvgFormat::WriteFacts(Out o, const FlightInfo& flight) const {
    fmt::format_to(o, "</text>\n<text x=\"{}\" y=\"52\" class=\"facts\">Date {} ({})", kLeft,
                   FormatCivilDate(flight.first_date), DateSourceText(flight.date_source));
    fmt::format_to(o, "</text>\n<text x=\"{}\" y=\"70\" class=\"facts\">{} records", kLeft,
                   stats_.records());
    if (stats_.records() > 0) {
        fmt::format_to(o, ", {} to {}, duration {}", FormatTimeOfDay(stats_.earliest()),
                       FormatTimeOfDay(stats_.latest()),
                       FormatDuration(stats_.latest() - stats_.earliest()));
    }
    if (stats_.positions() > 0) {
        fmt::format_to(o, ", {:.1f} km flown, highest {:.0f} ft, fastest {:.0f} kt",
                       stats_.distance_m() / 1000, max_alt_, max_ias_);
    }
    fmt::format_to(o, "</text>\n");
}

// The ground track to scale, north up, with start and end, north arrow and
// scale bar. `tail` is the last position when thinning dropped it.
void SvgFormat::WritePlan(Out o, const PlotPoint* tail) const {
    // Plan: longitude scaled by the cosine of the middle latitude, north up.
    const double mid_lat = (min_lat_ + max_lat_) / 2;
    const double mid_x = (min_x_ + max_x_) / 2;
    const double kx = std::max(0.01, std::cos(mid_lat * std::numbers::pi / 180));
    const double extent_x = std::max((max_x_ - min_x_) * kx, kMinPlanDeg);
    const double extent_y = std::max(max_lat_ - min_lat_, kMinPlanDeg);
    // Leave a margin so the markers stay inside the frame.
    const double scale = std::min((kPlotWidth - 40) / extent_x, (kPlanHeight - 40) / extent_y);
    auto plan_x = [&](double x) { return kLeft + kPlotWidth / 2 + (x - mid_x) * kx * scale; };
    auto plan_y = [&](double lat) { return kPlanTop + kPlanHeight / 2 - (lat - mid_lat) * scale; };

    fmt::format_to(o, "<rect x=\"{}\" y=\"{}\" width=\"{}\" height=\"{}\" class=\"frame\"/>\n",
                   kLeft, kPlanTop, kPlotWidth, kPlanHeight);
    Polylines(
        o, points_, tail, "fill=\"none\" stroke=\"#0057b8\" stroke-width=\"2\"",
        [&](const PlotPoint& p) { return plan_x(p.x_deg); },
        [&](const PlotPoint& p) { return plan_y(p.latitude_deg); });
    const PlotPoint& start = points_.front();
    fmt::format_to(o,
                   "<circle cx=\"{:.1f}\" cy=\"{:.1f}\" r=\"6\" fill=\"#2a9d2a\"/>"
                   "<text x=\"{:.1f}\" y=\"{:.1f}\" class=\"axis\">Start</text>\n",
                   plan_x(start.x_deg), plan_y(start.latitude_deg), plan_x(start.x_deg) + 9,
                   plan_y(start.latitude_deg) - 8);
    fmt::format_to(o,
                   "<rect x=\"{:.1f}\" y=\"{:.1f}\" width=\"11\" height=\"11\" fill=\"#c62828\"/>"
                   "<text x=\"{:.1f}\" y=\"{:.1f}\" class=\"axis\">End</text>\n",
                   plan_x(last_.x_deg) - 5.5, plan_y(last_.latitude_deg) - 5.5,
                   plan_x(last_.x_deg) + 9, plan_y(last_.latitude_deg) + 16);

    // North arrow and scale bar.
    const double nx = kLeft + kPlotWidth - 30;
    fmt::format_to(o,
                   "<path d=\"M {0} {1} l -7 20 l 7 -5 l 7 5 z\" fill=\"#222\"/>"
                   "<text x=\"{0}\" y=\"{2}\" class=\"axis\" text-anchor=\"middle\">N</text>\n",
                   nx, kPlanTop + 28, kPlanTop + 62);
    const double bar_m = NiceBelow(kPlotWidth / 5 / scale * kMetresPerDegree);
    const double bar_px = bar_m / kMetresPerDegree * scale;
    const double by = kPlanTop + kPlanHeight - 20;
    fmt::format_to(
        o,
        "<path d=\"M {0} {1} v 6 h {2:.1f} v -6\" fill=\"none\" stroke=\"#222\"/>"
        "<text x=\"{0}\" y=\"{3}\" class=\"tick\">{4}</text>\n",
        kLeft + 20, by - 6, bar_px, by - 10,
        bar_m >= 1000 ? fmt::format("{:g} km", bar_m / 1000) : fmt::format("{:g} m", bar_m));
    fmt::format_to(o,
                   "<text x=\"{}\" y=\"{}\" class=\"tick\">Ground track, north up. Latitude {} to "
                   "{}, longitude {} to {}.</text>\n",
                   kLeft, kPlanTop + kPlanHeight + 20, Hemisphere(min_lat_, 'N', 'S'),
                   Hemisphere(max_lat_, 'N', 'S'),
                   Hemisphere(std::remainder(min_x_, 360.0), 'E', 'W'),
                   Hemisphere(std::remainder(max_x_, 360.0), 'E', 'W'));
}

void SvgFormat::EndFlight(const FlightInfo& flight, const ScanCounts&, const FlightTimeline&) {
    const double y0 = static_cast<double>(flight_index_++ * kPanelHeight);
    std::string svg;
    Out o = std::back_inserter(svg);
    fmt::format_to(o, "<g transform=\"translate(0 {})\">\n<text x=\"{}\" y=\"30\" class=\"title\">",
                   y0, kLeft);
    out_.Append(svg);
    svg.clear();
    AppendXmlText(out_, flight.name);
    WriteFacts(o, flight);

    if (stats_.positions() == 0) {
        fmt::format_to(o,
                       "<text x=\"{}\" y=\"{}\" class=\"axis\">No positions in this file.</text>\n",
                       kLeft, kPlanTop + 30);
    } else {
        // The last position is always drawn, even when thinning dropped it;
        // it carries any break among the points dropped before it.
        PlotPoint tail_point = last_;
        tail_point.break_before = carry_break_;
        const PlotPoint* tail = last_kept_ ? nullptr : &tail_point;

        WritePlan(o, tail);

        const Axis time = TimeAxis(stats_.earliest(), stats_.latest());
        Chart(o, kAltitudeTop, time, ValueAxis(std::min(0.0, min_alt_), max_alt_), "Altitude (ft)",
              "#6a3d9a", points_, tail, &PlotPoint::altitude_ft);
        Chart(o, kAirspeedTop, time, ValueAxis(0, max_ias_), "Indicated airspeed (kt)", "#d95f02",
              points_, tail, &PlotPoint::airspeed_kt);
    }
    fmt::format_to(o, "</g>\n");
    out_.Append(svg);
}

void SvgFormat::EndDocument() {
    out_.Append("</svg>\n");
}

}  // namespace kestrun
