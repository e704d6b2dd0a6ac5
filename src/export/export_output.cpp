#include "export/export_output.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>

namespace kestrun {

ExportOutput::~ExportOutput() {
    if (fd_ > STDOUT_FILENO) ::close(fd_);
}

Status ExportOutput::Open(const std::string& path) {
    if (path.empty()) {
        fd_ = STDOUT_FILENO;
        name_ = "standard output";
    } else {
        fd_ = ::open(path.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644);
        if (fd_ < 0) return Status::Error("cannot create " + path + ": " + std::strerror(errno));
        name_ = path;
    }
    buffer_.emplace(fd_, name_);
    buffer_->WriteInBackground();
    return Status::Ok();
}

Status ExportOutput::Close() {
    Status status = Status::Ok();
    if (!buffer_->Flush()) status = Status::Error(buffer_->error());
    if (fd_ > STDOUT_FILENO) {
        const int closed = ::close(fd_);
        fd_ = -1;
        if (closed != 0 && status.ok()) {
            status = Status::Error("cannot write " + name_ + ": " + std::strerror(errno));
        }
    }
    return status;
}

void ExportOutput::Discard() {
    if (buffer_) buffer_->Discard();
    if (fd_ <= STDOUT_FILENO) return;
    struct stat info {};
    if (::fstat(fd_, &info) == 0 && S_ISREG(info.st_mode)) ::unlink(name_.c_str());
    ::close(fd_);
    fd_ = -1;
}

}  // namespace kestrun
