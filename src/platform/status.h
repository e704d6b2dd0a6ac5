#pragma once
// A small result for calls that can fail outside the link: what failed and
// why, in words a pilot can read. [[nodiscard]] so a failure is never dropped
// by accident.

#include <string>
#include <utility>

namespace kestrun {

class [[nodiscard]] Status {
  public:
    Status() = default;
    static Status Ok() { return Status(); }
    static Status Error(std::string message) { return Status(std::move(message)); }

    bool ok() const { return !failed_; }
    // Empty when ok().
    const std::string& message() const { return message_; }

  private:
    explicit Status(std::string message) : message_(std::move(message)), failed_(true) {}
    std::string message_;
    bool failed_ = false;
};

}  // namespace kestrun
