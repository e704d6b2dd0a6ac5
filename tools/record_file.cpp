#include "tools/record_file.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <vector>

namespace kestrun {
namespace {

constexpr std::size_t kReadSize = std::size_t{1} << 20;

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
    RecordScanner scanner;
    counts = ScanCounts{};
    const FileDescriptor file(::open(path.c_str(), O_RDONLY | O_CLOEXEC));
    if (file.get() < 0) return ErrnoStatus("cannot open", path);
    struct stat st {};
    if (::fstat(file.get(), &st) != 0) return ErrnoStatus("cannot examine", path);
    Status regular = CheckRegular(st, path);
    if (!regular.ok()) return regular;
    static_cast<void>(::posix_fadvise(file.get(), 0, 0, POSIX_FADV_SEQUENTIAL));

    // The scanner hands back fewer than kLookahead bytes it could not judge
    // yet; they move to the front and the next read continues after them.
    std::vector<std::byte> buffer(kReadSize + RecordScanner::kLookahead);
    std::size_t held = 0;
    for (;;) {
        const ssize_t n = ::read(file.get(), buffer.data() + held, buffer.size() - held);
        if (n < 0) {
            if (errno == EINTR) continue;
            Status failed = ErrnoStatus("cannot read", path);
            counts = scanner.counts();
            return failed;
        }
        held += static_cast<std::size_t>(n);
        const bool end = n == 0;
        const std::size_t used = scanner.Scan(std::span(buffer.data(), held), end, sink);
        if (end) break;
        std::memmove(buffer.data(), buffer.data() + used, held - used);
        held -= used;
    }
    counts = scanner.counts();
    return Status::Ok();
}

}  // namespace kestrun
