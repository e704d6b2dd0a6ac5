#pragma once
// Replaces a small file whole: the new contents go to a new file in the same
// folder, which is synced and then renamed over the old one. A reader, or a
// crash at any moment, finds the old contents or the new, never a part, and
// nothing the old name pointed to is ever opened for writing.

#include <filesystem>
#include <string_view>

#include "platform/status.h"

namespace kestrun {

// Writes `contents` as the file `path`. A symbolic link is followed to the
// end of its chain, and that file is replaced in its own folder, the link
// kept; a dangling link creates its target when the target's folder is this
// user's. Refuses, naming the path and the reason, to replace anything but a
// regular file of this user's (a FIFO, a device, a folder, another user's
// file), directly or through a link. A replaced file keeps its permission
// bits; a new one gets 0666 less the umask.
Status ReplaceFile(const std::filesystem::path& path, std::string_view contents);

// Removes the temporaries that replaces of `path` (or of its link's target)
// left when their process died: this user's regular files named
// "<name>.<pid>-<n>.new" beside it whose process no longer runs.
Status RemoveReplaceLeftoversOf(const std::filesystem::path& path);

}  // namespace kestrun
