#pragma once
// Where an export goes: a file made (or emptied) for it, or standard output.

#include <optional>
#include <string>

#include "export/output_buffer.h"
#include "platform/status.h"

namespace kestrun {

class ExportOutput {
  public:
    ExportOutput() = default;
    ExportOutput(const ExportOutput&) = delete;
    ExportOutput& operator=(const ExportOutput&) = delete;
    ~ExportOutput();

    // Creates or empties `path`; an empty path is standard output.
    Status Open(const std::string& path);
    // Valid after a successful Open.
    OutputBuffer& buffer() { return *buffer_; }
    // Writes out what is buffered and closes the file: the first failure of
    // the whole output, if any.
    Status Close();
    // Drops what is buffered and closes without writing it; a regular file
    // made for the export is removed, so that a failed export leaves nothing
    // that could pass for a result.
    void Discard();

  private:
    int fd_ = -1;
    std::string name_;
    std::optional<OutputBuffer> buffer_;
};

}  // namespace kestrun
