#pragma once
// Starting a recording afresh without losing the flight the file held: the
// old file is kept beside the new one under a name that says when it was
// last written, so a click on Start never destroys a flight.

#include <ctime>
#include <filesystem>
#include <memory>

#include "platform/clock.h"
#include "platform/file_system.h"
#include "platform/status.h"

namespace kestrun {

// Where the previous flight of `path` is kept: beside it, its stem, "-", the
// local time of its last change ("2026-12-07T13-34-35", which sorts by time
// and is a valid file name everywhere), "-N" from the second choice on, and
// its extension: checkride.dat -> checkride-2026-12-07T13-34-35.dat.
std::filesystem::path KeptFlightName(const std::filesystem::path& path, const std::tm& modified,
                                     int choice);

// Empties `file`, the open and locked output file of `path`. When it holds
// at least one whole record, the flight is kept first: the file gets its own
// name (the first free KeptFlightName, nothing ever overwritten) and a new,
// locked, empty file takes its place in `file`; `kept_as` names where the
// flight went (empty when nothing was kept). The order keeps a second
// recorder out throughout: the old file stays locked until the new one,
// already locked, holds the path. On failure nothing has changed, `file` is
// still the old file, and the Status says what failed.
Status StartAfresh(FileSystem& files, Clock& clock, const std::filesystem::path& path,
                   std::unique_ptr<OutputFile>& file, std::filesystem::path& kept_as);

}  // namespace kestrun
