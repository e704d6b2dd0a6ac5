#pragma once
// Airports in the logbook: imported once from a list, kept with a spatial
// index, and looked up to name where a flight took off and landed.

#include <string>

#include "logbook/sqlite_db.h"
#include "platform/file_system.h"

namespace kestrun {

// A flight's airport is the nearest one within this distance of its takeoff
// or touchdown point; none that near gives no airport, never a wrong one.
inline constexpr double kAirportReachMetres = 5000;

// FlightGear's airport list when FlightGear is installed ($FG_ROOT, else
// Debian's folder); empty when there is none.
std::string InstalledAirportList(FileSystem& files);
std::string InstalledAirportList();

struct AirportImport {
    bool imported = false;  // the list was read and its airports are the logbook's
    std::string refused;    // why the list was not taken; empty when it was or was not needed
};

// Makes the airports in the file at `path` the logbook's, unless they came
// from that very file before (same path, size and modification time).
// `path` is either a CSV file (RFC 4180) with the header
// `ident,latitude,longitude,elevation_ft` or FlightGear's `apt.dat.gz`. A
// list that cannot be read, or has a bad or overlong line, changes nothing:
// `outcome.refused` says why, naming the file and the line. Runs inside the
// caller's transaction; fails only when the database does.
Status UpdateAirports(FileSystem& files, Database& db, const std::string& path,
                      AirportImport& outcome);
Status UpdateAirports(Database& db, const std::string& path, AirportImport& outcome);

// The ident of the nearest airport within kAirportReachMetres; empty if none.
Status NearestAirport(Database& db, double latitude_deg, double longitude_deg, std::string& ident);

// Names the departure and arrival of every flight again, after the airports
// changed.
Status RenameFlightAirports(Database& db);

}  // namespace kestrun
