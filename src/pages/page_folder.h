#pragma once
// The logbook written as a folder of pages: index.html and one page per
// flight. A run rewrites only the pages of flights that are new or changed
// (re-scanned) since the last run, and the index; pages of flights no longer
// in the logbook are removed. Every file is written beside its final name
// and renamed into place, so a reader or a failure never finds half a page.

#include <cstdint>
#include <filesystem>
#include <string>

#include "logbook/sqlite_db.h"
#include "platform/file_system.h"

namespace kestrun {

// $XDG_DATA_HOME/kestrun/pages, else ~/.local/share/kestrun/pages.
std::string DefaultPagesFolder();

struct PagesWritten {
    int written = 0;    // flight pages written
    int unchanged = 0;  // flight pages already up to date
    int removed = 0;    // pages of flights gone from the logbook
};

// Brings the pages in `folder` up to date with the logbook, creating the
// folder (0700) when missing. Stops at the first failure, naming the file or
// folder; what was written before it is whole, and the next run redoes the
// rest.
Status WritePagesFolder(Database& db, FileSystem& files, const std::filesystem::path& folder,
                        PagesWritten& written);

// Writes the page of flight `id` alone as `file`, a page that stands on its
// own (no link to an index). Fails with "there is no flight ID in the logbook"
// for an unknown id, writing nothing.
Status WriteFlightPage(Database& db, FileSystem& files, std::int64_t id,
                       const std::filesystem::path& file);

}  // namespace kestrun
