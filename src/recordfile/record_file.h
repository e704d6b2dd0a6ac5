#pragma once
// Reading record files from disk: a fixed buffer streams the file through a
// RecordScanner, so files of any size are read in constant memory. A reader
// keeps its buffer from one file to the next: scanning a folder of a few
// hundred recordings allocates it about once. Every read
// goes through a FileSystem, so that a test can make one fail part-way, cut
// it short, or change the file between two reads.

#include <cstdint>
#include <limits>
#include <memory>
#include <string>

#include "platform/file_system.h"
#include "platform/status.h"
#include "recordfile/record_scanner.h"

namespace kestrun {

struct RecordFileFacts {
    std::uint64_t size = 0;
    std::int64_t modified = 0;  // seconds since the epoch
};

class RecordFileReader {
  public:
    // Bytes asked for in one read; a read may return fewer.
    static constexpr std::size_t kDefaultChunkSize = std::size_t{1} << 20;

    // `chunk_size` is at least 1.
    explicit RecordFileReader(FileSystem& files, std::size_t chunk_size = kDefaultChunkSize)
        : files_(files), chunk_size_(chunk_size > 0 ? chunk_size : 1) {}

    // Opens `path`, a regular file (a symbolic link to one is followed: the
    // user named it). Fails with the path and the reason.
    Status Open(const std::string& path, std::unique_ptr<InputFile>& file);
    // Fails unless `path` names a regular file that can be examined.
    Status ReadFacts(const std::string& path, RecordFileFacts& facts);
    // Streams the bytes [begin, end) of `path` into `sink` as if they were the
    // whole stream; offsets passed to the sink count from the file's start.
    // `counts` describes what was scanned, also when reading fails part-way.
    Status Scan(const std::string& path, RecordSink& sink, ScanCounts& counts,
                std::uint64_t begin = 0, std::uint64_t end = kToTheEnd);
    // The same over a file already open; `path` names it in messages.
    Status Scan(InputFile& file, const std::string& path, RecordSink& sink, ScanCounts& counts,
                std::uint64_t begin = 0, std::uint64_t end = kToTheEnd);

    static constexpr std::uint64_t kToTheEnd = std::numeric_limits<std::uint64_t>::max();

  private:
    static constexpr std::size_t kLeastChunkSize = 4096;
    std::size_t ChunkSize(InputFile& file, std::uint64_t begin, std::uint64_t end) const;

    FileSystem& files_;
    std::size_t chunk_size_;
    // kLookahead bytes of head room, then a chunk of capacity_ bytes; made
    // at the first scan and grown only for a larger file.
    std::unique_ptr<std::byte[]> buffer_;
    std::size_t capacity_ = 0;
};

// The same through the system's own files, for programs that have no other.
Status ReadRecordFileFacts(const std::string& path, RecordFileFacts& facts);
Status ScanRecordFile(const std::string& path, RecordSink& sink, ScanCounts& counts);
Status ScanRecordFileRange(const std::string& path, std::uint64_t begin, std::uint64_t end,
                           RecordSink& sink, ScanCounts& counts);

}  // namespace kestrun
