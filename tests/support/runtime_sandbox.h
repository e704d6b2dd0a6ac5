#pragma once
// A fresh private folder for one test, as XDG_RUNTIME_DIR, XDG_CONFIG_HOME,
// XDG_DATA_HOME and HOME, so that test runs never meet each other or a
// user's host, settings, logbook or files. Restores the previous values and removes the folder when
// it goes.

#include <array>
#include <optional>
#include <string>

#include "tests/support/test_files.h"

namespace kestrun::testing {

class RuntimeSandbox : public ScratchDir {
  public:
    RuntimeSandbox();
    ~RuntimeSandbox();

    // The folder the variables point at.
    std::string root() const { return path().string(); }
    // The kestrun runtime directory inside it (not created here).
    std::string runtime() const { return root() + "/kestrun"; }

  private:
    static constexpr const char* kVariables[] = {"XDG_RUNTIME_DIR", "XDG_CONFIG_HOME",
                                                 "XDG_DATA_HOME", "HOME"};
    std::array<std::optional<std::string>, std::size(kVariables)> previous_;
};

}  // namespace kestrun::testing
