#pragma once
// Files and folders that only their owner may read, whatever the umask:
// for what tells where a person has been, such as the logbook.

#include <filesystem>

#include "platform/status.h"

namespace kestrun {

// Creates every missing folder of `path` with mode 0700; folders that exist
// keep their mode. Fails when `path` is there but is not a folder.
Status CreatePrivateDirectories(const std::filesystem::path& path);

// Creates `path` empty with mode 0600 when it does not exist; an existing
// file is left as it is.
Status CreatePrivateFile(const std::filesystem::path& path);

}  // namespace kestrun
