#pragma once
// Where an export goes: a file, or standard output. A file is written under
// a temporary name beside it and renamed into place once it is complete, so
// that a failed export leaves nothing behind, nor harms a file it was to
// replace. Targets a rename cannot replace (a device, a FIFO, a symbolic
// link) are written in place.

#include <filesystem>
#include <memory>
#include <optional>
#include <string>

#include "export/output_buffer.h"
#include "platform/file_system.h"
#include "platform/status.h"

namespace kestrun {

class ExportOutput {
  public:
    // Through the system's own files.
    ExportOutput();
    explicit ExportOutput(FileSystem& files);
    ExportOutput(const ExportOutput&) = delete;
    ExportOutput& operator=(const ExportOutput&) = delete;
    // Without a Close, as Discard.
    ~ExportOutput();

    // Starts the output to `path`; an empty path is standard output.
    Status Open(const std::string& path);
    // Valid after a successful Open.
    OutputBuffer& buffer() { return *buffer_; }
    // Writes out what is buffered, closes the file and puts it in place: the
    // first failure of the whole output, if any. After a failure nothing of
    // the export is left.
    Status Close();
    // Drops what is buffered and closes without writing it; a file made for
    // the export is removed, so that a failed export leaves nothing that
    // could pass for a result.
    void Discard();

  private:
    std::unique_ptr<FileSystem> own_files_;  // when none was given
    FileSystem& files_;
    std::unique_ptr<OutputStream> stream_;
    std::filesystem::path target_;
    std::filesystem::path temporary_;  // empty when written in place
    std::optional<OutputBuffer> buffer_;
};

}  // namespace kestrun
