#pragma once
// SpoolFile: an anonymous temporary file for parts of a document that must
// be written later than they are produced (KML wants all of a track's times
// before all of its coordinates). It keeps memory bounded on any flight; the
// file vanishes when the spool is destroyed or the process ends.

#include <cstdio>
#include <memory>

#include "export/output_buffer.h"

namespace kestrun {

class SpoolFile {
  public:
    SpoolFile();
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
    std::uint64_t copied_ = 0;  // out_->written() at the last clear
};

}  // namespace kestrun
