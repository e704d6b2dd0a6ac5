#include "tests/support/recorder_fakes.h"

#include <algorithm>

namespace kestrun::testing {
namespace {

class FaultOutputFile final : public OutputFile {
  public:
    FaultOutputFile(std::unique_ptr<OutputFile> base, FaultFileSystem& owner)
        : base_(std::move(base)), owner_(owner) {}

    Status WriteAt(std::uint64_t offset, std::span<const std::byte> data) override {
        if (owner_.writes_before_failure && owner_.writes++ >= *owner_.writes_before_failure) {
            const std::size_t part = std::min(owner_.bytes_written_on_failure, data.size());
            if (part > 0) (void)base_->WriteAt(offset, data.first(part));
            return Status::Error("cannot write: No space left on device");
        }
        return base_->WriteAt(offset, data);
    }
    Status Length(std::uint64_t& length) override { return base_->Length(length); }
    Status Truncate(std::uint64_t length) override { return base_->Truncate(length); }
    Status Sync() override {
        ++owner_.syncs;
        return base_->Sync();
    }
    Status Close() override {
        Status closed = base_->Close();
        return owner_.fail_close ? Status::Error(*owner_.fail_close) : closed;
    }
    bool locked() const override { return base_->locked(); }
    Status Facts(FileFacts& facts) override { return base_->Facts(facts); }

  private:
    std::unique_ptr<OutputFile> base_;
    FaultFileSystem& owner_;
};

class FaultInputFile final : public InputFile {
  public:
    FaultInputFile(std::unique_ptr<InputFile> base, FaultFileSystem& owner, std::string path)
        : base_(std::move(base)), owner_(owner), path_(std::move(path)) {}

    Status ReadAt(std::uint64_t offset, std::span<std::byte> into, std::size_t& got) override {
        got = 0;
        if (owner_.before_read) owner_.before_read(offset);
        if (owner_.read_fails_at) {
            if (offset >= *owner_.read_fails_at) {
                return Status::Error("cannot read " + path_ + ": Input/output error");
            }
            into = into.first(std::min<std::uint64_t>(into.size(), *owner_.read_fails_at - offset));
        }
        if (owner_.max_read > 0) into = into.first(std::min(into.size(), owner_.max_read));
        return base_->ReadAt(offset, into, got);
    }
    Status Facts(FileFacts& facts) override { return base_->Facts(facts); }

  private:
    std::unique_ptr<InputFile> base_;
    FaultFileSystem& owner_;
    std::string path_;
};

class FaultOutputStream final : public OutputStream {
  public:
    FaultOutputStream(std::unique_ptr<OutputStream> base, FaultFileSystem& owner)
        : base_(std::move(base)), owner_(owner) {}

    Status Write(std::span<const std::byte> data) override {
        if (owner_.stream_writes_before_failure &&
            owner_.stream_writes++ >= *owner_.stream_writes_before_failure) {
            return Status::Error("cannot write: No space left on device");
        }
        return base_->Write(data);
    }
    Status Close() override { return base_->Close(); }

  private:
    std::unique_ptr<OutputStream> base_;
    FaultFileSystem& owner_;
};

}  // namespace

Status FaultFileSystem::OpenInputFile(const std::filesystem::path& path, Links links,
                                      std::unique_ptr<InputFile>& file) {
    std::unique_ptr<InputFile> base_file;
    Status opened = base_.OpenInputFile(path, links, base_file);
    if (opened.ok()) {
        file = std::make_unique<FaultInputFile>(std::move(base_file), *this, path.string());
    }
    return opened;
}

Status FaultFileSystem::CreateBeside(const std::filesystem::path& target,
                                     std::unique_ptr<OutputStream>& file,
                                     std::filesystem::path& temporary) {
    std::unique_ptr<OutputStream> base_file;
    Status created = base_.CreateBeside(target, base_file, temporary);
    if (created.ok()) file = std::make_unique<FaultOutputStream>(std::move(base_file), *this);
    return created;
}

Status FaultFileSystem::OpenOutputStream(const std::filesystem::path& path,
                                         std::unique_ptr<OutputStream>& file) {
    std::unique_ptr<OutputStream> base_file;
    Status opened = base_.OpenOutputStream(path, base_file);
    if (opened.ok()) file = std::make_unique<FaultOutputStream>(std::move(base_file), *this);
    return opened;
}

Status FaultFileSystem::OpenOutputFile(const std::filesystem::path& path, bool truncate,
                                       std::unique_ptr<OutputFile>& file) {
    std::unique_ptr<OutputFile> base_file;
    Status opened = base_.OpenOutputFile(path, truncate, base_file);
    if (opened.ok()) file = std::make_unique<FaultOutputFile>(std::move(base_file), *this);
    return opened;
}

Status FaultFileSystem::ReplaceWithOutputFile(const std::filesystem::path& path,
                                              std::unique_ptr<OutputFile>& file) {
    if (fail_replace) return Status::Error(*fail_replace);
    std::unique_ptr<OutputFile> base_file;
    Status replaced = base_.ReplaceWithOutputFile(path, base_file);
    if (replaced.ok()) file = std::make_unique<FaultOutputFile>(std::move(base_file), *this);
    return replaced;
}

std::tm FakeClock::LocalCalendarTime(std::int64_t at) {
    const auto seconds = static_cast<std::time_t>(at);
    std::tm calendar{};
    gmtime_r(&seconds, &calendar);
    return calendar;
}

TimeOfDay FakeClock::LocalTimeOfDay() {
    ++readings;
    const TimeOfDay reading = now;
    const int total =
        (now.hour * 3600 + now.minute * 60 + now.second + seconds_per_reading) % 86400;
    now = TimeOfDay{total / 3600, total / 60 % 60, total % 60};
    return reading;
}

}  // namespace kestrun::testing
