#pragma once
// Every program's exit statuses, and how --help lists them. The manual pages
// take their EXIT STATUS section from that list, so it is written only here
// and in each program's table of meanings.

#include <span>
#include <string>
#include <string_view>

namespace kestrun {

inline constexpr int kExitOk = 0;
// The program ran but could not do all it was asked (the reason is printed).
inline constexpr int kExitFailed = 1;
// The command line was refused; nothing was done.
inline constexpr int kExitUsage = 2;

// kestrun-record's own statuses above the shared ones.
inline constexpr int kExitNotConnected = 3;
inline constexpr int kExitFileError = 4;
inline constexpr int kExitSecondsLost = 5;

// One status and what it means, as a user reads it.
struct ExitStatusMeaning {
    int status;
    std::string_view meaning;
};

// "Exit status:" and one indented line per status, meanings wrapped to fit
// 80 columns, ending in a newline.
std::string ExitStatusHelp(std::span<const ExitStatusMeaning> meanings);

}  // namespace kestrun
