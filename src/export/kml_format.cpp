#include "export/kml_format.h"

#include <cstring>

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
// Room for one coordinate line of either kind.
constexpr std::size_t kMaxCoordinates = 192;

}  // namespace

// "lon<sep>lat<sep>alt" as KML wants it.
template <char Separator>
static char* WriteCoordinates(char* p, double longitude_deg, double latitude_deg,
                              double altitude_m) {
    p = WriteFixed<kDegreeDecimals>(p, LongitudeForPrint(longitude_deg, kDegreeDecimals));
    *p++ = Separator;
    p = WriteFixed<kDegreeDecimals>(p, latitude_deg);
    *p++ = Separator;
    return WriteFixed<kAltitudeDecimals>(p, altitude_m);
}

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
    positions_.Clear();
    const std::string who = AircraftAndPilot(flight.pilot_fields);
    out_.Append("<Folder><name>");
    AppendXmlText(out_, flight.name);
    if (!who.empty()) {
        out_.Append(": ");
        AppendXmlText(out_, who);
    }
    out_.Append("</name><description>");
    if (!flight.pilot_fields.remarks.empty()) {
        AppendXmlText(out_, flight.pilot_fields.remarks);
        out_.Append("\n");
    }
    out_.Append(FirstDateNote(flight));
    out_.Append(" Times are UTC, converted from the local times of day in the records.");
    out_.Append("</description>\n<Placemark><name>Timed track</name><styleUrl>#flight</styleUrl>");
    out_.Append(
        "<gx:MultiTrack><altitudeMode>absolute</altitudeMode><gx:interpolate>0</gx:interpolate>\n");
}

template <typename Take>
void KmlFormat::ReadPositions(std::uint64_t first, Take take) {
    const bool read = positions_.ReadFrom(
        first * sizeof(Position), sizeof(Position), [&take](std::string_view bytes) {
            for (std::size_t at = 0; at < bytes.size(); at += sizeof(Position)) {
                Position p;
                std::memcpy(&p, bytes.data() + at, sizeof p);
                take(p);
            }
        });
    if (!read) out_.Fail(positions_.error());
}

void KmlFormat::EndTrack() {
    if (!in_track_) return;
    ReadPositions(track_start_, [this](const Position& p) {
        char* end = out_.Reserve(kMaxCoordinates);
        end = WriteText(end, "<gx:coord>");
        end = WriteCoordinates<' '>(end, p.longitude_deg, p.latitude_deg, p.altitude_m);
        out_.Commit(WriteText(end, "</gx:coord>\n"));
    });
    out_.Append("</gx:Track>\n");
    in_track_ = false;
}

void KmlFormat::AddRecord(const TimedRecord& record) {
    const FlightSample s = PlaceFromRecord(record.Decode());
    if (!s.has_position) {
        EndTrack();
        return;
    }
    if (record.time.new_stretch) EndTrack();
    if (!in_track_) {
        out_.Append("<gx:Track><altitudeMode>absolute</altitudeMode>\n");
        in_track_ = true;
        track_start_ = points_;
    }
    const Position position{s.longitude_deg, s.latitude_deg, s.altitude_m};
    if (points_ == 0) first_ = position;
    last_ = position;
    ++points_;
    positions_.Append(std::string_view(reinterpret_cast<const char*>(&position), sizeof position));

    const std::int64_t utc = to_utc_.ConvertFrom(first_date_, record.time.seconds);
    char* p = out_.Reserve(64);
    p = WriteText(p, "<when>");
    p = stamp_.Write(p, utc);
    p = WriteText(p, "</when>\n");
    out_.Commit(p);
}

void KmlFormat::WritePath() {
    // Lines of kPathChunk points, each new one carrying on from the last
    // point of the one before.
    out_.Append(kPathStart);
    std::uint64_t index = 0;
    Position previous{};
    ReadPositions(0, [&](const Position& p) {
        if (index > 0 && index % kPathChunk == 0) {
            out_.Append("</coordinates></LineString>\n");
            out_.Append(kPathStart);
            char* end = out_.Reserve(kMaxCoordinates);
            end = WriteCoordinates<','>(end, previous.longitude_deg, previous.latitude_deg,
                                        previous.altitude_m);
            *end++ = '\n';
            out_.Commit(end);
        }
        char* end = out_.Reserve(kMaxCoordinates);
        end = WriteCoordinates<','>(end, p.longitude_deg, p.latitude_deg, p.altitude_m);
        *end++ = '\n';
        out_.Commit(end);
        previous = p;
        ++index;
    });
    out_.Append("</coordinates></LineString>\n");
}

void KmlFormat::AppendPoint(const char* name, const Position& position) {
    out_.Append("<Placemark><name>");
    out_.Append(name);
    out_.Append("</name><Point><altitudeMode>absolute</altitudeMode><coordinates>");
    char* p = out_.Reserve(kMaxCoordinates);
    out_.Commit(WriteCoordinates<','>(p, position.longitude_deg, position.latitude_deg,
                                      position.altitude_m));
    out_.Append("</coordinates></Point></Placemark>\n");
}

void KmlFormat::EndFlight(const FlightInfo&, const ScanCounts&, const FlightTimeline&) {
    EndTrack();
    out_.Append("</gx:MultiTrack></Placemark>\n");
    // A path needs two points.
    if (points_ >= 2) {
        out_.Append("<Placemark><name>Path</name><styleUrl>#flight</styleUrl><MultiGeometry>\n");
        WritePath();
        out_.Append("</MultiGeometry></Placemark>\n");
    }
    if (points_ >= 1) {
        AppendPoint("Start", first_);
        AppendPoint("End", last_);
    }
    out_.Append("</Folder>\n");
    positions_.Clear();
}

void KmlFormat::EndDocument() {
    out_.Append("</Document>\n</kml>\n");
}

}  // namespace kestrun
