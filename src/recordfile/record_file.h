#pragma once
// Reading record files from disk: a fixed buffer streams the file through a
// RecordScanner, so files of any size are read in constant memory.

#include <cstdint>
#include <string>

#include "platform/status.h"
#include "recordfile/record_scanner.h"

namespace kestrun {

struct RecordFileFacts {
    std::uint64_t size = 0;
    std::int64_t modified = 0;  // seconds since the epoch
};

// Fails unless `path` names a regular file that can be examined.
Status ReadRecordFileFacts(const std::string& path, RecordFileFacts& facts);

// Streams the whole file into `sink`. `counts` describes what was scanned,
// also when reading fails part-way.
Status ScanRecordFile(const std::string& path, RecordSink& sink, ScanCounts& counts);

// Streams the bytes [begin, end) of the file into `sink`, as if they were
// the whole stream; offsets passed to the sink count from the file's start.
Status ScanRecordFileRange(const std::string& path, std::uint64_t begin, std::uint64_t end,
                           RecordSink& sink, ScanCounts& counts);

}  // namespace kestrun
