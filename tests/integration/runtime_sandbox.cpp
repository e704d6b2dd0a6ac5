#include "tests/integration/runtime_sandbox.h"

#include <stdlib.h>

namespace kestrun::testing {

RuntimeSandbox::RuntimeSandbox() {
    if (const char* old = std::getenv("XDG_RUNTIME_DIR")) previous_ = old;
    ::setenv("XDG_RUNTIME_DIR", root().c_str(), 1);
}

RuntimeSandbox::~RuntimeSandbox() {
    if (previous_) {
        ::setenv("XDG_RUNTIME_DIR", previous_->c_str(), 1);
    } else {
        ::unsetenv("XDG_RUNTIME_DIR");
    }
}

}  // namespace kestrun::testing
