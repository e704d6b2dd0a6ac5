#pragma once
// FileSystem over POSIX file descriptors: unbuffered pwrite at 64-bit
// offsets, fdatasync, and whole-file reads and writes for small text files
// (posix_file_system.cpp); files read with pread, stat and folder listings
// (posix_reading.cpp); streams and scratch files (posix_writing.cpp).

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
    Status ReplaceWithOutputFile(const std::filesystem::path& path,
                                 std::unique_ptr<OutputFile>& file) override;
    Status KeepAs(const std::filesystem::path& path, const std::filesystem::path& kept,
                  Kept& result) override;
    Status ReadTextFile(const std::filesystem::path& path, std::string& contents,
                        bool& found) override;
    Status WriteTextFile(const std::filesystem::path& path, std::string_view contents) override;
    Status RemoveReplaceLeftovers(const std::filesystem::path& path) override;
    Status CreateDirectories(const std::filesystem::path& path) override;
    Status CreatePrivateDirectories(const std::filesystem::path& path) override;

    Status OpenInputFile(const std::filesystem::path& path, Links links,
                         std::unique_ptr<InputFile>& file) override;
    Status Stat(const std::filesystem::path& path, FileFacts& facts, bool& found) override;
    Status ListFolder(const std::filesystem::path& path,
                      std::vector<FolderEntry>& entries) override;

    Status CreateBeside(const std::filesystem::path& target, std::unique_ptr<OutputStream>& file,
                        std::filesystem::path& temporary) override;
    Status OpenOutputStream(const std::filesystem::path& path,
                            std::unique_ptr<OutputStream>& file) override;
    Status OpenStandardOutput(std::unique_ptr<OutputStream>& file) override;
    Status Rename(const std::filesystem::path& from, const std::filesystem::path& to) override;
    Status Remove(const std::filesystem::path& path) override;
    std::filesystem::path AbsolutePath(const std::filesystem::path& path) override;
    Status CreateScratchFile(std::unique_ptr<ScratchFile>& file) override;

  private:
    LockCall lock_;
};

}  // namespace kestrun
