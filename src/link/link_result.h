#pragma once
// Result codes of the link's queue, process and open operations.

#include <cstdint>

namespace kestrun {

using LinkResult = std::int32_t;

inline constexpr LinkResult kResultOkay = 0;
inline constexpr LinkResult kResultAlreadyOpen = 1;
inline constexpr LinkResult kResultNoHost = 2;
inline constexpr LinkResult kResultRegisterFailed = 3;
inline constexpr LinkResult kResultAtomFailed = 4;
inline constexpr LinkResult kResultMappingFailed = 5;
inline constexpr LinkResult kResultViewFailed = 6;
inline constexpr LinkResult kResultWrongVersion = 7;
inline constexpr LinkResult kResultWrongSimulator = 8;
inline constexpr LinkResult kResultNotOpen = 9;
inline constexpr LinkResult kResultNothingQueued = 10;
inline constexpr LinkResult kResultTimedOut = 11;
inline constexpr LinkResult kResultSendFailed = 12;
inline constexpr LinkResult kResultBadData = 13;
inline constexpr LinkResult kResultWrongVersionViaClient = 14;
inline constexpr LinkResult kResultBlockFull = 15;
inline constexpr int kResultCount = 16;

}  // namespace kestrun
