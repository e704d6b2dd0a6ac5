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

  private:
    std::unique_ptr<OutputFile> base_;
    FaultFileSystem& owner_;
};

}  // namespace

Status FaultFileSystem::OpenOutputFile(const std::filesystem::path& path, bool truncate,
                                       std::unique_ptr<OutputFile>& file) {
    std::unique_ptr<OutputFile> base_file;
    Status opened = base_.OpenOutputFile(path, truncate, base_file);
    if (opened.ok()) file = std::make_unique<FaultOutputFile>(std::move(base_file), *this);
    return opened;
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
