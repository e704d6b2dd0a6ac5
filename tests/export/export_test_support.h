#pragma once
// Running kestrun-export from the export tests.

#include <string>

#include "tests/support/shell_command.h"

namespace kestrun::testing {

// Runs kestrun-export in the UTC time zone with `args` (already quoted).
inline Outcome Export(const ScratchDir& dir, const std::string& args) {
    return Shell(dir, std::string("TZ=UTC ") + KESTRUN_EXPORT_BINARY + " " + args);
}

inline std::size_t Count(const std::string& text, const std::string& what) {
    std::size_t n = 0;
    for (auto at = text.find(what); at != std::string::npos; at = text.find(what, at + 1)) ++n;
    return n;
}

}  // namespace kestrun::testing
