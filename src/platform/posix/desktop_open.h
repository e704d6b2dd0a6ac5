#pragma once
// Handing a file to the desktop's own program for it (a page to the
// browser), through xdg-open.

#include <filesystem>

#include "platform/status.h"

namespace kestrun {

// Whether this process runs on a desktop: DISPLAY or WAYLAND_DISPLAY is set.
bool HasDesktop();

// Runs `xdg-open path` and waits for it. Fails, saying why, when xdg-open is
// missing or reports that it could not open the file.
Status OpenWithDesktop(const std::filesystem::path& path);

}  // namespace kestrun
