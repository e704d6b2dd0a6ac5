#include "recording/recording_run.h"

#include <fmt/core.h>

#include "recording/previous_flight.h"

namespace kestrun {

RecordingRun::~RecordingRun() {
    if (file_) (void)file_->Close();
}

Status RecordingRun::Start(const std::filesystem::path& path, bool overwrite) {
    if (file_) return Status::Error("a recording is already running");
    if (path.empty()) return Status::Error("no output file is set");
    // The operating system would silently stop at the first NUL byte and
    // write somewhere else than the name shown.
    if (path.native().find('\0') != std::string::npos) {
        return Status::Error("the output file name holds a NUL character");
    }
    std::unique_ptr<OutputFile> file;
    kept_as_.clear();
    const bool keep = overwrite && keep_previous_;
    if (Status opened = files_.OpenOutputFile(path, overwrite && !keep, file); !opened.ok()) {
        return opened;
    }
    if (keep) {
        if (Status afresh = StartAfresh(files_, clock_, path, file, kept_as_); !afresh.ok()) {
            (void)file->Close();
            return afresh;
        }
    }
    std::uint64_t length = 0;
    if (!overwrite) {
        if (Status measured = file->Length(length); !measured.ok()) {
            (void)file->Close();
            return measured;
        }
    }
    file_ = std::move(file);
    next_offset_ = length;
    unsynced_records_ = 0;
    records_written_ = 0;
    saved_ = false;
    return Status::Ok();
}

Status RecordingRun::WriteRecord(FlightRecord record) {
    if (!file_) return Status::Error("no recording is running");
    // One reading for all three fields, so a record written across a change of
    // hour or minute never mixes two instants.
    const TimeOfDay now = clock_.LocalTimeOfDay();
    record.Hour = static_cast<std::int16_t>(now.hour);
    record.Minute = static_cast<std::int16_t>(now.minute);
    record.Second = static_cast<std::int16_t>(now.second);

    const FlightRecordBytes bytes = EncodeFlightRecord(record);
    const std::uint64_t record_start = next_offset_;
    if (Status written = file_->WriteAt(record_start, bytes); !written.ok()) {
        return Abandon(std::move(written), record_start);
    }
    next_offset_ += kFlightRecordSize;
    ++records_written_;
    // Whole in the file from here on, even if the sync below fails.
    if (listener_) listener_(record);
    if (++unsynced_records_ >= kSyncInterval) {
        if (Status synced = file_->Sync(); !synced.ok()) {
            return Abandon(std::move(synced), next_offset_);
        }
        unsynced_records_ = 0;
    }
    return Status::Ok();
}

Status RecordingRun::Abandon(Status failure, std::uint64_t record_start) {
    std::string message = failure.message();
    // A write may have landed in part; cut it so no torn record remains.
    if (Status cut = file_->Truncate(record_start); !cut.ok()) {
        message += fmt::format(" (and the last record may be incomplete: {})", cut.message());
    }
    (void)file_->Sync();
    (void)file_->Close();
    file_.reset();
    return Status::Error(std::move(message));
}

Status RecordingRun::Stop() {
    if (!file_) return Status::Ok();
    Status synced = file_->Sync();
    Status closed = file_->Close();
    file_.reset();
    if (!synced.ok()) return synced;
    saved_ = closed.ok();
    return closed;
}

}  // namespace kestrun
