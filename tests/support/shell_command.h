#pragma once
// Running a program from a test through the shell, and reading what it printed.

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

}  // namespace kestrun::testing
