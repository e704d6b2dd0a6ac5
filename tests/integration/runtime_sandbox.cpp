#include "tests/integration/runtime_sandbox.h"

#include <stdlib.h>

#include <filesystem>
#include <stdexcept>

namespace kestrun::testing {

RuntimeSandbox::RuntimeSandbox() {
    if (const char* old = std::getenv("XDG_RUNTIME_DIR")) previous_ = old;
    std::string pattern = std::filesystem::temp_directory_path() / "kestrun-test-XXXXXX";
    // mkdtemp makes the directory with mode 0700.
    if (::mkdtemp(pattern.data()) == nullptr) {
        throw std::runtime_error("cannot create a temporary runtime directory");
    }
    root_ = pattern;
    ::setenv("XDG_RUNTIME_DIR", root_.c_str(), 1);
}

RuntimeSandbox::~RuntimeSandbox() {
    if (previous_) {
        ::setenv("XDG_RUNTIME_DIR", previous_->c_str(), 1);
    } else {
        ::unsetenv("XDG_RUNTIME_DIR");
    }
    std::error_code ignored;
    std::filesystem::remove_all(root_, ignored);
}

}  // namespace kestrun::testing
