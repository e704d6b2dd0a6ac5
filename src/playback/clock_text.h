#pragma once
// Times of a replay as people read them.

#include <string>

namespace kestrun {

// "H:MM:SS" of a number of seconds (negative counts as 0).
std::string FormatPlayTime(double seconds);
// "HH:MM:SS" of a time on a file's timeline, its day dropped.
std::string FormatClockTime(double clock_seconds);

}  // namespace kestrun
