#include "platform/posix/posix_error.h"

#include <fmt/core.h>

#include <cstring>

namespace kestrun {

std::string PosixErrorText(int error_number) {
    // strerror is not thread-safe; the GNU strerror_r returns a pointer that
    // may or may not point into the buffer.
    char buffer[256] = {};
    const char* text = strerror_r(error_number, buffer, sizeof buffer);
    return text != nullptr ? std::string(text) : fmt::format("error {}", error_number);
}

Status PosixError(std::string_view context, int error_number) {
    return Status::Error(fmt::format("{}: {}", context, PosixErrorText(error_number)));
}

}  // namespace kestrun
