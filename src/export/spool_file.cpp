#include "export/spool_file.h"

#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <vector>

namespace kestrun {
namespace {

constexpr std::size_t kReadChunk = std::size_t{1} << 20;

std::string Failure(const char* what) {
    return std::string(what) + " a temporary file: " + std::strerror(errno);
}

}  // namespace

// An ordinary flight's spool stays in the buffer and never reaches the file:
// writing to a file costs several times what reading the input does.
SpoolFile::SpoolFile(std::size_t buffer) : file_(std::tmpfile()) {
    const int saved = errno;
    out_ = std::make_unique<OutputBuffer>(file_ ? fileno(file_.get()) : -1, "a temporary file",
                                          buffer);
    if (!file_) {
        errno = saved;
        out_->Fail(Failure("cannot create"));
    }
}

bool SpoolFile::ReadFrom(std::uint64_t offset, std::size_t unit,
                         const std::function<void(std::string_view)>& take) {
    if (!ok()) return false;
    if (out_->flushed() == file_start_) {
        // Everything since the last clear is still in memory.
        const std::string_view held = out_->buffered();
        if (offset < held.size()) take(held.substr(offset));
        return true;
    }
    if (!out_->Flush()) return false;
    const int fd = fileno(file_.get());
    std::vector<char> chunk(kReadChunk - kReadChunk % unit);
    std::size_t held = 0;  // bytes of a unit cut short by the last read
    auto at = static_cast<off_t>(offset);
    for (;;) {
        const ssize_t n = ::pread(fd, chunk.data() + held, chunk.size() - held, at);
        if (n < 0 && errno == EINTR) continue;
        if (n < 0) {
            out_->Fail(Failure("cannot read"));
            return false;
        }
        if (n == 0) break;
        at += n;
        held += static_cast<std::size_t>(n);
        const std::size_t whole = held - held % unit;
        take(std::string_view(chunk.data(), whole));
        std::memmove(chunk.data(), chunk.data() + whole, held - whole);
        held -= whole;
    }
    return true;
}

void SpoolFile::Clear() {
    if (out_->flushed() == file_start_) {
        out_->DropBuffered();
    } else if (out_->Flush()) {
        const int fd = fileno(file_.get());
        if (::ftruncate(fd, 0) != 0 || ::lseek(fd, 0, SEEK_SET) < 0) {
            out_->Fail(Failure("cannot reuse"));
        }
        file_start_ = out_->flushed();
    }
    cleared_at_ = out_->written();
}

}  // namespace kestrun
