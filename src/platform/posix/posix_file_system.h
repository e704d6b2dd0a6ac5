#pragma once
// FileSystem over POSIX file descriptors: unbuffered pwrite at 64-bit
// offsets, fdatasync, and whole-file reads and writes for small text files.

#include "platform/file_system.h"

namespace kestrun {

class PosixFileSystem final : public FileSystem {
  public:
    // Takes the exclusive lock on an output file's open description: 0, or
    // the errno of the failed call. Tests put a failing one in its place.
    using LockCall = int (*)(int fd);
    static int LockOpenFile(int fd);

    explicit PosixFileSystem(LockCall lock = LockOpenFile) : lock_(lock) {}

    Status OpenOutputFile(const std::filesystem::path& path, bool truncate,
                          std::unique_ptr<OutputFile>& file) override;
    Status ReadTextFile(const std::filesystem::path& path, std::string& contents,
                        bool& found) override;
    Status WriteTextFile(const std::filesystem::path& path, std::string_view contents) override;
    Status RemoveReplaceLeftovers(const std::filesystem::path& path) override;
    Status CreateDirectories(const std::filesystem::path& path) override;
    Status CreatePrivateDirectories(const std::filesystem::path& path) override;
    Status ListFolder(const std::filesystem::path& path, std::vector<std::string>& names) override;
    Status RemoveFile(const std::filesystem::path& path) override;

  private:
    LockCall lock_;
};

}  // namespace kestrun
