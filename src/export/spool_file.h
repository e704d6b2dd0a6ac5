#pragma once
// SpoolFile: an anonymous temporary file for parts of a document that must
// be written later than they are produced (KML wants all of a track's times
// before all of its coordinates). Text stays in memory up to a bound and goes
// to the file beyond it, so memory is bounded on any flight; the file vanishes
// when the spool is destroyed or the process ends.

#include <cstdio>
#include <memory>

#include "export/output_buffer.h"

namespace kestrun {

class SpoolFile {
  public:
    static constexpr std::size_t kDefaultBuffer = std::size_t{8} << 20;

    // Text up to `buffer` bytes between clears stays in memory.
    explicit SpoolFile(std::size_t buffer = kDefaultBuffer);
    SpoolFile(const SpoolFile&) = delete;
    SpoolFile& operator=(const SpoolFile&) = delete;

    // Where to write. Its error, if any, says the spool could not be written.
    OutputBuffer& out() { return *out_; }
    bool empty() const { return out_->written() == copied_; }

    // Appends everything spooled since the last Clear to `dest`, then clears.
    // A failure of the spool is reported through dest.Fail().
    void MoveTo(OutputBuffer& dest);
    // Drops everything spooled since the last clear.
    void Clear();

  private:
    // Empties the file; false with errno set on failure.
    bool Truncate();

    struct CloseFile {
        void operator()(std::FILE* f) const { std::fclose(f); }
    };
    std::unique_ptr<std::FILE, CloseFile> file_;
    std::unique_ptr<OutputBuffer> out_;
    std::uint64_t copied_ = 0;     // out_->written() at the last clear
    std::uint64_t file_mark_ = 0;  // out_->flushed() then: the file is empty while equal
};

}  // namespace kestrun
