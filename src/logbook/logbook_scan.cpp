#include "logbook/logbook_scan.h"

#include <fmt/format.h>

#include <algorithm>
#include <array>
#include <filesystem>

#include "flights/flight_analyzer.h"
#include "flights/point_from_record.h"
#include "logbook/airports.h"
#include "logbook/judgement_rows.h"
#include "logbook/pilot_fields.h"
#include "platform/posix/posix_file_system.h"
#include "recordfile/first_date.h"
#include "recordfile/record_file.h"

namespace kestrun {
namespace {

// The bytes at both ends of what was indexed stand for all of it: a file
// the recorder appended to keeps them, and one rewritten with other records
// does not.
constexpr std::uint64_t kFingerprintBytes = 4096;
constexpr std::uint64_t kProgressEvery = std::uint64_t{1} << 24;

}  // namespace

struct LogbookScan::KnownFile {
    std::int64_t id = 0;
    std::int64_t size = 0;
    std::int64_t mtime_ns = 0;
    std::int64_t head_hash = 0;
    std::int64_t tail_hash = 0;
    std::int64_t first_date = 0;
    bool date_given = false;
    std::int64_t resume_offset = 0;
    std::optional<std::int64_t> resume_seconds;
};

// Where a scan of a file starts: at its start, or (the recorder appended)
// at the last point of rest of the scan before.
struct LogbookScan::ResumePoint {
    bool resume = false;
    std::uint64_t offset = 0;
    std::int64_t day_base = 0;  // local seconds of the day the point lies in
};

namespace {

using KnownFile = LogbookScan::KnownFile;

// Said when the file ends sooner than it did a moment before: what was read
// cannot stand for the file, so its old entries stay.
constexpr std::string_view kChangedWhileRead = "cannot read: the file changed while it was read";

// FNV-1a over [from, to) of the file, at most kFingerprintBytes.
Status HashRange(InputFile& file, std::uint64_t from, std::uint64_t to, std::int64_t& hash) {
    std::array<std::byte, kFingerprintBytes> bytes{};
    const auto length = static_cast<std::size_t>(to - from);
    std::size_t got = 0;
    while (got < length) {
        std::size_t n = 0;
        Status status = file.ReadAt(from + got, std::span(bytes).subspan(got, length - got), n);
        if (!status.ok()) return status;
        if (n == 0) return Status::Error(std::string(kChangedWhileRead));
        got += n;
    }
    std::uint64_t value = 0xcbf29ce484222325u;
    for (std::size_t i = 0; i < length; ++i) {
        value = (value ^ std::to_integer<std::uint64_t>(bytes[i])) * 0x100000001b3u;
    }
    hash = static_cast<std::int64_t>(value);
    return Status::Ok();
}

struct Fingerprint {
    std::int64_t head = 0;
    std::int64_t tail = 0;
};

// The fingerprint of the file's first `size` bytes.
Status FingerprintOf(InputFile& file, std::uint64_t size, Fingerprint& print) {
    Status status = HashRange(file, 0, std::min(size, kFingerprintBytes), print.head);
    if (status.ok()) {
        status = HashRange(file, size - std::min(size, kFingerprintBytes), size, print.tail);
    }
    return status;
}

// Feeds each record, placed in time, to the detector and keeps its flights.
class DetectSink final : public RecordSink, public FlightSink {
  public:
    DetectSink(std::int64_t day_base, const std::function<void(std::uint64_t)>& progress,
               RunwayFinder& runways, const EventLimits& limits)
        : detector_(*this, &runways, limits), day_base_(day_base), progress_(progress) {}

    void OnRecord(const FlightRecord& record, std::uint64_t offset) override {
        const TimePlacement time = timeline_.Place(record.Hour, record.Minute, record.Second);
        detector_.Add(PointFromRecord(record, time, offset, day_base_));
        if (progress_ && ++records_ % (kProgressEvery / kFlightRecordSize) == 0) {
            progress_(kProgressEvery);
        }
    }
    void OnRecords(std::span<const FoundRecord> records) override {
        for (const FoundRecord& found : records) DetectSink::OnRecord(found.record, found.offset);
    }
    void OnFlight(const DetectedFlight& flight) override { flights_.push_back(flight); }

    FlightAnalyzer& detector() { return detector_; }
    const FlightTimeline& timeline() const { return timeline_; }
    const std::vector<DetectedFlight>& flights() const { return flights_; }

  private:
    FlightAnalyzer detector_;
    FlightTimeline timeline_;
    std::int64_t day_base_;
    const std::function<void(std::uint64_t)>& progress_;
    std::uint64_t records_ = 0;
    std::vector<DetectedFlight> flights_;
};

std::optional<std::int64_t> LocalTime(std::int64_t day_start, std::optional<std::int64_t> seconds) {
    if (!seconds) return std::nullopt;
    return day_start + *seconds;
}

// `airports`: whether the logbook has any to name the flight's ends from.
Status StoreFlight(Database& db, std::int64_t file_id, std::int64_t day_start,
                   const DetectedFlight& f, const PilotFields& fields, bool airports) {
    Statement* kept = nullptr;
    Status status = db.PrepareKept(
        "INSERT INTO flights(file_id, begin_offset, end_offset, complete, first_time, last_time, "
        "off_block, takeoff, landing, on_block, distance_m, max_altitude_m, max_ias_kt, "
        "takeoff_lat, takeoff_lon, touchdown_lat, touchdown_lon, touchdown_fpm, "
        "touchdown_ias_kt, touchdown_pitch_deg, touchdown_bank_deg, touch_and_goes, departure, "
        "arrival, aircraft, registration, pilot, remarks, implausible) VALUES (?1, ?2, ?3, ?4, "
        "?5, ?6, ?7, ?8, ?9, ?10, ?11, ?12, ?13, ?14, ?15, ?16, ?17, ?18, ?19, ?20, ?21, ?22, ?23, "
        "?24, ?25, ?26, ?27, ?28, ?29)",
        kept);
    if (!status.ok()) return status;
    Statement& insert = *kept;
    insert.Bind(1, file_id)
        .Bind(2, static_cast<std::int64_t>(f.begin_offset))
        .Bind(3, static_cast<std::int64_t>(f.end_offset))
        .Bind(4, std::int64_t{f.complete})
        .Bind(5, day_start + f.first_seconds)
        .Bind(6, day_start + f.last_seconds)
        .Bind(7, LocalTime(day_start, f.off_block))
        .Bind(8, LocalTime(day_start, f.takeoff))
        .Bind(9, LocalTime(day_start, f.landing))
        .Bind(10, LocalTime(day_start, f.on_block))
        .Bind(11, f.distance_m)
        .Bind(12, f.max_altitude_m)
        .Bind(13, f.max_airspeed_kt)
        .Bind(22, std::int64_t{f.touch_and_goes})
        .Bind(25, fields.aircraft)
        .Bind(26, fields.registration)
        .Bind(27, fields.pilot)
        .Bind(28, fields.remarks);
    if (f.implausible.empty()) {
        insert.Bind(29, std::nullopt);
    } else {
        insert.Bind(29, f.implausible);
    }
    std::string departure, arrival;
    if (f.takeoff_point) {
        insert.Bind(14, f.takeoff_point->latitude_deg).Bind(15, f.takeoff_point->longitude_deg);
        if (airports) {
            status = NearestAirport(db, f.takeoff_point->latitude_deg,
                                    f.takeoff_point->longitude_deg, departure);
        }
    }
    if (status.ok() && f.touchdown) {
        const LandingReport& td = *f.touchdown;
        insert.Bind(16, td.where.latitude_deg).Bind(17, td.where.longitude_deg);
        insert.Bind(18, td.rate_fpm).Bind(19, td.airspeed_kt);
        insert.Bind(20, td.pitch_deg).Bind(21, td.bank_deg);
        if (airports) {
            status = NearestAirport(db, td.where.latitude_deg, td.where.longitude_deg, arrival);
        }
    }
    if (!status.ok()) return status;
    insert.Bind(23, departure).Bind(24, arrival);
    status = insert.Run();
    if (!status.ok()) return status;

    const std::int64_t flight_id = db.LastInsertId();
    Statement* phase = nullptr;
    status = db.PrepareKept("INSERT INTO phases VALUES (?1, ?2, ?3, ?4)", phase);
    for (std::size_t i = 0; status.ok() && i < f.phases.size(); ++i) {
        status = phase->Bind(1, flight_id)
                     .Bind(2, static_cast<std::int64_t>(i))
                     .Bind(3, PhaseName(f.phases[i].phase))
                     .Bind(4, day_start + f.phases[i].seconds)
                     .Run();
    }
    if (status.ok()) status = StoreJudgement(db, flight_id, day_start, f.judgement, arrival);
    return status;
}

// Whether `path` is already absolute and normal: no empty, "." or ".."
// step and no trailing slash, as every path of a folder scan given an
// absolute folder. Such a path is its own key; normalising it again costs a
// re-scan of unchanged files a third of its time.
bool IsPlainAbsolute(std::string_view path) {
    if (path.size() < 2 || path.front() != '/' || path.back() == '/') return false;
    for (std::size_t at = 1; at <= path.size();) {
        const std::size_t end = std::min(path.find('/', at), path.size());
        const std::string_view step = path.substr(at, end - at);
        if (step.empty() || step == "." || step == "..") return false;
        at = end + 1;
    }
    return true;
}

std::optional<KnownFile> FindFile(Database& db, const std::string& path, Status& status) {
    Statement* kept = nullptr;
    status = db.PrepareKept(
        "SELECT id, size, mtime_ns, head_hash, tail_hash, first_date, date_given, resume_offset, "
        "resume_seconds FROM files WHERE path = ?1",
        kept);
    if (!status.ok()) return std::nullopt;
    Statement& query = *kept;
    query.Bind(1, path);
    if (!query.Step()) {
        status = query.status();
        return std::nullopt;
    }
    KnownFile row{query.Int(0), query.Int(1),      query.Int(2), query.Int(3),   query.Int(4),
                  query.Int(5), query.Int(6) != 0, query.Int(7), query.OptInt(8)};
    query.Reset();  // a kept statement left on a row would hold its read open
    return row;
}

}  // namespace

std::string DescribeScan(const FileScanResult& r) {
    using Outcome = FileScanResult::Outcome;
    switch (r.outcome) {
        case Outcome::kUnchanged:
            return r.path + ": unchanged";
        case Outcome::kNoRecords:
            return r.path + ": no flight records; skipped";
        case Outcome::kFailed:
            return r.path + ": " + r.message;
        default:
            break;
    }
    const char* how = r.outcome == Outcome::kGrown       ? " (grown)"
                      : r.outcome == Outcome::kReindexed ? " (changed; indexed again)"
                                                         : "";
    return fmt::format("{}{}: {} flight{}, {} records, {} bytes skipped", r.path, how, r.flights,
                       r.flights == 1 ? "" : "s", r.records, r.skipped_bytes);
}

namespace {

// What the logbook keeps about a file after a scan of it.
struct FileEntry {
    std::uint64_t size = 0;
    std::int64_t mtime_ns = 0;
    Fingerprint print;
    CivilDate first_date;
    bool date_given = false;
    std::int64_t resume_offset = 0;
    std::optional<std::int64_t> resume_seconds;  // none while it is the file's start
};

// Writes the file's row and its flights found from `begin` on, in place of
// what was found there before; the file's id comes back in `file_id`.
Status StoreFile(Database& db, const std::string& path, const FileEntry& entry, std::uint64_t begin,
                 const std::vector<DetectedFlight>& flights) {
    Statement upsert;
    Status status = db.Prepare(
        "INSERT INTO files(path, size, mtime_ns, head_hash, tail_hash, first_date, date_given, "
        "resume_offset, resume_seconds) VALUES (?1, ?2, ?3, ?4, ?5, ?6, ?7, ?8, ?9) "
        "ON CONFLICT(path) DO UPDATE SET size = ?2, mtime_ns = ?3, head_hash = ?4, tail_hash = "
        "?5, first_date = ?6, date_given = ?7, resume_offset = ?8, resume_seconds = ?9",
        upsert);
    if (status.ok()) {
        status = upsert.Bind(1, path)
                     .Bind(2, static_cast<std::int64_t>(entry.size))
                     .Bind(3, entry.mtime_ns)
                     .Bind(4, entry.print.head)
                     .Bind(5, entry.print.tail)
                     .Bind(6, entry.first_date.days)
                     .Bind(7, std::int64_t{entry.date_given})
                     .Bind(8, entry.resume_offset)
                     .Bind(9, entry.resume_seconds)
                     .Run();
    }
    std::int64_t file_id = 0;
    if (status.ok()) {
        const std::optional<KnownFile> stored = FindFile(db, path, status);
        if (stored) file_id = stored->id;
    }
    // What is read again replaces what was found there before; the flights
    // found again keep what the pilot told about them.
    std::vector<FiledFlight> filed;
    PilotFields defaults;
    if (status.ok()) {
        status = FlightsToRefile(db, file_id, static_cast<std::int64_t>(begin), filed);
    }
    if (status.ok()) status = LoadPilotDefaults(db, defaults);
    Statement forget;
    if (status.ok()) {
        status = db.Prepare(
            "DELETE FROM flights WHERE file_id = ?1 AND (begin_offset >= ?2 OR complete = 0)",
            forget);
    }
    if (status.ok())
        status = forget.Bind(1, file_id).Bind(2, static_cast<std::int64_t>(begin)).Run();
    const std::int64_t day_start = entry.first_date.days * kSecondsPerDay;
    std::int64_t airports = 0;
    if (status.ok() && !flights.empty()) {
        status = db.QueryInt("SELECT EXISTS (SELECT 1 FROM airports)", airports);
    }
    for (const DetectedFlight& flight : flights) {
        const PilotFields fields = RefiledFields(filed, day_start + flight.first_seconds,
                                                 day_start + flight.last_seconds, defaults);
        if (status.ok())
            status = StoreFlight(db, file_id, day_start, flight, fields, airports != 0);
    }
    return status;
}

FileScanResult Failed(FileScanResult result, const std::string& why) {
    result.outcome = FileScanResult::Outcome::kFailed;
    result.message = why;
    return result;
}

}  // namespace

LogbookScan::LogbookScan(FileSystem& files, Database& db, std::optional<CivilDate> date,
                         std::function<void(std::uint64_t)> bytes_read)
    : files_(files), reader_(files_), db_(db), date_(date), bytes_read_(std::move(bytes_read)) {}

LogbookScan::LogbookScan(Database& db, std::optional<CivilDate> date,
                         std::function<void(std::uint64_t)> bytes_read)
    : own_files_(std::make_unique<PosixFileSystem>()),
      files_(*own_files_),
      reader_(files_),
      db_(db),
      date_(date),
      bytes_read_(std::move(bytes_read)) {}

LogbookScan::~LogbookScan() = default;

Status LogbookScan::Begin() {
    return db_.BeginImmediate();
}

Status LogbookScan::Commit() {
    if (!lost_.ok()) return lost_;
    return db_.Exec("COMMIT");
}

FileScanResult LogbookScan::ScanFile(const std::string& given) {
    using Outcome = FileScanResult::Outcome;
    FileScanResult result;
    result.path = given;
    if (!lost_.ok()) {
        return Failed(result, "not scanned, as the scan has stopped: " + lost_.message());
    }
    const std::string path = IsPlainAbsolute(given)
                                 ? given
                                 : files_.AbsolutePath(given).lexically_normal().string();
    FileFacts facts;
    bool found = false;
    Status status = files_.Stat(path, facts, found);
    if (!status.ok()) return Failed(result, status.message());
    if (!found) return Failed(result, "cannot examine: No such file or directory");
    if (facts.kind != FileFacts::Kind::kRegular) return Failed(result, "not a regular file");

    const std::optional<KnownFile> known = FindFile(db_, path, status);
    if (!status.ok()) return Failed(result, status.message());
    if (known && static_cast<std::uint64_t>(known->size) == facts.size &&
        known->mtime_ns == facts.modified_ns()) {
        result.outcome = Outcome::kUnchanged;
        return result;
    }

    std::unique_ptr<InputFile> file;
    status = files_.OpenInputFile(path, Links::kFollow, file);
    ResumePoint from;
    if (status.ok()) status = WhereToResume(*file, path, facts.size, known, from);
    if (!status.ok()) return Failed(result, status.message());

    status = db_.Exec("SAVEPOINT file");
    if (!status.ok()) return Failed(result, status.message());
    status = ScanAndStore(*file, path, facts, known, from, result);
    if (status.ok()) status = db_.Exec("RELEASE file");
    if (!status.ok()) {
        static_cast<void>(db_.Exec("ROLLBACK TO file; RELEASE file"));
        // SQLite ends the whole transaction on some failures (a full disk),
        // and a damaged logbook takes no change: nothing after this file
        // can be saved then.
        if (!db_.InTransaction() || !db_.write_refusal().ok()) lost_ = status;
        return Failed(result, status.message());
    }
    if (!from.resume && result.records == 0) {
        result.outcome = Outcome::kNoRecords;
    } else {
        result.outcome = from.resume ? Outcome::kGrown
                         : known     ? Outcome::kReindexed
                                     : Outcome::kNew;
    }
    return result;
}

// A file that grew with the bytes indexed before unchanged was appended to:
// its scan goes on from the last point of rest. Anything else is read whole.
Status LogbookScan::WhereToResume(InputFile& file, const std::string&, std::uint64_t size,
                                  const std::optional<KnownFile>& known, ResumePoint& from) {
    from = ResumePoint{};
    if (!known || size < static_cast<std::uint64_t>(known->size)) return Status::Ok();
    Fingerprint old;
    if (Status status = FingerprintOf(file, static_cast<std::uint64_t>(known->size), old);
        !status.ok()) {
        return status;
    }
    from.resume = old.head == known->head_hash && old.tail == known->tail_hash;
    if (!from.resume) return Status::Ok();
    from.offset = static_cast<std::uint64_t>(known->resume_offset);
    const std::int64_t seconds = known->resume_seconds.value_or(0);
    from.day_base = seconds - seconds % kSecondsPerDay;
    return Status::Ok();
}

Status LogbookScan::ScanAndStore(InputFile& file, const std::string& path, const FileFacts& facts,
                                 const std::optional<KnownFile>& known, const ResumePoint& from,
                                 FileScanResult& result) {
    const std::function<void(std::uint64_t)> progress = [this](std::uint64_t bytes) {
        total_read_ += bytes;
        if (bytes_read_) bytes_read_(total_read_);
    };
    runways_.Recount();  // imported since the file before, perhaps
    DetectSink sink(from.day_base, progress, runways_, limits_);
    const bool at_rest = from.resume && known->resume_seconds.has_value();
    if (at_rest) sink.detector().ResumeAtRest();
    ScanCounts counts;
    Status status = reader_.Scan(file, path, sink, counts, from.offset, facts.size);
    if (!status.ok()) return status;
    if (counts.bytes != facts.size - std::min(from.offset, facts.size)) {
        return Status::Error(std::string(kChangedWhileRead));
    }
    sink.detector().Finish();
    result.records = counts.records;
    result.skipped_bytes = counts.skipped_bytes + counts.damaged_bytes;
    result.flights = sink.flights().size();

    FileEntry entry;
    entry.size = facts.size;
    entry.mtime_ns = facts.modified_ns();
    status = FingerprintOf(file, facts.size, entry.print);
    if (!status.ok()) return status;
    if (from.resume) {
        entry.first_date = CivilDate{known->first_date};
        entry.date_given = known->date_given;
    } else if (date_) {
        entry.first_date = *date_;
        entry.date_given = true;
    } else {
        entry.first_date = FirstDateFromModification(facts.modified_seconds, sink.timeline());
    }
    if (counts.records > 0) {
        status =
            CheckRecordDates(entry.first_date, from.day_base + sink.timeline().latest_seconds());
        if (!status.ok()) return status;
    }
    entry.resume_offset = static_cast<std::int64_t>(from.offset);
    if (at_rest) entry.resume_seconds = known->resume_seconds;
    if (const auto point = sink.detector().resume_point()) {
        entry.resume_offset = static_cast<std::int64_t>(point->offset);
        entry.resume_seconds = point->seconds;
    }
    return StoreFile(db_, path, entry, from.offset, sink.flights());
}

namespace {

// Adds the record files (*.dat, *.DAT) in `folder` and the folders below it
// to `found`. Linked folders are not followed, so that a link to a parent
// cannot send the search round for ever; linked files are taken.
void SearchFolder(FileSystem& files, const std::filesystem::path& folder,
                  std::vector<std::string>& found,
                  const std::function<void(const std::string&)>& problem) {
    std::vector<FolderEntry> entries;
    if (Status listed = files.ListFolder(folder, entries); !listed.ok()) {
        problem(listed.message());
        return;
    }
    for (const FolderEntry& entry : entries) {
        const std::filesystem::path path = folder / entry.name;
        const std::string extension = path.extension().string();
        if ((extension == ".dat" || extension == ".DAT") &&
            entry.kind == FileFacts::Kind::kRegular) {
            found.push_back(path.string());
        }
        if (entry.kind == FileFacts::Kind::kDirectory && !entry.link) {
            SearchFolder(files, path, found, problem);
        }
    }
}

}  // namespace

std::vector<std::string> FindRecordFiles(FileSystem& files, const std::vector<std::string>& paths,
                                         const std::function<void(const std::string&)>& problem) {
    std::vector<std::string> found_all;
    for (const std::string& given : paths) {
        FileFacts facts;
        bool exists = false;
        if (!files.Stat(given, facts, exists).ok() || !exists ||
            facts.kind != FileFacts::Kind::kDirectory) {
            found_all.push_back(given);  // its scan says what is wrong with it
            continue;
        }
        std::vector<std::string> found;
        SearchFolder(files, given, found, problem);
        // Said, rather than a scan that quietly finds nothing: a recording
        // saved without the extension is the usual reason.
        if (found.empty()) problem(fmt::format("no record files (*.dat) in {}", given));
        std::sort(found.begin(), found.end());
        found_all.insert(found_all.end(), found.begin(), found.end());
    }
    return found_all;
}

std::vector<std::string> FindRecordFiles(const std::vector<std::string>& paths,
                                         const std::function<void(const std::string&)>& problem) {
    PosixFileSystem files;
    return FindRecordFiles(files, paths, problem);
}

}  // namespace kestrun
