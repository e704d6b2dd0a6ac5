#include "export/spool_file.h"

#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <string>

namespace kestrun {
namespace {

constexpr std::size_t kCopyChunk = std::size_t{64} << 10;

}  // namespace

// A flight's worth of spooled text usually stays in the buffer and never
// reaches the file; writing to a file costs several times what reading the
// input does.
SpoolFile::SpoolFile(std::size_t buffer) : file_(std::tmpfile()) {
    const int saved = errno;
    out_ = std::make_unique<OutputBuffer>(file_ ? fileno(file_.get()) : -1, "a temporary file",
                                          buffer);
    if (!file_) out_->Fail(std::string("cannot create a temporary file: ") + std::strerror(saved));
}

void SpoolFile::MoveTo(OutputBuffer& dest) {
    if (empty()) return;
    if (out_->flushed() == file_mark_) {
        dest.Append(out_->buffered());
        out_->DropBuffered();
        copied_ = out_->written();
        return;
    }
    if (!out_->Flush()) {
        dest.Fail(out_->error());
        return;
    }
    const int fd = fileno(file_.get());
    if (::lseek(fd, 0, SEEK_SET) < 0) {
        dest.Fail(std::string("cannot rewind a temporary file: ") + std::strerror(errno));
        return;
    }
    char chunk[kCopyChunk];
    for (;;) {
        const ssize_t n = ::read(fd, chunk, sizeof chunk);
        if (n == 0) break;
        if (n < 0) {
            if (errno == EINTR) continue;
            dest.Fail(std::string("cannot read a temporary file: ") + std::strerror(errno));
            return;
        }
        dest.Append(std::string_view(chunk, static_cast<std::size_t>(n)));
    }
    if (!Truncate())
        dest.Fail(std::string("cannot reuse a temporary file: ") + std::strerror(errno));
}

void SpoolFile::Clear() {
    if (empty()) return;
    if (out_->flushed() == file_mark_) {
        out_->DropBuffered();
        copied_ = out_->written();
        return;
    }
    // Whatever is still buffered has to reach the file before it is cut. A
    // failure stays recorded in the spool and surfaces at the next MoveTo.
    if (!out_->Flush()) return;
    if (!Truncate())
        out_->Fail(std::string("cannot reuse a temporary file: ") + std::strerror(errno));
}

bool SpoolFile::Truncate() {
    const int fd = fileno(file_.get());
    if (::ftruncate(fd, 0) != 0 || ::lseek(fd, 0, SEEK_SET) < 0) return false;
    copied_ = out_->written();
    file_mark_ = out_->flushed();
    return true;
}

}  // namespace kestrun
