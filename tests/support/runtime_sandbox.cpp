#include "tests/support/runtime_sandbox.h"

#include <stdlib.h>

namespace kestrun::testing {

RuntimeSandbox::RuntimeSandbox() {
    for (std::size_t i = 0; i < std::size(kVariables); ++i) {
        if (const char* old = std::getenv(kVariables[i])) previous_[i] = old;
        ::setenv(kVariables[i], root().c_str(), 1);
    }
}

RuntimeSandbox::~RuntimeSandbox() {
    for (std::size_t i = 0; i < std::size(kVariables); ++i) {
        if (previous_[i]) {
            ::setenv(kVariables[i], previous_[i]->c_str(), 1);
        } else {
            ::unsetenv(kVariables[i]);
        }
    }
}

}  // namespace kestrun::testing
