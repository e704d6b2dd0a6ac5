#include "export/flight_format.h"

namespace kestrun {

const char* DateSourceText(DateSource source) {
    return source == DateSource::kOption ? "given with --date"
                                         : "taken from the file's modification time";
}

std::string FirstDateNote(const FlightInfo& flight) {
    return "Date of the first record: " + FormatCivilDate(flight.first_date) + ", " +
           DateSourceText(flight.date_source) + ".";
}

std::string AircraftAndPilot(const FlightPilotFields& fields) {
    std::string text = fields.aircraft;
    if (!fields.registration.empty()) text += (text.empty() ? "" : " ") + fields.registration;
    if (!fields.pilot.empty()) text += (text.empty() ? "pilot " : ", pilot ") + fields.pilot;
    return text;
}

}  // namespace kestrun
