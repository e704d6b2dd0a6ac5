#include "recordfile/record_file.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <array>
#include <cerrno>
#include <condition_variable>
#include <cstring>
#include <limits>
#include <mutex>
#include <thread>
#include <vector>

namespace kestrun {
namespace {

constexpr std::size_t kReadSize = std::size_t{1} << 20;
// Chunks are no larger than the file needs, so that a scan of many small
// files (the logbook's) does not zero megabytes for each; a file that grows
// while it is read is still read to the end, in more pieces.
constexpr std::size_t kLeastReadSize = 4096;

// Reads a file on a thread of its own, a few chunks ahead of the scanner, so
// that copying the file from the kernel overlaps with the work on the records
// before it. Memory stays at kChunks chunks whatever the size of the file.
class ReadAhead {
  public:
    struct Chunk {
        // Data starts after head room for what the scanner left of the last.
        std::byte* data() { return bytes.data() + RecordScanner::kLookahead; }

        std::vector<std::byte> bytes;
        std::size_t size = 0;
        bool end = false;  // the file ends here (or reading failed)
        int error = 0;     // errno of a failed read
        bool filled = false;
    };

    // Reads at most `limit` bytes from the file's current offset, in chunks
    // sized for `expected` bytes.
    ReadAhead(int fd, std::uint64_t limit, std::uint64_t expected)
        : fd_(fd),
          left_(limit),
          read_size_(static_cast<std::size_t>(
              std::clamp<std::uint64_t>(std::min(limit, expected), kLeastReadSize, kReadSize))),
          chunks_(MakeChunks(read_size_)),
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

    static std::array<Chunk, kChunks> MakeChunks(std::size_t read_size) {
        std::array<Chunk, kChunks> chunks;
        for (Chunk& chunk : chunks) chunk.bytes.resize(RecordScanner::kLookahead + read_size);
        return chunks;
    }

    void Run() {
        for (std::size_t i = 0;; i = (i + 1) % kChunks) {
            Chunk& chunk = chunks_[i];
            {
                std::unique_lock lock(mutex_);
                changed_.wait(lock, [&] { return stop_ || !chunk.filled; });
                if (stop_) return;
            }
            ssize_t n = 0;
            const auto wanted =
                static_cast<std::size_t>(std::min<std::uint64_t>(read_size_, left_));
            do {
                n = wanted == 0 ? 0 : ::read(fd_, chunk.data(), wanted);
            } while (n < 0 && errno == EINTR);
            chunk.size = n > 0 ? static_cast<std::size_t>(n) : 0;
            left_ -= chunk.size;
            chunk.error = n < 0 ? errno : 0;
            chunk.end = n <= 0;
            {
                const std::lock_guard lock(mutex_);
                chunk.filled = true;
            }
            changed_.notify_all();
            if (chunk.end) return;
        }
    }

    const int fd_;
    std::uint64_t left_;
    const std::size_t read_size_;
    std::array<Chunk, kChunks> chunks_;
    std::size_t next_ = 0;
    std::mutex mutex_;
    std::condition_variable changed_;
    bool stop_ = false;
    std::thread thread_;  // last: starts once everything above is ready
};

Status ErrnoStatus(const char* what, const std::string& path) {
    return Status::Error(std::string(what) + " " + path + ": " + std::strerror(errno));
}

class FileDescriptor {
  public:
    explicit FileDescriptor(int fd) : fd_(fd) {}
    FileDescriptor(const FileDescriptor&) = delete;
    FileDescriptor& operator=(const FileDescriptor&) = delete;
    ~FileDescriptor() {
        if (fd_ >= 0) ::close(fd_);
    }
    int get() const { return fd_; }

  private:
    int fd_;
};

Status CheckRegular(const struct stat& st, const std::string& path) {
    if (!S_ISREG(st.st_mode)) return Status::Error(path + " is not a regular file");
    return Status::Ok();
}

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

Status ReadRecordFileFacts(const std::string& path, RecordFileFacts& facts) {
    struct stat st {};
    if (::stat(path.c_str(), &st) != 0) return ErrnoStatus("cannot examine", path);
    Status regular = CheckRegular(st, path);
    if (!regular.ok()) return regular;
    facts.size = static_cast<std::uint64_t>(st.st_size);
    facts.modified = static_cast<std::int64_t>(st.st_mtim.tv_sec);
    return Status::Ok();
}

Status ScanRecordFile(const std::string& path, RecordSink& sink, ScanCounts& counts) {
    return ScanRecordFileRange(path, 0, std::numeric_limits<std::uint64_t>::max(), sink, counts);
}

Status ScanRecordFileRange(const std::string& path, std::uint64_t from, std::uint64_t to,
                           RecordSink& record_sink, ScanCounts& counts) {
    RecordScanner scanner;
    counts = ScanCounts{};
    const FileDescriptor file(::open(path.c_str(), O_RDONLY | O_CLOEXEC));
    if (file.get() < 0) return ErrnoStatus("cannot open", path);
    struct stat st {};
    if (::fstat(file.get(), &st) != 0) return ErrnoStatus("cannot examine", path);
    Status regular = CheckRegular(st, path);
    if (!regular.ok()) return regular;
    static_cast<void>(::posix_fadvise(file.get(), 0, 0, POSIX_FADV_SEQUENTIAL));
    if (from > 0 && ::lseek(file.get(), static_cast<off_t>(from), SEEK_SET) < 0) {
        return ErrnoStatus("cannot read", path);
    }
    ShiftedSink sink(record_sink, from);

    // The scanner hands back fewer than kLookahead bytes it could not judge
    // yet; they go in the head room in front of the next chunk.
    const auto size = static_cast<std::uint64_t>(st.st_size);
    ReadAhead reader(file.get(), to > from ? to - from : 0, size > from ? size - from : 0);
    std::array<std::byte, RecordScanner::kLookahead> carry{};
    std::size_t held = 0;
    Status status = Status::Ok();
    for (;;) {
        ReadAhead::Chunk& chunk = reader.Next();
        if (chunk.error != 0) {
            errno = chunk.error;
            status = ErrnoStatus("cannot read", path);
            break;
        }
        std::byte* begin = chunk.data() - held;
        std::memcpy(begin, carry.data(), held);
        const std::size_t total = held + chunk.size;
        const std::size_t used = scanner.Scan(std::span(begin, total), chunk.end, sink);
        held = total - used;
        std::memcpy(carry.data(), begin + used, held);
        const bool end = chunk.end;
        reader.Release(chunk);
        if (end) break;
    }
    counts = scanner.counts();
    return status;
}

}  // namespace kestrun
