#pragma once
// A FileSystem that forwards to a real one and fails the calls a test picks:
// a full disk after n records, a short write, a failing sync or close, an
// unreadable or unwritable settings file.

#include <cstdint>
#include <optional>
#include <string>

#include "platform/file_system.h"

namespace kestrun::testing {

class FaultFileSystem final : public FileSystem {
  public:
    explicit FaultFileSystem(FileSystem& base) : base_(base) {}

    // Faults; each message becomes the failing Status's message.
    std::optional<std::string> fail_open;
    // Output-file writes that succeed before every later one fails.
    std::optional<int> writes_before_failure;
    // When a write fails, first let this many bytes of it reach the file.
    std::size_t bytes_written_on_failure = 0;
    std::optional<std::string> fail_sync;
    std::optional<std::string> fail_close;
    std::optional<std::string> fail_read_text;
    std::optional<std::string> fail_write_text;

    // What happened.
    int writes = 0;
    int syncs = 0;
    int closes = 0;
    int text_writes = 0;

    Status OpenOutputFile(const std::filesystem::path& path, bool truncate,
                          std::unique_ptr<OutputFile>& file) override;
    Status ReadTextFile(const std::filesystem::path& path, std::string& contents,
                        bool& found) override;
    Status WriteTextFile(const std::filesystem::path& path, std::string_view contents) override;
    Status CreateDirectories(const std::filesystem::path& path) override {
        return base_.CreateDirectories(path);
    }

  private:
    FileSystem& base_;
};

}  // namespace kestrun::testing
