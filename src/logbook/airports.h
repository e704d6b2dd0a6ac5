#pragma once
// Airports in the logbook: imported once from a list, kept with a spatial
// index, and looked up to name where a flight took off and landed.

#include <string>

#include "logbook/sqlite_db.h"

namespace kestrun {

// A flight's airport is the nearest one within this distance of its takeoff
// or touchdown point; none that near gives no airport, never a wrong one.
inline constexpr double kAirportReachMetres = 5000;

// FlightGear's airport list when FlightGear is installed ($FG_ROOT, else
// Debian's folder); empty when there is none.
std::string InstalledAirportList();

// Makes the airports in the file at `path` the logbook's, unless they came
// from that very file before (same path, size and modification time).
// `path` is either a CSV file with the header
// `ident,latitude,longitude,elevation_ft` or FlightGear's `apt.dat.gz`. A
// file with a bad line changes nothing and says which line. `imported` is
// true when the file was read. Runs inside the caller's transaction.
Status UpdateAirports(Database& db, const std::string& path, bool& imported);

// The ident of the nearest airport within kAirportReachMetres; empty if none.
Status NearestAirport(Database& db, double latitude_deg, double longitude_deg, std::string& ident);

// Names the departure and arrival of every flight again, after the airports
// changed.
Status RenameFlightAirports(Database& db);

}  // namespace kestrun
