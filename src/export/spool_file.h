#pragma once
// SpoolFile: bytes a writer produces now and needs again later (KML wants all
// of a track's times before all of its coordinates, and the whole path after
// the track). They stay in memory up to a bound and go to an anonymous
// temporary file beyond it, so memory is bounded on any flight; the file
// vanishes when the spool is destroyed or the process ends.

#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <string_view>

#include "export/output_buffer.h"
#include "platform/file_system.h"

namespace kestrun {

class SpoolFile {
  public:
    static constexpr std::size_t kDefaultBuffer = std::size_t{8} << 20;

    // Up to `buffer` bytes between clears stay in memory; the file comes
    // from `files`, or from the system's own.
    SpoolFile(FileSystem& files, std::size_t buffer = kDefaultBuffer);
    explicit SpoolFile(std::size_t buffer = kDefaultBuffer);
    ~SpoolFile();
    SpoolFile(const SpoolFile&) = delete;
    SpoolFile& operator=(const SpoolFile&) = delete;

    void Append(std::string_view bytes) { out_->Append(bytes); }
    // Bytes appended since the last Clear.
    std::uint64_t size() const { return out_->written() - cleared_at_; }

    // Hands the bytes from `offset` (counted from the last Clear) to the end
    // to `take`, in order, in pieces whose sizes are multiples of `unit`.
    // False with error() set when the spool could not be written or read.
    bool ReadFrom(std::uint64_t offset, std::size_t unit,
                  const std::function<void(std::string_view)>& take);
    // Drops everything spooled.
    void Clear();

    bool ok() const { return out_->ok(); }
    const std::string& error() const { return out_->error(); }

  private:
    void Create(FileSystem& files, std::size_t buffer);

    std::unique_ptr<ScratchFile> file_;
    std::unique_ptr<OutputBuffer> out_;
    std::uint64_t cleared_at_ = 0;  // out_->written() at the last clear
    std::uint64_t file_start_ = 0;  // out_->flushed() then: the file holds what came after
};

}  // namespace kestrun
