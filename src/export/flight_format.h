#pragma once
// FlightFormat: what every output format implements. The export driver opens
// a document, then for each input file hands over one flight record by record
// in file order, and closes the document. Writers keep bounded state, so a
// flight of any length streams through.

#include <string>

#include "recordfile/civil_date.h"
#include "recordfile/flight_sample.h"
#include "recordfile/flight_timeline.h"
#include "recordfile/record_scanner.h"

namespace kestrun {

enum class DateSource {
    kOption,            // --date
    kModificationTime,  // the day the file was last written
};

// Says where a flight's date came from, for notes in the output:
// "given with --date" or "taken from the file's modification time".
const char* DateSourceText(DateSource source);

// What the pilot told the logbook about the flight, which the records
// cannot tell. All empty (always so for kestrun-export), every format writes
// what it writes without them.
struct FlightPilotFields {
    std::string aircraft;      // type
    std::string registration;  // the aircraft's
    std::string pilot;
    std::string remarks;
};

struct FlightInfo {
    std::string path;  // as the user gave it
    std::string name;  // the file name alone
    // The local date of the first record. Known before the records whenever
    // the format asks for it; otherwise only at EndFlight.
    CivilDate first_date;
    bool date_known = false;
    DateSource date_source = DateSource::kOption;
    FlightPilotFields pilot_fields;
};

// "Date of the first record: 2024-02-28, given with --date." for the notes of
// the XML formats.
std::string FirstDateNote(const FlightInfo& flight);

// "C172 D-EKST, pilot A. Pilot" (what of it is known), for the XML formats'
// names and descriptions; empty when none of it is.
std::string AircraftAndPilot(const FlightPilotFields& fields);

// A record, as its 80 bytes in the file, and its place in time. Writers
// decode it and convert what they need with SampleFromRecord or
// PlaceFromRecord; the host units are not cheap, and some writers need few
// of them, so a decoded field they never read costs nothing.
struct TimedRecord {
    const std::byte* bytes;
    TimePlacement time;
    [[gnu::always_inline]] FlightRecord Decode() const { return DecodeFlightRecord(bytes); }
};

class FlightFormat {
  public:
    virtual ~FlightFormat() = default;

    // True when the writer needs each record's date as the record arrives.
    // Without --date the driver then counts the midnights from the end of the
    // file back to its start before the writer sees the first record.
    virtual bool NeedsDateUpFront() const = 0;

    virtual void BeginDocument() = 0;
    virtual void BeginFlight(const FlightInfo& flight) = 0;
    virtual void AddRecord(const TimedRecord& record) = 0;
    // `flight` now has its date. Called also when reading stopped early, so
    // the document stays well-formed.
    virtual void EndFlight(const FlightInfo& flight, const ScanCounts& scan,
                           const FlightTimeline& timeline) = 0;
    virtual void EndDocument() = 0;
};

}  // namespace kestrun
