#include "export/spool_file.h"

#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <string>

namespace kestrun {
namespace {

constexpr std::size_t kSpoolBuffer = std::size_t{64} << 10;

}  // namespace

SpoolFile::SpoolFile() : file_(std::tmpfile()) {
    const int saved = errno;
    out_ = std::make_unique<OutputBuffer>(file_ ? fileno(file_.get()) : -1, "a temporary file",
                                          kSpoolBuffer);
    if (!file_) out_->Fail(std::string("cannot create a temporary file: ") + std::strerror(saved));
}

void SpoolFile::MoveTo(OutputBuffer& dest) {
    if (empty()) return;
    if (!out_->Flush()) {
        dest.Fail(out_->error());
        return;
    }
    const int fd = fileno(file_.get());
    if (::lseek(fd, 0, SEEK_SET) < 0) {
        dest.Fail(std::string("cannot rewind a temporary file: ") + std::strerror(errno));
        return;
    }
    char chunk[kSpoolBuffer];
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
    return true;
}

}  // namespace kestrun
