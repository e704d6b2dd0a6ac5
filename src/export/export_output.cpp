#include "export/export_output.h"

#include "platform/posix/posix_file_system.h"

namespace kestrun {

ExportOutput::ExportOutput()
    : own_files_(std::make_unique<PosixFileSystem>()), files_(*own_files_) {}

ExportOutput::ExportOutput(FileSystem& files) : files_(files) {}

ExportOutput::~ExportOutput() {
    if (stream_) Discard();
}

Status ExportOutput::Open(const std::string& path) {
    Status status = Status::Ok();
    if (path.empty()) {
        status = files_.OpenStandardOutput(stream_);
    } else {
        target_ = path;
        FileFacts facts;
        bool found = false;
        status = files_.Stat(target_, facts, found);
        if (status.ok() && found && (facts.link || facts.kind != FileFacts::Kind::kRegular)) {
            status = files_.OpenOutputStream(target_, stream_);
        } else if (status.ok()) {
            status = files_.CreateBeside(target_, stream_, temporary_);
        }
    }
    if (!status.ok()) return status;
    // 1 MiB a hand-over: a writer thread woken every 256 KiB switched
    // context about a thousand times an export of a long flight. Into the
    // null device a write costs nothing to overlap, and the thread only its
    // wake-ups.
    buffer_.emplace(stream_.get(), std::size_t{1} << 20);
    if (!stream_->Discards()) buffer_->WriteInBackground();
    return Status::Ok();
}

Status ExportOutput::Close() {
    Status status = Status::Ok();
    if (!buffer_->Flush()) status = Status::Error(buffer_->error());
    Status closed = stream_->Close();
    stream_.reset();
    if (status.ok()) status = closed;
    if (!temporary_.empty()) {
        if (status.ok()) status = files_.Rename(temporary_, target_);
        if (!status.ok()) static_cast<void>(files_.Remove(temporary_));
        temporary_.clear();
    }
    return status;
}

void ExportOutput::Discard() {
    if (buffer_) buffer_->Discard();
    if (!stream_) return;
    static_cast<void>(stream_->Close());
    stream_.reset();
    if (!temporary_.empty()) static_cast<void>(files_.Remove(temporary_));
    temporary_.clear();
}

}  // namespace kestrun
