#pragma once
// What the logbook's fuzz targets share: one logbook in memory, made once,
// each input's work rolled back so that the next starts from it empty, and a
// scratch folder for the files the logbook reads by path.

#include <filesystem>
#include <string>

#include "fuzz/fuzz_target.h"
#include "logbook/logbook_store.h"
#include "logbook/sqlite_db.h"
#include "tests/support/test_files.h"

namespace kestrun::fuzz {

// Files written for every input go to shared memory where there is one: on a
// disk's file system, truncating and closing a file costs a write-back each.
inline std::filesystem::path ScratchParent() {
    std::error_code error;
    if (std::filesystem::is_directory("/dev/shm", error)) return "/dev/shm";
    return std::filesystem::temp_directory_path();
}

struct MemoryLogbook {
    Database db;
    testing::ScratchDir dir{ScratchParent()};

    // SQLite's own in-memory database with the logbook's schema: OpenLogbook
    // takes its path as a file's and would make one.
    MemoryLogbook() {
        Check(db.Open(":memory:", SQLITE_OPEN_READWRITE | SQLITE_OPEN_CREATE).ok() &&
              db.Exec("PRAGMA foreign_keys = ON").ok() &&
              MigrateLogbook(db, kLogbookSchemaVersion).ok());
    }

    // An integer from a query that must answer one.
    std::int64_t Int(const std::string& sql) {
        std::int64_t value = 0;
        Check(db.QueryInt(sql, value).ok());
        return value;
    }
};

}  // namespace kestrun::fuzz
