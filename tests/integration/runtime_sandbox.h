#pragma once
// A fresh private XDG_RUNTIME_DIR for one test, so that test runs never meet
// each other or a user's host. Restores the previous value and removes the
// directory when it goes.

#include <optional>
#include <string>

#include "tests/support/test_files.h"

namespace kestrun::testing {

class RuntimeSandbox : public ScratchDir {
  public:
    RuntimeSandbox();
    ~RuntimeSandbox();

    // The directory XDG_RUNTIME_DIR points at.
    std::string root() const { return path().string(); }
    // The kestrun runtime directory inside it (not created here).
    std::string runtime() const { return root() + "/kestrun"; }

  private:
    std::optional<std::string> previous_;
};

}  // namespace kestrun::testing
