#pragma once
// The relay's pre-shared key: 32 random bytes, kept in a file as 64
// hexadecimal digits and a newline. Whoever holds it can read and steer the
// flight data, so the file must be readable by its owner only.

#include <array>
#include <cstddef>
#include <string>

#include "platform/status.h"

namespace kestrun {

inline constexpr std::size_t kRelayKeySize = 32;
using RelayKey = std::array<unsigned char, kRelayKeySize>;

// Writes a new random key to `path` with mode 0600. Refuses to replace an
// existing file, so that a typo cannot cut off the other machine.
Status WriteNewKey(const std::string& path);

// Reads the key at `path`. Refuses anything but a regular file of the
// current user with no permissions for group or others, and a file that does
// not hold exactly one key (64 hexadecimal digits, with or without a
// newline), or whose key is one byte repeated.
Status ReadKey(const std::string& path, RelayKey& key);

}  // namespace kestrun
