#pragma once
// Global atoms as files: one file per atom in the atoms/ folder of the runtime
// directory, named by the atom as four upper-case hex digits (C000 to FFFF)
// and holding the atom's string. Any process of the same user sees the same
// table, which is what lets a host turn the atom it receives into the name of
// a client's shared block.

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

#include "platform/posix/sys_result.h"

namespace kestrun {

inline constexpr std::uint16_t kFirstAtom = 0xC000;
inline constexpr std::size_t kMaxAtomName = 255;

// "C000" for 0xC000.
std::string AtomFileName(std::uint16_t atom);

// Returns the atom of `name`: the existing one when some atom already holds
// exactly this string, otherwise the lowest free number, claimed exclusively
// so that two processes adding at once never share one. The file appears with
// its whole content at once, so a reader never sees half a name. An existing
// atom is found through an index entry beside it (".name-<hash>", a symbolic
// link to its file) that every add here leaves, so an add reads no other
// atom; an atom made without one is found only once the table is full.
// Errors: EINVAL for an empty name, ENAMETOOLONG past kMaxAtomName bytes,
// ENOSPC when every number is taken, or the errno of a failed file call.
SysResult<std::uint16_t> AddAtom(const std::string& directory, std::string_view name);

// Removes the atom's file. EINVAL for a number below kFirstAtom.
int DeleteAtom(const std::string& directory, std::uint16_t atom);

// The string of `atom`. ENOENT when there is no such atom, EPERM when its
// file is not a regular file of ours.
SysResult<std::string> FindAtom(const std::string& directory, std::uint16_t atom);

// Removes the atoms whose string names a block of a process that is gone,
// and staging files such a process left; returns how many went. A process
// killed before it could close its link leaves both behind.
std::size_t RemoveStaleAtoms(const std::string& directory);

}  // namespace kestrun
