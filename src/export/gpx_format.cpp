#include "export/gpx_format.h"

#include "export/xml_text.h"

namespace kestrun {
namespace {

constexpr int kDegreeDecimals = 7;
constexpr int kAltitudeDecimals = 2;

}  // namespace

void GpxFormat::BeginDocument() {
    out_.Append(
        "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n"
        "<gpx version=\"1.1\" creator=\"kestrun-export\" "
        "xmlns=\"http://www.topografix.com/GPX/1/1\" "
        "xmlns:xsi=\"http://www.w3.org/2001/XMLSchema-instance\" "
        "xsi:schemaLocation=\"http://www.topografix.com/GPX/1/1 "
        "http://www.topografix.com/GPX/1/1/gpx.xsd\">\n"
        "<metadata><name>Kestrun flight export</name>"
        "<desc>Times are UTC, converted from the local times of day in the records.</desc>"
        "</metadata>\n");
}

void GpxFormat::BeginFlight(const FlightInfo& flight) {
    first_date_ = flight.first_date;
    in_segment_ = false;
    const FlightPilotFields& told = flight.pilot_fields;
    out_.Append("<trk><name>");
    AppendXmlText(out_, flight.name);
    out_.Append("</name>");
    if (!told.remarks.empty()) {
        out_.Append("<cmt>");
        AppendXmlText(out_, told.remarks);
        out_.Append("</cmt>");
    }
    out_.Append("<desc>");
    if (const std::string who = AircraftAndPilot(told); !who.empty()) {
        AppendXmlText(out_, who);
        out_.Append(". ");
    }
    out_.Append(FirstDateNote(flight));
    out_.Append("</desc><src>Kestrun Digital Flight Recorder</src>");
    if (!told.aircraft.empty()) {
        out_.Append("<type>");
        AppendXmlText(out_, told.aircraft);
        out_.Append("</type>");
    }
    out_.Append("\n");
}

void GpxFormat::AddRecord(const TimedRecord& record) {
    const FlightSample s = PlaceFromRecord(record.Decode());
    if (!s.has_position) {
        if (in_segment_) out_.Append("</trkseg>\n");
        in_segment_ = false;
        return;
    }
    if (record.time.new_stretch && in_segment_) {
        out_.Append("</trkseg>\n");
        in_segment_ = false;
    }
    if (!in_segment_) {
        out_.Append("<trkseg>\n");
        in_segment_ = true;
    }

    const std::int64_t utc = to_utc_.ConvertFrom(first_date_, record.time.seconds);
    char* p = out_.Reserve(256);
    p = WriteText(p, "<trkpt lat=\"");
    p = WriteFixed<kDegreeDecimals>(p, s.latitude_deg);
    p = WriteText(p, "\" lon=\"");
    p = WriteFixed<kDegreeDecimals>(p, LongitudeForPrint(s.longitude_deg, kDegreeDecimals));
    p = WriteText(p, "\"><ele>");
    p = WriteFixed<kAltitudeDecimals>(p, s.altitude_m);
    p = WriteText(p, "</ele><time>");
    p = stamp_.Write(p, utc);
    p = WriteText(p, "</time></trkpt>\n");
    out_.Commit(p);
}

void GpxFormat::EndFlight(const FlightInfo&, const ScanCounts&, const FlightTimeline&) {
    if (in_segment_) out_.Append("</trkseg>\n");
    in_segment_ = false;
    out_.Append("</trk>\n");
}

void GpxFormat::EndDocument() {
    out_.Append("</gpx>\n");
}

}  // namespace kestrun
