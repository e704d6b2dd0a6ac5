#pragma once
// The one place where an errno value becomes words. Every POSIX helper of the
// project reports a failed call through these, so messages read alike.

#include <string>
#include <string_view>

#include "platform/status.h"

namespace kestrun {

// The system's text for `error_number` ("No such file or directory").
std::string PosixErrorText(int error_number);

// A failed Status reading "<context>: <system text>".
Status PosixError(std::string_view context, int error_number);

}  // namespace kestrun
