#pragma once
// Replaces a small file whole: the new contents go to a new file in the same
// folder, which is synced and then renamed over the old one. A reader, or a
// crash at any moment, finds the old contents or the new, never a part, and
// nothing the old name pointed to is ever opened for writing.

#include <filesystem>
#include <string_view>

#include "platform/status.h"

namespace kestrun {

// Writes `contents` as the file `path`. Refuses, naming the path and the
// reason, to replace anything but a regular file of this user's (a symbolic
// link, a FIFO, a folder, another user's file). A replaced file keeps its
// permission bits; a new one gets 0666 less the umask.
Status ReplaceFile(const std::filesystem::path& path, std::string_view contents);

}  // namespace kestrun
