#pragma once
// OutputBuffer: a fixed buffer in front of a file descriptor, for writers that
// produce millions of small fields. Fields are formatted straight into the
// buffer; the buffer goes to the descriptor with write() when it fills.
//
// Errors are sticky: after the first failed write (or Fail()), further output
// is dropped and ok() is false, so a writer can format a whole document and
// the caller checks once.

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

namespace kestrun {

// Writes `value` with exactly `decimals` digits after the point (0 to 9),
// rounded to nearest; never writes "-0". Returns the end. `out` needs 48
// chars.
char* WriteFixed(char* out, double value, int decimals);

// Copies `text` to `out` and returns the end.
inline char* WriteText(char* out, std::string_view text) {
    for (const char c : text) *out++ = c;
    return out;
}

class OutputBuffer {
  public:
    static constexpr std::size_t kDefaultCapacity = std::size_t{1} << 20;

    // Does not take ownership of `fd`. `name` is used in error messages.
    OutputBuffer(int fd, std::string name, std::size_t capacity = kDefaultCapacity);
    OutputBuffer(const OutputBuffer&) = delete;
    OutputBuffer& operator=(const OutputBuffer&) = delete;

    void Append(std::string_view text);
    void Append(char c) {
        if (used_ == buffer_.size()) Drain();
        buffer_[used_++] = c;
    }
    void AppendInt(std::int64_t value);
    void AppendFixed(double value, int decimals);

    // Room for at least `n` chars at the returned pointer; Commit(end) marks
    // them used. For formatters that write straight into the buffer.
    char* Reserve(std::size_t n) {
        if (buffer_.size() - used_ < n) Drain();
        return buffer_.data() + used_;
    }
    void Commit(char* end) { used_ = static_cast<std::size_t>(end - buffer_.data()); }

    // Writes out everything buffered. False (and ok() false) on failure.
    bool Flush();
    // Marks the output failed with `message` unless it already failed.
    void Fail(std::string message);

    bool ok() const { return error_.empty(); }
    // Empty while ok().
    const std::string& error() const { return error_; }
    // Bytes handed to Append and friends since construction.
    std::uint64_t written() const { return flushed_ + used_; }

  private:
    void Drain();

    int fd_;
    std::string name_;
    std::vector<char> buffer_;
    std::size_t used_ = 0;
    std::uint64_t flushed_ = 0;
    std::string error_;
};

}  // namespace kestrun
