#pragma once
// kestrun-record's --output as a pattern, so that each run can make its own
// file: "~/flights/%Y-%m-%d_%H%M.dat".

#include <ctime>
#include <string>
#include <string_view>

namespace kestrun {

// `pattern` with a leading "~" (alone or before "/") replaced by `home` when
// that is set, and strftime's conversions (%Y, %m, %d, %H, %M, %S, %%, ...)
// filled from the local time `now`. Done once, at the start of a run.
// Empty when the expansion is empty or implausibly long.
std::string ExpandOutputPattern(std::string_view pattern, const std::tm& now,
                                std::string_view home);

}  // namespace kestrun
