#include "recordfile/record_file.h"

#include <algorithm>
#include <array>
#include <condition_variable>
#include <cstring>
#include <mutex>
#include <thread>
#include <vector>

#include "platform/posix/posix_file_system.h"

namespace kestrun {
namespace {

// Reads a file on a thread of its own, a few chunks ahead of the scanner, so
// that copying the file from the kernel overlaps with the work on the records
// before it. Memory stays at kChunks chunks whatever the size of the file.
class ReadAhead {
  public:
    struct Chunk {
        explicit Chunk(std::size_t chunk_size) : bytes(RecordScanner::kLookahead + chunk_size) {}
        // Data starts after head room for what the scanner left of the last.
        std::byte* data() { return bytes.data() + RecordScanner::kLookahead; }
        std::size_t capacity() const { return bytes.size() - RecordScanner::kLookahead; }

        std::vector<std::byte> bytes;
        std::size_t size = 0;
        bool end = false;  // the file ends here (or reading failed)
        Status error;      // a failed read
        bool filled = false;
    };

    // Reads the bytes [from, to) of `file`, or up to its end if that is
    // sooner.
    ReadAhead(InputFile& file, std::uint64_t from, std::uint64_t to, std::size_t chunk_size)
        : file_(file),
          at_(from),
          to_(to),
          chunks_{Chunk(chunk_size), Chunk(chunk_size), Chunk(chunk_size), Chunk(chunk_size)},
          thread_([this] { Run(); }) {}
    ReadAhead(const ReadAhead&) = delete;
    ReadAhead& operator=(const ReadAhead&) = delete;
    ~ReadAhead() {
        {
            const std::lock_guard lock(mutex_);
            stop_ = true;
        }
        changed_.notify_all();
        thread_.join();
    }

    // The next chunk of the file, in order; waits until it has been read.
    Chunk& Next() {
        Chunk& chunk = chunks_[next_];
        next_ = (next_ + 1) % kChunks;
        std::unique_lock lock(mutex_);
        changed_.wait(lock, [&] { return chunk.filled; });
        return chunk;
    }

    // Hands a chunk from Next() back for reading into.
    void Release(Chunk& chunk) {
        {
            const std::lock_guard lock(mutex_);
            chunk.filled = false;
        }
        changed_.notify_all();
    }

  private:
    static constexpr std::size_t kChunks = 4;

    void Run() {
        for (std::size_t i = 0;; i = (i + 1) % kChunks) {
            Chunk& chunk = chunks_[i];
            {
                std::unique_lock lock(mutex_);
                changed_.wait(lock, [&] { return stop_ || !chunk.filled; });
                if (stop_) return;
            }
            const auto wanted =
                static_cast<std::size_t>(std::min<std::uint64_t>(chunk.capacity(), to_ - at_));
            chunk.size = 0;
            chunk.error = Status::Ok();
            if (wanted > 0) {
                chunk.error = file_.ReadAt(at_, std::span(chunk.data(), wanted), chunk.size);
            }
            at_ += chunk.size;
            // A short read is not the end: only a read of nothing is.
            chunk.end = !chunk.error.ok() || chunk.size == 0;
            {
                const std::lock_guard lock(mutex_);
                chunk.filled = true;
            }
            changed_.notify_all();
            if (chunk.end) return;
        }
    }

    InputFile& file_;
    std::uint64_t at_;
    const std::uint64_t to_;
    std::array<Chunk, kChunks> chunks_;
    std::size_t next_ = 0;
    std::mutex mutex_;
    std::condition_variable changed_;
    bool stop_ = false;
    std::thread thread_;  // last: starts once everything above is ready
};

// Passes records on with their offsets from the start of the file.
class ShiftedSink final : public RecordSink {
  public:
    ShiftedSink(RecordSink& sink, std::uint64_t shift) : sink_(sink), shift_(shift) {}
    void OnRecord(const FlightRecord& record, std::uint64_t offset) override {
        sink_.OnRecord(record, offset + shift_);
    }

  private:
    RecordSink& sink_;
    std::uint64_t shift_;
};

}  // namespace

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
    // No larger than the bytes to read, so that a scan of many small files
    // (the logbook's) does not zero megabytes for each; a file that grows
    // while it is read is still read to its end, in more pieces.
    std::uint64_t wanted = std::max(begin, end) - begin;
    FileFacts facts;
    if (file.Facts(facts).ok())
        wanted = std::min(wanted, facts.size > begin ? facts.size - begin : 0);
    return static_cast<std::size_t>(
        std::clamp<std::uint64_t>(wanted, std::min(kLeastChunkSize, chunk_size_), chunk_size_));
}

Status RecordFileReader::Scan(InputFile& file, const std::string&, RecordSink& record_sink,
                              ScanCounts& counts, std::uint64_t begin, std::uint64_t end) {
    RecordScanner scanner;
    counts = ScanCounts{};
    ShiftedSink sink(record_sink, begin);

    // The scanner hands back fewer than kLookahead bytes it could not judge
    // yet (all of them while it holds fewer, after a short read); they go in
    // the head room in front of the next chunk.
    ReadAhead reader(file, begin, std::max(begin, end), ChunkSize(file, begin, end));
    std::array<std::byte, RecordScanner::kLookahead> carry{};
    std::size_t held = 0;
    Status status = Status::Ok();
    for (;;) {
        ReadAhead::Chunk& chunk = reader.Next();
        if (!chunk.error.ok()) {
            // The stream ends where reading stopped: what was read is judged
            // as the end of a file, so a whole record read before the
            // failure still counts and every byte read is accounted for.
            status = chunk.error;
            static_cast<void>(scanner.Scan(std::span(carry.data(), held), true, sink));
            reader.Release(chunk);
            break;
        }
        std::byte* first = chunk.data() - held;
        std::memcpy(first, carry.data(), held);
        const std::size_t total = held + chunk.size;
        const std::size_t used = scanner.Scan(std::span(first, total), chunk.end, sink);
        held = total - used;
        std::memcpy(carry.data(), first + used, held);
        const bool at_end = chunk.end;
        reader.Release(chunk);
        if (at_end) break;
    }
    counts = scanner.counts();
    return status;
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
