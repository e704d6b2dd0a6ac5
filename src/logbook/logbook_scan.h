#pragma once
// Scanning record files into the logbook. A scan is one transaction: killed
// at any moment, it leaves the logbook as it was before it. Files are read
// only as far as they need to be:
//  - unchanged size and modification time: not read at all;
//  - grown, with the bytes already indexed unchanged (the recorder
//    appended): read again from the last record at which the aircraft was at
//    rest with no flight in progress, so that a flight still going on at the
//    old end is completed, not counted twice;
//  - shrunk, or changed before the old end: indexed again from the start.

#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "flights/flight_events.h"
#include "logbook/runways.h"
#include "logbook/sqlite_db.h"
#include "platform/file_system.h"
#include "recordfile/civil_date.h"
#include "recordfile/record_file.h"

namespace kestrun {

struct FileScanResult {
    enum class Outcome { kUnchanged, kNew, kGrown, kReindexed, kNoRecords, kFailed };
    std::string path;
    Outcome outcome = Outcome::kFailed;
    std::uint64_t flights = 0;  // flights found in what was read
    std::uint64_t records = 0;  // records read
    std::uint64_t skipped_bytes = 0;
    std::string message;  // why it failed
};

// One line for the user: "PATH: 2 flights, 3600 records, 0 bytes skipped".
std::string DescribeScan(const FileScanResult& result);

class LogbookScan {
  public:
    // `date` is the local date of every new file's first record; without
    // it, a file's modification time gives the date as the exporter works
    // it out. `bytes_read` is called now and then with bytes read so far.
    // Files are read through `files`; without it, the system's own.
    LogbookScan(FileSystem& files, Database& db, std::optional<CivilDate> date,
                std::function<void(std::uint64_t)> bytes_read = {});
    LogbookScan(Database& db, std::optional<CivilDate> date,
                std::function<void(std::uint64_t)> bytes_read = {});
    ~LogbookScan();

    // The limits of the events found in each flight; defaults otherwise.
    void SetEventLimits(const EventLimits& limits) { limits_ = limits; }
    // Starts the scan's transaction; ends it with Commit. A failure that
    // makes SQLite end the transaction (a full disk) fails every file after
    // it and the Commit, with its words.
    Status Begin();
    // Indexes one record file. A file that fails leaves its old entries.
    FileScanResult ScanFile(const std::string& path);
    Status Commit();
    // True once nothing more can be saved: the files after are not scanned.
    bool stopped() const { return !lost_.ok(); }

    // The row a file has in the logbook, and where a scan of it starts.
    struct KnownFile;
    struct ResumePoint;

  private:
    Status WhereToResume(InputFile& file, const std::string& path, std::uint64_t size,
                         const std::optional<KnownFile>& known, ResumePoint& from);
    Status ScanAndStore(InputFile& file, const std::string& path, const FileFacts& facts,
                        const std::optional<KnownFile>& known, const ResumePoint& from,
                        FileScanResult& result);

    std::unique_ptr<FileSystem> own_files_;  // when none was given
    FileSystem& files_;
    RecordFileReader reader_;  // one buffer for every file of the scan
    Database& db_;
    std::optional<CivilDate> date_;
    std::function<void(std::uint64_t)> bytes_read_;
    std::uint64_t total_read_ = 0;
    // Why the scan's transaction ended before Commit; nothing is saved then.
    Status lost_;
    EventLimits limits_;
    LogbookRunways runways_{db_};
};

// The record files named by `paths`: files as they are, folders searched
// through for *.dat and *.DAT, in name order. Each folder that cannot be
// read, and each folder named in `paths` that holds no record file, is
// passed to `problem` and the search goes on.
std::vector<std::string> FindRecordFiles(FileSystem& files, const std::vector<std::string>& paths,
                                         const std::function<void(const std::string&)>& problem);
// The same through the system's own files.
std::vector<std::string> FindRecordFiles(const std::vector<std::string>& paths,
                                         const std::function<void(const std::string&)>& problem);

}  // namespace kestrun
