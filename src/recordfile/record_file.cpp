#include "recordfile/record_file.h"

#include <algorithm>
#include <cstring>

#include "platform/posix/posix_file_system.h"

namespace kestrun {

Status RecordFileReader::Open(const std::string& path, std::unique_ptr<InputFile>& file) {
    return files_.OpenInputFile(path, Links::kFollow, file);
}

Status RecordFileReader::ReadFacts(const std::string& path, RecordFileFacts& facts) {
    std::unique_ptr<InputFile> file;
    Status status = Open(path, file);
    FileFacts found;
    if (status.ok()) status = file->Facts(found);
    if (!status.ok()) return status;
    facts.size = found.size;
    facts.modified = found.modified_seconds;
    return Status::Ok();
}

Status RecordFileReader::Scan(const std::string& path, RecordSink& sink, ScanCounts& counts,
                              std::uint64_t begin, std::uint64_t end) {
    counts = ScanCounts{};
    std::unique_ptr<InputFile> file;
    if (Status opened = Open(path, file); !opened.ok()) return opened;
    return Scan(*file, path, sink, counts, begin, end);
}

std::size_t RecordFileReader::ChunkSize(InputFile& file, std::uint64_t begin,
                                        std::uint64_t end) const {
    // No larger than the bytes to read, so that a reader of one small file
    // (a fuzzer's input, a short recording) does not make megabytes; a file
    // that grows while it is read is still read to its end, in more pieces.
    std::uint64_t wanted = std::max(begin, end) - begin;
    FileFacts facts;
    if (file.Facts(facts).ok())
        wanted = std::min(wanted, facts.size > begin ? facts.size - begin : 0);
    return static_cast<std::size_t>(
        std::clamp<std::uint64_t>(wanted, std::min(kLeastChunkSize, chunk_size_), chunk_size_));
}

Status RecordFileReader::Scan(InputFile& file, const std::string&, RecordSink& sink,
                              ScanCounts& counts, std::uint64_t begin, std::uint64_t end) {
    RecordScanner scanner(begin);
    counts = ScanCounts{};
    if (const std::size_t wanted = ChunkSize(file, begin, end); wanted > capacity_) {
        // Not value-initialised: every byte is read into before it is used.
        buffer_.reset(new std::byte[RecordScanner::kLookahead + wanted]);
        capacity_ = wanted;
    }
    // Bytes the scanner handed back (fewer than kLookahead: all of them while
    // it holds fewer, after a short read) move into the head room in front of
    // the next chunk.
    std::byte* const chunk = buffer_.get() + RecordScanner::kLookahead;
    const std::uint64_t to = std::max(begin, end);
    std::uint64_t at = begin;
    std::size_t held = 0;
    for (;;) {
        const auto wanted = static_cast<std::size_t>(std::min<std::uint64_t>(capacity_, to - at));
        std::size_t got = 0;
        if (wanted > 0) {
            if (Status status = file.ReadAt(at, std::span(chunk, wanted), got); !status.ok()) {
                // The stream ends where reading stopped: what was read is
                // judged as the end of a file, so a whole record read before
                // the failure still counts and every byte read is accounted for.
                static_cast<void>(scanner.Scan(std::span(chunk - held, held), true, sink));
                counts = scanner.counts();
                return status;
            }
        }
        at += got;
        // A short read is not the end: only a read of nothing is.
        const bool at_end = got == 0;
        const std::size_t total = held + got;
        const std::size_t used = scanner.Scan(std::span(chunk - held, total), at_end, sink);
        if (at_end) break;
        const std::size_t left = total - used;
        std::memmove(chunk - left, chunk - held + used, left);
        held = left;
    }
    counts = scanner.counts();
    return Status::Ok();
}

Status ReadRecordFileFacts(const std::string& path, RecordFileFacts& facts) {
    PosixFileSystem files;
    return RecordFileReader(files).ReadFacts(path, facts);
}

Status ScanRecordFile(const std::string& path, RecordSink& sink, ScanCounts& counts) {
    PosixFileSystem files;
    return RecordFileReader(files).Scan(path, sink, counts);
}

Status ScanRecordFileRange(const std::string& path, std::uint64_t begin, std::uint64_t end,
                           RecordSink& sink, ScanCounts& counts) {
    PosixFileSystem files;
    return RecordFileReader(files).Scan(path, sink, counts, begin, end);
}

}  // namespace kestrun
