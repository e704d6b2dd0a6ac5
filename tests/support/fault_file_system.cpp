#include "tests/support/fault_file_system.h"

namespace kestrun::testing {
namespace {

class FaultOutputFile final : public OutputFile {
  public:
    FaultOutputFile(std::unique_ptr<OutputFile> base, FaultFileSystem& owner)
        : base_(std::move(base)), owner_(owner) {}

    Status WriteAt(std::uint64_t offset, std::span<const std::byte> data) override {
        const int write_number = owner_.writes++;
        if (owner_.writes_before_failure && write_number >= *owner_.writes_before_failure) {
            const std::size_t partial = std::min(owner_.bytes_written_on_failure, data.size());
            if (partial > 0) (void)base_->WriteAt(offset, data.first(partial));
            return Status::Error("cannot write: No space left on device");
        }
        return base_->WriteAt(offset, data);
    }
    Status Length(std::uint64_t& length) override { return base_->Length(length); }
    Status Truncate(std::uint64_t length) override { return base_->Truncate(length); }
    Status Sync() override {
        ++owner_.syncs;
        if (owner_.fail_sync) return Status::Error(*owner_.fail_sync);
        return base_->Sync();
    }
    Status Close() override {
        ++owner_.closes;
        Status closed = base_->Close();
        if (owner_.fail_close) return Status::Error(*owner_.fail_close);
        return closed;
    }

  private:
    std::unique_ptr<OutputFile> base_;
    FaultFileSystem& owner_;
};

}  // namespace

Status FaultFileSystem::OpenOutputFile(const std::filesystem::path& path, bool truncate,
                                       std::unique_ptr<OutputFile>& file) {
    if (fail_open) return Status::Error(*fail_open);
    std::unique_ptr<OutputFile> base_file;
    if (Status opened = base_.OpenOutputFile(path, truncate, base_file); !opened.ok()) {
        return opened;
    }
    file = std::make_unique<FaultOutputFile>(std::move(base_file), *this);
    return Status::Ok();
}

Status FaultFileSystem::ReadTextFile(const std::filesystem::path& path, std::string& contents,
                                     bool& found) {
    if (fail_read_text) return Status::Error(*fail_read_text);
    return base_.ReadTextFile(path, contents, found);
}

Status FaultFileSystem::WriteTextFile(const std::filesystem::path& path,
                                      std::string_view contents) {
    ++text_writes;
    if (fail_write_text) return Status::Error(*fail_write_text);
    return base_.WriteTextFile(path, contents);
}

}  // namespace kestrun::testing
