#pragma once
// The logbook's database: opening it, refusing what is not a logbook, and
// bringing an older logbook up to the current schema.

#include <filesystem>
#include <string>

#include "logbook/sqlite_db.h"

namespace kestrun {

// Marks a database as a Kestrun logbook ("KLOG"), in SQLite's header.
inline constexpr std::int64_t kLogbookApplicationId = 0x4B4C4F47;
// Each version adds one migration; a logbook is carried from its version to
// the newest in one transaction.
inline constexpr int kLogbookSchemaVersion = 4;

// $XDG_DATA_HOME/kestrun (an absolute one only), else ~/.local/share/kestrun:
// where the logbook and its pages live unless told otherwise.
std::filesystem::path KestrunDataFolder();
// logbook.sqlite in KestrunDataFolder().
std::string DefaultLogbookPath();

// Opens the logbook at `path`, creating it (and its folder) when missing,
// with foreign keys on and the journal in WAL mode, and migrates it to
// kLogbookSchemaVersion. A file that is not an SQLite database, is damaged,
// belongs to another program or to a newer kestrun-logbook is refused
// before anything is written to it.
Status OpenLogbook(const std::string& path, Database& db);

// Applies the migrations up to `version` only; for tests of the upgrade.
Status MigrateLogbook(Database& db, int version);

}  // namespace kestrun
