#pragma once
// Fakes for the programs' files and the recorder's clock: a FileSystem that
// forwards to a real one but fails the calls a test picks, and a clock
// showing a chosen time.

#include <cstdint>
#include <filesystem>
#include <functional>
#include <optional>
#include <string>
#include <vector>

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

    // Reading. An input file's reads stop short at byte `read_fails_at`,
    // and a read from there on fails, as a disk with a bad sector does.
    std::optional<std::uint64_t> read_fails_at;
    // Each read returns at most this many bytes (0: as many as asked for).
    std::size_t max_read = 0;
    // Called before every read with its offset: a test grows or cuts the
    // file there, as a recorder or another program would.
    std::function<void(std::uint64_t)> before_read;

    // Writing streams: the stream writes that succeed before every later
    // one fails with "No space left on device".
    std::optional<int> stream_writes_before_failure;
    std::optional<std::string> fail_rename;

    // Starting a file afresh: keeping the old flight (a read-only folder),
    // putting the new file in its place (a full disk).
    std::optional<std::string> fail_keep;
    std::optional<std::string> fail_replace;

    int writes = 0;
    int syncs = 0;
    int stream_writes = 0;

    Status OpenOutputFile(const std::filesystem::path& path, bool truncate,
                          std::unique_ptr<OutputFile>& file) override;
    Status ReplaceWithOutputFile(const std::filesystem::path& path,
                                 std::unique_ptr<OutputFile>& file) override;
    Status KeepAs(const std::filesystem::path& path, const std::filesystem::path& kept,
                  Kept& result) override {
        if (fail_keep) return Status::Error(*fail_keep);
        return base_.KeepAs(path, kept, result);
    }
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

    Status OpenInputFile(const std::filesystem::path& path, Links links,
                         std::unique_ptr<InputFile>& file) override;
    Status Stat(const std::filesystem::path& path, FileFacts& facts, bool& found) override {
        return base_.Stat(path, facts, found);
    }
    Status ListFolder(const std::filesystem::path& path,
                      std::vector<FolderEntry>& entries) override {
        return base_.ListFolder(path, entries);
    }
    Status CreateBeside(const std::filesystem::path& target, std::unique_ptr<OutputStream>& file,
                        std::filesystem::path& temporary) override;
    Status OpenOutputStream(const std::filesystem::path& path,
                            std::unique_ptr<OutputStream>& file) override;
    Status OpenStandardOutput(std::unique_ptr<OutputStream>& file) override {
        return base_.OpenStandardOutput(file);
    }
    Status Rename(const std::filesystem::path& from, const std::filesystem::path& to) override {
        if (fail_rename) return Status::Error(*fail_rename);
        return base_.Rename(from, to);
    }
    Status Remove(const std::filesystem::path& path) override { return base_.Remove(path); }
    std::filesystem::path AbsolutePath(const std::filesystem::path& path) override {
        return base_.AbsolutePath(path);
    }
    Status CreateScratchFile(std::unique_ptr<ScratchFile>& file) override {
        return base_.CreateScratchFile(file);
    }

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
// Its calendar is UTC, whatever the machine's time zone, and its date
// `epoch_seconds`.
class FakeClock final : public Clock {
  public:
    TimeOfDay now{12, 0, 0};
    int seconds_per_reading = 0;
    int readings = 0;
    std::int64_t epoch_seconds = 1'796'650'475;  // 2026-12-07 13:34:35 UTC
    TimeOfDay LocalTimeOfDay() override;
    std::int64_t EpochSeconds() override { return epoch_seconds; }
    std::tm LocalCalendarTime(std::int64_t epoch_seconds) override;
};

}  // namespace kestrun::testing
