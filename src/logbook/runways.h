#pragma once
// Runways in the logbook: imported once from FlightGear's apt.dat.gz or from
// a CSV file of runway ends, kept with a spatial index, and found near a
// point for judging takeoffs, landings and approaches.

#include <optional>
#include <string>
#include <vector>

#include "flights/runway.h"
#include "logbook/sqlite_db.h"

namespace kestrun {

struct RunwayImport {
    bool imported = false;  // the file was read
    int runways = 0;
    int skipped = 0;  // without a position for both ends
};

// Makes the runways in the file at `path` the logbook's, unless they came
// from that very file before (same path, size and modification time).
// `path` is FlightGear's apt.dat.gz (its land runways, row code 100) or a CSV
// file whose header names at least airport_ident, le_ident, le_latitude_deg,
// le_longitude_deg, he_ident, he_latitude_deg and he_longitude_deg, in any
// order among other columns, as the widely used open airport data's
// runways.csv does; width_ft, le_/he_elevation_ft and
// le_/he_displaced_threshold_ft are read when present. A file with a bad line
// changes nothing and says which line. Runs inside the caller's transaction.
Status UpdateRunways(Database& db, const std::string& path, RunwayImport& result);

// The runways of the airports named by `idents` (empty idents are passed
// over), as the imported list holds them: for drawing a flight's airports.
Status LoadAirportRunways(Database& db, const std::vector<std::string>& idents,
                          std::vector<Runway>& runways);

// The logbook's runways, looked up in its spatial index.
class LogbookRunways final : public RunwayFinder {
  public:
    explicit LogbookRunways(Database& db) : db_(db) {}
    std::vector<Runway> RunwaysNear(const GeoPoint& point, double reach_m) override;
    // The first failure of a look-up; the analysis goes on without runways.
    const Status& status() const { return status_; }
    // The runways may have changed: whether there are any is asked again
    // at the next look-up. Until then a logbook without runways costs none.
    void Recount() { any_.reset(); }

  private:
    Database& db_;
    Status status_;
    std::optional<bool> any_;
};

}  // namespace kestrun
