#pragma once
// FileFacts from what stat or fstat said.

#include <sys/stat.h>

#include "platform/file_system.h"

namespace kestrun {

inline FileFacts FactsOf(const struct stat& info) {
    FileFacts facts;
    facts.kind = S_ISREG(info.st_mode)   ? FileFacts::Kind::kRegular
                 : S_ISDIR(info.st_mode) ? FileFacts::Kind::kDirectory
                                         : FileFacts::Kind::kOther;
    facts.size = static_cast<std::uint64_t>(info.st_size);
    facts.modified_seconds = info.st_mtim.tv_sec;
    facts.modified_nanoseconds = info.st_mtim.tv_nsec;
    facts.device = static_cast<std::uint64_t>(info.st_dev);
    facts.inode = static_cast<std::uint64_t>(info.st_ino);
    return facts;
}

}  // namespace kestrun
