#pragma once
// The runtime directory that the recorder and every host share: endpoints
// (one socket per host window class) and the atoms/ folder live in it.
//
// It is $XDG_RUNTIME_DIR/kestrun when XDG_RUNTIME_DIR is set and non-empty,
// otherwise /tmp/kestrun-<uid>. Whoever needs it first creates it with mode
// 0700. A directory that is not ours, or that group or others may use, is
// refused: anyone who can write there could stand in for the host or read
// another user's flight.

#include <string>

#include "platform/status.h"

namespace kestrun {

// Where the runtime directory is, from the environment; nothing is checked.
std::string RuntimeDirectoryPath();

// Creates `path` with mode 0700 when it is missing, then checks it: a real
// directory (not a symbolic link), owned by the effective user, with no
// permission bits for group or others. The error says which check failed.
Status PreparePrivateDirectory(const std::string& path);

// Prepares the runtime directory and its atoms/ folder; on success `path`
// holds the runtime directory.
Status PrepareRuntimeDirectory(std::string& path);

// "<runtime>/atoms", the folder of global atoms.
std::string AtomDirectoryPath(const std::string& runtime_directory);

}  // namespace kestrun
