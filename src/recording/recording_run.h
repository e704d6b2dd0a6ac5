#pragma once
// A recording run: the output file from Start to Stop, one 80-byte record
// written per call of WriteRecord.
//
// Durability: each record reaches the operating system in one write at its
// own tick (nothing is buffered here), and the file is synced to the device
// every kSyncInterval records and at Stop. A failed write is cut back to the
// record's start, so the file only ever holds whole records of this run
// after whatever it held before. Offsets are 64-bit: a run never wraps.

#include <cstdint>
#include <filesystem>
#include <functional>
#include <memory>

#include "platform/clock.h"
#include "platform/file_system.h"
#include "platform/status.h"
#include "record/flight_record.h"

namespace kestrun {

inline constexpr int kSyncInterval = 10;

class RecordingRun {
  public:
    // Called with each record once it is written whole, as stamped.
    using RecordListener = std::function<void(const FlightRecord&)>;

    RecordingRun(FileSystem& files, Clock& clock) : files_(files), clock_(clock) {}
    // Closes a file left open, without reporting: callers Stop first.
    ~RecordingRun();
    RecordingRun(const RecordingRun&) = delete;
    RecordingRun& operator=(const RecordingRun&) = delete;

    // Opens `path` for the run. With `overwrite` the file starts empty (a
    // flight it held is kept beside it first, see StartAfresh, unless
    // SetKeepPrevious(false)); otherwise its contents are kept and the first
    // record follows them. Fails, with nothing open and nothing changed, for
    // an empty path or one the system cannot open or keep. Starting while
    // open fails too.
    Status Start(const std::filesystem::path& path, bool overwrite);
    // Whether an overwriting Start keeps the flight the file held (the
    // default) or simply empties the file.
    void SetKeepPrevious(bool keep) { keep_previous_ = keep; }
    // Where the last Start kept the file's previous flight; empty for none.
    const std::filesystem::path& kept_as() const { return kept_as_; }
    // Records written since the last Start.
    std::uint64_t records_written() const { return records_written_; }

    // Stamps `record` with one reading of the clock and writes its 80 bytes
    // at next_offset(), which then advances by 80. On failure the file is cut
    // back to where the record began, synced and closed, and the run is over
    // (is_open() false); the Status says what failed.
    Status WriteRecord(FlightRecord record);

    // Syncs and closes the file. Ok only when every step succeeded, so the
    // caller may claim the file was saved. Stopping a closed run is ok.
    Status Stop();

    bool is_open() const { return file_ != nullptr; }
    // Whether the open file holds its lock; false on a file system without
    // locks, where a second recorder on the file would go unnoticed.
    bool locked() const { return file_ != nullptr && file_->locked(); }
    // True once the last run was stopped with every step succeeding; false
    // while a run is open and after a run a failed write ended.
    bool saved() const { return saved_; }
    // Hands each record written from now on to `listener` (none: nobody).
    void SetRecordListener(RecordListener listener) { listener_ = std::move(listener); }
    // The 0-based byte offset of the next record.
    std::uint64_t next_offset() const { return next_offset_; }

  private:
    // Ends the run after a failed write: cut back, sync, close.
    Status Abandon(Status failure, std::uint64_t record_start);

    FileSystem& files_;
    Clock& clock_;
    std::unique_ptr<OutputFile> file_;
    std::uint64_t next_offset_ = 0;
    int unsynced_records_ = 0;
    bool saved_ = false;
    bool keep_previous_ = true;
    std::filesystem::path kept_as_;
    std::uint64_t records_written_ = 0;
    RecordListener listener_;
};

}  // namespace kestrun
