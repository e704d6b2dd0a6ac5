#pragma once
// Fakes for the recorder's files and clock: a FileSystem that forwards to a
// real one but fails the calls a test picks, and a clock showing a chosen time.

#include <filesystem>
#include <optional>
#include <string>

#include "platform/clock.h"
#include "platform/file_system.h"

namespace kestrun::testing {

class FaultFileSystem final : public FileSystem {
  public:
    explicit FaultFileSystem(FileSystem& base) : base_(base) {}

    // Faults: each message becomes the failing Status's message.
    std::optional<std::string> fail_close;
    std::optional<std::string> fail_read_text;
    // Text-file writes that succeed before every later one fails.
    std::optional<int> text_writes_before_failure;
    // Output-file writes that succeed before every later one fails, after
    // first letting `bytes_written_on_failure` bytes of it reach the file.
    std::optional<int> writes_before_failure;
    std::size_t bytes_written_on_failure = 0;

    int writes = 0;
    int syncs = 0;

    Status OpenOutputFile(const std::filesystem::path& path, bool truncate,
                          std::unique_ptr<OutputFile>& file) override;
    Status ReadTextFile(const std::filesystem::path& path, std::string& contents,
                        bool& found) override {
        if (fail_read_text) return Status::Error(*fail_read_text);
        return base_.ReadTextFile(path, contents, found);
    }
    Status WriteTextFile(const std::filesystem::path& path, std::string_view contents) override {
        if (text_writes_before_failure && (*text_writes_before_failure)-- <= 0)
            return Status::Error("cannot write " + path.string() + ": No space left on device");
        return base_.WriteTextFile(path, contents);
    }
    Status RemoveReplaceLeftovers(const std::filesystem::path& path) override {
        return base_.RemoveReplaceLeftovers(path);
    }
    Status CreateDirectories(const std::filesystem::path& path) override {
        return base_.CreateDirectories(path);
    }
    Status CreatePrivateDirectories(const std::filesystem::path& path) override {
        return base_.CreatePrivateDirectories(path);
    }
    Status ListFolder(const std::filesystem::path& path, std::vector<std::string>& names) override {
        return base_.ListFolder(path, names);
    }
    Status RemoveFile(const std::filesystem::path& path) override { return base_.RemoveFile(path); }

  private:
    FileSystem& base_;
};

// A lock call for PosixFileSystem that fails with `Error`: ENOLCK, EINVAL or
// ENOTSUP as on a file system without open-file-description locks, EAGAIN as
// when another open holds the lock.
template <int Error>
int FailingLock(int /*fd*/) {
    return Error;
}

// Shows `now` and moves it on by `seconds_per_reading` at every reading.
class FakeClock final : public Clock {
  public:
    TimeOfDay now{12, 0, 0};
    int seconds_per_reading = 0;
    int readings = 0;
    TimeOfDay LocalTimeOfDay() override;
};

}  // namespace kestrun::testing
