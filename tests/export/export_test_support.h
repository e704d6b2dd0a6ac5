#pragma once
// Running kestrun-export from the export tests, and reading what it printed.

#include <sys/wait.h>

#include <cstdlib>
#include <string>

#include "tests/support/test_files.h"

namespace kestrun::testing {

struct Outcome {
    int exit_code = -1;
    std::string out;
    std::string err;
};

// Runs the shell command `command` with stdout and stderr captured in `dir`.
inline Outcome Shell(const ScratchDir& dir, const std::string& command) {
    const auto out = dir / "stdout";
    const auto err = dir / "stderr";
    const int status =
        std::system((command + " >'" + out.string() + "' 2>'" + err.string() + "'").c_str());
    return Outcome{WIFEXITED(status) ? WEXITSTATUS(status) : -1, ReadFile(out), ReadFile(err)};
}

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
