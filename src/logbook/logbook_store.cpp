#include "logbook/logbook_store.h"

#include <fmt/format.h>

#include <array>
#include <cstdlib>
#include <filesystem>
#include <string_view>

#include "platform/posix/private_files.h"
#include "platform/posix/posix_file_system.h"

namespace kestrun {
namespace {

// Migration i takes a logbook from version i to version i + 1. Never edit
// one that has shipped: add another.
constexpr std::array<std::string_view, kLogbookSchemaVersion> kMigrations = {
    // 1: record files, the flights found in them and their phases. Times are
    // local seconds counted from 1970-01-01 00:00 of the local calendar.
    R"sql(
CREATE TABLE files(
    id INTEGER PRIMARY KEY,
    path TEXT NOT NULL UNIQUE,
    size INTEGER NOT NULL,
    mtime_ns INTEGER NOT NULL,
    head_hash INTEGER NOT NULL,
    tail_hash INTEGER NOT NULL,
    first_date INTEGER NOT NULL,
    date_given INTEGER NOT NULL,
    resume_offset INTEGER NOT NULL,
    resume_seconds INTEGER);
CREATE TABLE flights(
    id INTEGER PRIMARY KEY,
    file_id INTEGER NOT NULL REFERENCES files(id) ON DELETE CASCADE,
    begin_offset INTEGER NOT NULL,
    end_offset INTEGER NOT NULL,
    complete INTEGER NOT NULL,
    first_time INTEGER NOT NULL,
    last_time INTEGER NOT NULL,
    off_block INTEGER,
    takeoff INTEGER,
    landing INTEGER,
    on_block INTEGER,
    distance_m REAL NOT NULL,
    max_altitude_m REAL NOT NULL,
    max_ias_kt REAL NOT NULL,
    takeoff_lat REAL,
    takeoff_lon REAL,
    touchdown_lat REAL,
    touchdown_lon REAL,
    touchdown_fpm REAL,
    touchdown_ias_kt REAL,
    touchdown_pitch_deg REAL,
    touchdown_bank_deg REAL,
    touch_and_goes INTEGER NOT NULL,
    departure TEXT NOT NULL DEFAULT '',
    arrival TEXT NOT NULL DEFAULT '');
CREATE INDEX flights_by_file ON flights(file_id, begin_offset);
CREATE INDEX flights_by_time ON flights(first_time);
CREATE TABLE phases(
    flight_id INTEGER NOT NULL REFERENCES flights(id) ON DELETE CASCADE,
    seq INTEGER NOT NULL,
    phase TEXT NOT NULL,
    start_time INTEGER NOT NULL,
    PRIMARY KEY(flight_id, seq)) WITHOUT ROWID;
)sql",
    // 2: airports for naming where flights begin and end, with a spatial
    // index, and the file they came from so that it is read once.
    R"sql(
CREATE TABLE airports(
    id INTEGER PRIMARY KEY,
    ident TEXT NOT NULL,
    latitude REAL NOT NULL,
    longitude REAL NOT NULL,
    elevation_ft REAL);
CREATE VIRTUAL TABLE airport_boxes USING rtree(id, min_lat, max_lat, min_lon, max_lon);
CREATE TABLE airport_source(
    id INTEGER PRIMARY KEY CHECK (id = 1),
    path TEXT NOT NULL,
    size INTEGER NOT NULL,
    mtime_ns INTEGER NOT NULL);
)sql",
    // 3: runways, and each flight judged against them: every touchdown, the
    // takeoff, go-arounds and low passes, the final approach's gates and the
    // events over the whole flight. Lengths in metres, heights in feet, as
    // pilots read them; times are local seconds with their fraction.
    R"sql(
CREATE TABLE runways(
    id INTEGER PRIMARY KEY,
    airport TEXT NOT NULL,
    width_m REAL NOT NULL,
    airport_elevation_m REAL,
    le_ident TEXT NOT NULL,
    le_lat REAL NOT NULL,
    le_lon REAL NOT NULL,
    le_displaced_m REAL NOT NULL,
    le_elevation_m REAL,
    he_ident TEXT NOT NULL,
    he_lat REAL NOT NULL,
    he_lon REAL NOT NULL,
    he_displaced_m REAL NOT NULL,
    he_elevation_m REAL);
CREATE VIRTUAL TABLE runway_boxes USING rtree(id, min_lat, max_lat, min_lon, max_lon);
CREATE TABLE runway_source(
    id INTEGER PRIMARY KEY CHECK (id = 1),
    path TEXT NOT NULL,
    size INTEGER NOT NULL,
    mtime_ns INTEGER NOT NULL);
CREATE TABLE landings(
    flight_id INTEGER NOT NULL REFERENCES flights(id) ON DELETE CASCADE,
    seq INTEGER NOT NULL,
    kind TEXT NOT NULL,
    time REAL NOT NULL,
    airport TEXT,
    runway TEXT,
    ground_level TEXT,
    touchdown_distance_m REAL,
    centreline_offset_m REAL,
    crab_deg REAL,
    touchdown_fpm REAL,
    ias_kt REAL,
    pitch_deg REAL,
    bank_deg REAL,
    bounces INTEGER NOT NULL,
    roll_m REAL,
    remaining_m REAL,
    PRIMARY KEY(flight_id, seq)) WITHOUT ROWID;
CREATE TABLE takeoffs(
    flight_id INTEGER PRIMARY KEY REFERENCES flights(id) ON DELETE CASCADE,
    airport TEXT,
    runway TEXT,
    roll_m REAL,
    liftoff_distance_m REAL);
CREATE TABLE go_arounds(
    flight_id INTEGER NOT NULL REFERENCES flights(id) ON DELETE CASCADE,
    seq INTEGER NOT NULL,
    time REAL NOT NULL,
    airport TEXT NOT NULL,
    runway TEXT NOT NULL,
    ground_level TEXT NOT NULL,
    lowest_ft_agl REAL NOT NULL,
    PRIMARY KEY(flight_id, seq)) WITHOUT ROWID;
CREATE TABLE approaches(
    flight_id INTEGER PRIMARY KEY REFERENCES flights(id) ON DELETE CASCADE,
    airport TEXT NOT NULL,
    runway TEXT NOT NULL,
    stable INTEGER NOT NULL,
    reasons TEXT NOT NULL);
CREATE TABLE approach_gates(
    flight_id INTEGER NOT NULL REFERENCES flights(id) ON DELETE CASCADE,
    height_ft REAL NOT NULL,
    ias_kt REAL NOT NULL,
    sink_fpm REAL NOT NULL,
    bank_deg REAL NOT NULL,
    glidepath_dev_deg REAL NOT NULL,
    centreline_dev_m REAL NOT NULL,
    PRIMARY KEY(flight_id, height_ft)) WITHOUT ROWID;
CREATE TABLE events(
    flight_id INTEGER NOT NULL REFERENCES flights(id) ON DELETE CASCADE,
    seq INTEGER NOT NULL,
    time REAL NOT NULL,
    kind TEXT NOT NULL,
    peak REAL NOT NULL,
    limit_value REAL NOT NULL,
    duration_s REAL NOT NULL,
    PRIMARY KEY(flight_id, seq)) WITHOUT ROWID;
)sql",
    // 4: what the pilot tells about a flight (the records cannot), with the
    // defaults new flights are filed with, and why a flight is implausible
    // (NULL for an ordinary one; flights filed before are examined when
    // their file is indexed again).
    R"sql(
ALTER TABLE flights ADD COLUMN aircraft TEXT NOT NULL DEFAULT '';
ALTER TABLE flights ADD COLUMN registration TEXT NOT NULL DEFAULT '';
ALTER TABLE flights ADD COLUMN pilot TEXT NOT NULL DEFAULT '';
ALTER TABLE flights ADD COLUMN remarks TEXT NOT NULL DEFAULT '';
ALTER TABLE flights ADD COLUMN implausible TEXT;
CREATE TABLE flight_defaults(
    name TEXT PRIMARY KEY CHECK (name IN ('aircraft', 'registration', 'pilot')),
    value TEXT NOT NULL) WITHOUT ROWID;
)sql",
};

Status Refuse(const std::string& path, const std::string& why) {
    return Status::Error(fmt::format("{} {}; it was left unchanged", path, why));
}

// Looks at an existing file without writing to it: read-only, and before
// WAL mode (which SQLite records in the file) is switched on.
Status CheckExisting(const std::string& path) {
    Database db;
    Status status = db.Open(path, SQLITE_OPEN_READONLY);
    if (!status.ok()) return Refuse(path, "cannot be opened: " + status.message());
    std::int64_t tables = 0, application = 0, version = 0;
    status = db.QueryInt("SELECT count(*) FROM sqlite_schema", tables);
    // Only SQLite's own verdict makes a file "not a logbook": a full disk or
    // a failing one says nothing about what the file holds.
    if (!status.ok() && (db.ErrorCode() & 0xff) == SQLITE_NOTADB) {
        return Refuse(path, "is not a logbook (" + status.message() + ")");
    }
    if (!status.ok() && (db.ErrorCode() & 0xff) == SQLITE_CORRUPT) {
        return Refuse(path, "is damaged (" + status.message() + ")");
    }
    if (!status.ok()) return Refuse(path, "cannot be read: " + status.message());
    Statement check;
    status = db.Prepare("PRAGMA quick_check", check);
    if (status.ok() && check.Step() && check.Text(0) != "ok") {
        return Refuse(path, "is damaged (" + check.Text(0) + ")");
    }
    if (!check.status().ok() || !status.ok()) {
        return Refuse(path,
                      "is damaged (" + (status.ok() ? check.status() : status).message() + ")");
    }
    status = db.QueryInt("PRAGMA application_id", application);
    if (status.ok()) status = db.QueryInt("PRAGMA user_version", version);
    if (!status.ok()) return Refuse(path, "cannot be read: " + status.message());
    if (application != kLogbookApplicationId && (tables > 0 || application != 0)) {
        return Refuse(path, "is an SQLite database of another program, not a logbook");
    }
    if (version > kLogbookSchemaVersion) {
        return Refuse(path, fmt::format("was written by a newer kestrun-logbook (schema {}, this "
                                        "one knows up to {})",
                                        version, kLogbookSchemaVersion));
    }
    return Status::Ok();
}

}  // namespace

std::filesystem::path KestrunDataFolder() {
    const char* data = std::getenv("XDG_DATA_HOME");
    std::filesystem::path base;
    if (data != nullptr && data[0] == '/') {
        base = data;
    } else {
        const char* home = std::getenv("HOME");
        base = std::filesystem::path(home != nullptr ? home : ".") / ".local" / "share";
    }
    return base / "kestrun";
}

std::string DefaultLogbookPath() {
    return (KestrunDataFolder() / "logbook.sqlite").string();
}

Status MigrateLogbook(Database& db, int version) {
    // A logbook that is up to date is not written to, so that it opens for
    // reading while a scan holds the write lock.
    std::int64_t current = 0;
    Status status = db.QueryInt("PRAGMA user_version", current);
    if (!status.ok() || current >= version) return status;
    status = db.BeginImmediate();
    if (!status.ok()) return status;
    // Read again under the lock: another kestrun-logbook may have migrated.
    status = db.QueryInt("PRAGMA user_version", current);
    for (auto v = static_cast<std::size_t>(current);
         status.ok() && v < static_cast<std::size_t>(version); ++v) {
        status = db.Exec(kMigrations[v]);
    }
    if (status.ok() && current < version) {
        status = db.Exec(fmt::format("PRAGMA user_version = {}; PRAGMA application_id = {}",
                                     version, kLogbookApplicationId));
    }
    if (!status.ok()) {
        static_cast<void>(db.Exec("ROLLBACK"));
        return Status::Error("cannot bring the logbook up to date: " + status.message());
    }
    return db.Exec("COMMIT");
}

Status OpenLogbook(const std::string& path, Database& db) {
    PosixFileSystem files;
    FileFacts facts;
    bool found = false;
    if (files.Stat(path, facts, found).ok() && found) {
        if (facts.kind != FileFacts::Kind::kRegular) return Refuse(path, "is not a regular file");
        if (facts.size > 0) {
            Status status = CheckExisting(path);
            if (!status.ok()) return status;
        }
    } else {
        // A logbook tells where a person has been: it is theirs alone to
        // read, and so are its folder, its WAL and shared-memory files
        // (SQLite gives those the database file's mode).
        Status status = CreatePrivateDirectories(std::filesystem::path(path).parent_path());
        if (status.ok()) status = CreatePrivateFile(path);
        if (!status.ok()) return Status::Error("cannot create the logbook: " + status.message());
    }
    Status status = db.Open(path, SQLITE_OPEN_READWRITE | SQLITE_OPEN_CREATE);
    if (!status.ok())
        return Status::Error("cannot open the logbook " + path + ": " + status.message());
    status = db.Exec("PRAGMA foreign_keys = ON; PRAGMA journal_mode = WAL");
    if (status.ok()) status = MigrateLogbook(db, kLogbookSchemaVersion);
    if (!status.ok()) return Status::Error(path + ": " + status.message());
    return Status::Ok();
}

}  // namespace kestrun
