#include "export/kml_format.h"

#include "export/xml_text.h"

namespace kestrun {
namespace {

constexpr int kDegreeDecimals = 7;
constexpr int kAltitudeDecimals = 2;
// The path is cut into lines of this many points: XML readers refuse text
// nodes beyond about ten megabytes unless told otherwise, and a long flight's
// coordinates would make one.
constexpr std::uint64_t kPathChunk = 50000;
constexpr std::string_view kPathStart =
    "<LineString><altitudeMode>absolute</altitudeMode><coordinates>\n";

// "lon<sep>lat<sep>alt" as KML wants it.
char* WriteCoordinates(char* p, const FlightSample& s, char separator) {
    p = WriteFixed(p, LongitudeForPrint(s.longitude_deg, kDegreeDecimals), kDegreeDecimals);
    *p++ = separator;
    p = WriteFixed(p, s.latitude_deg, kDegreeDecimals);
    *p++ = separator;
    return WriteFixed(p, s.altitude_m, kAltitudeDecimals);
}

}  // namespace

void KmlFormat::BeginDocument() {
    out_.Append(
        "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n"
        "<kml xmlns=\"http://www.opengis.net/kml/2.2\" "
        "xmlns:gx=\"http://www.google.com/kml/ext/2.2\">\n"
        "<Document><name>Kestrun flight export</name>\n"
        "<Style id=\"flight\"><LineStyle><color>ff00a5ff</color><width>3</width></LineStyle>"
        "</Style>\n");
}

void KmlFormat::BeginFlight(const FlightInfo& flight) {
    first_date_ = flight.first_date;
    in_track_ = false;
    points_ = 0;
    out_.Append("<Folder><name>");
    AppendXmlText(out_, flight.name);
    out_.Append("</name><description>");
    out_.Append(FirstDateNote(flight));
    out_.Append(" Times are UTC, converted from the local times of day in the records.");
    out_.Append("</description>\n<Placemark><name>Timed track</name><styleUrl>#flight</styleUrl>");
    out_.Append(
        "<gx:MultiTrack><altitudeMode>absolute</altitudeMode><gx:interpolate>0</gx:interpolate>\n");
}

void KmlFormat::EndTrack() {
    if (!in_track_) return;
    track_coords_.MoveTo(out_);
    out_.Append("</gx:Track>\n");
    in_track_ = false;
}

void KmlFormat::AddRecord(const TimedRecord& record) {
    const FlightSample s = SampleFromRecord(record.record);
    if (!s.has_position) {
        EndTrack();
        return;
    }
    if (record.time.new_stretch) EndTrack();
    if (!in_track_) {
        out_.Append("<gx:Track><altitudeMode>absolute</altitudeMode>\n");
        in_track_ = true;
    }
    OutputBuffer& path = path_coords_.out();
    if (points_ == 0) {
        first_ = s;
        path.Append(kPathStart);
    } else if (points_ % kPathChunk == 0) {
        // A new line carries on from the last point of the one before.
        path.Append("</coordinates></LineString>\n");
        path.Append(kPathStart);
        char* p = path.Reserve(160);
        p = WriteCoordinates(p, last_, ',');
        *p++ = '\n';
        path.Commit(p);
    }
    ++points_;
    last_ = s;

    const std::int64_t utc = to_utc_.ConvertFrom(first_date_, record.time.seconds);
    char* p = out_.Reserve(64);
    p = WriteText(p, "<when>");
    p = WriteUtcTimestamp(p, utc);
    p = WriteText(p, "</when>\n");
    out_.Commit(p);

    OutputBuffer& coords = track_coords_.out();
    p = coords.Reserve(192);
    p = WriteText(p, "<gx:coord>");
    p = WriteCoordinates(p, s, ' ');
    p = WriteText(p, "</gx:coord>\n");
    coords.Commit(p);

    p = path.Reserve(160);
    p = WriteCoordinates(p, s, ',');
    *p++ = '\n';
    path.Commit(p);
}

void KmlFormat::AppendPoint(const char* name, const FlightSample& sample) {
    out_.Append("<Placemark><name>");
    out_.Append(name);
    out_.Append("</name><Point><altitudeMode>absolute</altitudeMode><coordinates>");
    char* p = out_.Reserve(160);
    out_.Commit(WriteCoordinates(p, sample, ','));
    out_.Append("</coordinates></Point></Placemark>\n");
}

void KmlFormat::EndFlight(const FlightInfo&, const ScanCounts&, const FlightTimeline&) {
    EndTrack();
    out_.Append("</gx:MultiTrack></Placemark>\n");
    if (points_ >= 2) {
        out_.Append("<Placemark><name>Path</name><styleUrl>#flight</styleUrl><MultiGeometry>\n");
        path_coords_.MoveTo(out_);
        out_.Append("</coordinates></LineString>\n</MultiGeometry></Placemark>\n");
    } else {
        // A path needs two points; drop what was spooled for it.
        path_coords_.Clear();
    }
    if (points_ >= 1) {
        AppendPoint("Start", first_);
        AppendPoint("End", last_);
    }
    out_.Append("</Folder>\n");
}

void KmlFormat::EndDocument() {
    out_.Append("</Document>\n</kml>\n");
}

}  // namespace kestrun
