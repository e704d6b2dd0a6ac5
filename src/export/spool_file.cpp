#include "export/spool_file.h"

#include <cstring>
#include <vector>

#include "platform/posix/posix_file_system.h"

namespace kestrun {
namespace {

constexpr std::size_t kReadChunk = std::size_t{1} << 20;

}  // namespace

// An ordinary flight's spool stays in the buffer and never reaches the file:
// writing to a file costs several times what reading the input does.
SpoolFile::SpoolFile(FileSystem& files, std::size_t buffer) {
    Create(files, buffer);
}

SpoolFile::SpoolFile(std::size_t buffer) {
    PosixFileSystem files;  // the scratch file needs nothing of it once made
    Create(files, buffer);
}

void SpoolFile::Create(FileSystem& files, std::size_t buffer) {
    const Status created = files.CreateScratchFile(file_);
    out_ = std::make_unique<OutputBuffer>(file_.get(), buffer);
    if (!created.ok()) out_->Fail(created.message());
}

SpoolFile::~SpoolFile() = default;

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
    std::vector<char> chunk(kReadChunk - kReadChunk % unit);
    std::size_t held = 0;  // bytes of a unit cut short by the last read
    std::uint64_t at = offset;
    for (;;) {
        std::size_t n = 0;
        const Status read =
            file_->ReadAt(at, std::as_writable_bytes(std::span(chunk).subspan(held)), n);
        if (!read.ok()) {
            out_->Fail(read.message());
            return false;
        }
        if (n == 0) break;
        at += n;
        held += n;
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
        if (const Status cleared = file_->Clear(); !cleared.ok()) out_->Fail(cleared.message());
        file_start_ = out_->flushed();
    }
    cleared_at_ = out_->written();
}

}  // namespace kestrun
