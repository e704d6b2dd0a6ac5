#pragma once
// Text from an outside file, read in bounded memory: its bytes front to back
// (plain, or inflated from gzip) and its lines, each at most a set length.
// Whatever the file holds, memory stays at the bound plus one read.

#include <zlib.h>

#include <cstdint>
#include <memory>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "platform/file_system.h"

namespace kestrun {

class ByteSource {
  public:
    virtual ~ByteSource() = default;
    // Reads at most `into.size()` bytes; `got` is 0 only at the end.
    virtual Status Read(std::span<char> into, std::size_t& got) = 0;
};

// An open file from its start.
class FileSource final : public ByteSource {
  public:
    explicit FileSource(InputFile& file) : file_(file) {}
    Status Read(std::span<char> into, std::size_t& got) override;

  private:
    InputFile& file_;
    std::uint64_t at_ = 0;
};

// The inflated bytes of a gzip stream (members one after another, as gzip
// writes them); bytes that do not start like gzip are passed on as they are.
// `name` names the stream in messages.
class GzipSource final : public ByteSource {
  public:
    GzipSource(ByteSource& in, std::string name);
    ~GzipSource() override;
    GzipSource(const GzipSource&) = delete;
    GzipSource& operator=(const GzipSource&) = delete;
    Status Read(std::span<char> into, std::size_t& got) override;

  private:
    Status Fill();  // more input, when all of it was used

    ByteSource& in_;
    std::string name_;
    z_stream z_{};
    std::vector<char> input_;
    bool started_ = false;
    bool plain_ = false;
    bool input_end_ = false;
    bool done_ = false;
};

// The lines of a source, without their "\n" or "\r\n". A line longer than
// `max_line` bytes stops the reading: "<name>:<line>: the line is longer
// than <max_line> bytes".
class LineReader {
  public:
    LineReader(ByteSource& source, std::string name, std::size_t max_line);

    // The next line, valid until the next call; false at the end or when
    // reading failed (status() says why).
    bool Next(std::string_view& line);
    std::uint64_t number() const { return number_; }
    const Status& status() const { return status_; }

  private:
    ByteSource& source_;
    std::string name_;
    std::size_t max_line_;
    std::vector<char> buffer_;
    std::size_t begin_ = 0, end_ = 0;
    bool at_end_ = false;
    std::uint64_t number_ = 0;
    Status status_;
};

}  // namespace kestrun
