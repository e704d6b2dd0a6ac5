#include "playback/flight_file.h"

#include <fmt/format.h>

#include "recordfile/record_file.h"

namespace kestrun {
namespace {

class TrackSink final : public RecordSink {
  public:
    explicit TrackSink(LoadedFlight& flight) : flight_(flight) {}
    void OnRecord(const FlightRecord& record, std::uint64_t) override {
        const TimePlacement time =
            flight_.timeline.Place(record.Hour, record.Minute, record.Second);
        flight_.track.Add(SampleFromRecord(record), time);
    }

  private:
    LoadedFlight& flight_;
};

}  // namespace

Status LoadFlight(const std::string& path, LoadedFlight& flight) {
    flight = LoadedFlight{};
    RecordFileFacts facts;
    if (Status status = ReadRecordFileFacts(path, facts); !status.ok()) return status;
    flight.modified = facts.modified;
    TrackSink sink(flight);
    if (Status status = ScanRecordFile(path, sink, flight.scan); !status.ok()) return status;
    if (flight.scan.records == 0) {
        return Status::Error(
            fmt::format("{} holds no flight records ({} bytes)", path, flight.scan.bytes));
    }
    if (flight.track.empty()) {
        return Status::Error(fmt::format(
            "{} holds {} records but none with a position: the recorder was not connected to "
            "a host while it recorded them",
            path, flight.scan.records));
    }
    return Status::Ok();
}

}  // namespace kestrun
