#include "logbook/logbook_scan.h"

#include <fcntl.h>
#include <fmt/format.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <array>
#include <cstring>
#include <filesystem>

#include "flights/flight_analyzer.h"
#include "flights/point_from_record.h"
#include "logbook/airports.h"
#include "logbook/judgement_rows.h"
#include "recordfile/first_date.h"
#include "recordfile/record_file.h"

namespace kestrun {
namespace {

// The bytes at both ends of what was indexed stand for all of it: a file
// the recorder appended to keeps them, and one rewritten with other records
// does not.
constexpr std::uint64_t kFingerprintBytes = 4096;
constexpr std::uint64_t kProgressEvery = std::uint64_t{1} << 24;

struct FileRow {
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

// FNV-1a over [from, to) of the file; empty when it cannot be read.
std::optional<std::int64_t> HashRange(int fd, std::uint64_t from, std::uint64_t to) {
    std::array<unsigned char, kFingerprintBytes> bytes{};
    const std::size_t length = static_cast<std::size_t>(to - from);
    std::size_t got = 0;
    while (got < length) {
        const ssize_t n =
            ::pread(fd, bytes.data() + got, length - got, static_cast<off_t>(from + got));
        if (n <= 0) return std::nullopt;
        got += static_cast<std::size_t>(n);
    }
    std::uint64_t hash = 0xcbf29ce484222325u;
    for (std::size_t i = 0; i < length; ++i) hash = (hash ^ bytes[i]) * 0x100000001b3u;
    return static_cast<std::int64_t>(hash);
}

struct Fingerprint {
    std::int64_t head = 0;
    std::int64_t tail = 0;
};

std::optional<Fingerprint> FingerprintOf(const std::string& path, std::uint64_t size) {
    const int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NONBLOCK);
    if (fd < 0) return std::nullopt;
    const auto head = HashRange(fd, 0, std::min(size, kFingerprintBytes));
    const auto tail = HashRange(fd, size - std::min(size, kFingerprintBytes), size);
    ::close(fd);
    if (!head || !tail) return std::nullopt;
    return Fingerprint{*head, *tail};
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

Status StoreFlight(Database& db, std::int64_t file_id, std::int64_t day_start,
                   const DetectedFlight& f) {
    Statement* kept = nullptr;
    Status status = db.PrepareKept(
        "INSERT INTO flights(file_id, begin_offset, end_offset, complete, first_time, last_time, "
        "off_block, takeoff, landing, on_block, distance_m, max_altitude_m, max_ias_kt, "
        "takeoff_lat, takeoff_lon, touchdown_lat, touchdown_lon, touchdown_fpm, "
        "touchdown_ias_kt, touchdown_pitch_deg, touchdown_bank_deg, touch_and_goes, departure, "
        "arrival) VALUES (?1, ?2, ?3, ?4, ?5, ?6, ?7, ?8, ?9, ?10, ?11, ?12, ?13, ?14, ?15, ?16, "
        "?17, ?18, ?19, ?20, ?21, ?22, ?23, ?24)",
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
        .Bind(22, std::int64_t{f.touch_and_goes});
    std::string departure, arrival;
    if (f.takeoff_point) {
        insert.Bind(14, f.takeoff_point->latitude_deg).Bind(15, f.takeoff_point->longitude_deg);
        status = NearestAirport(db, f.takeoff_point->latitude_deg, f.takeoff_point->longitude_deg,
                                departure);
    }
    if (status.ok() && f.touchdown) {
        const LandingReport& td = *f.touchdown;
        insert.Bind(16, td.where.latitude_deg).Bind(17, td.where.longitude_deg);
        insert.Bind(18, td.rate_fpm).Bind(19, td.airspeed_kt);
        insert.Bind(20, td.pitch_deg).Bind(21, td.bank_deg);
        status = NearestAirport(db, td.where.latitude_deg, td.where.longitude_deg, arrival);
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

std::optional<FileRow> FindFile(Database& db, const std::string& path, Status& status) {
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
    FileRow row{query.Int(0), query.Int(1),      query.Int(2), query.Int(3),   query.Int(4),
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

Status LogbookScan::Begin() {
    return db_.Exec("BEGIN IMMEDIATE");
}

Status LogbookScan::Commit() {
    return db_.Exec("COMMIT");
}

FileScanResult LogbookScan::ScanFile(const std::string& given) {
    using Outcome = FileScanResult::Outcome;
    FileScanResult result;
    result.path = given;
    auto fail = [&](const std::string& why) {
        result.outcome = Outcome::kFailed;
        result.message = why;
        return result;
    };
    std::error_code error;
    const std::string path = std::filesystem::absolute(given, error).lexically_normal().string();
    struct stat st {};
    if (::stat(path.c_str(), &st) != 0)
        return fail(std::string("cannot examine: ") + std::strerror(errno));
    if (!S_ISREG(st.st_mode)) return fail("not a regular file");
    const auto size = static_cast<std::uint64_t>(st.st_size);
    const std::int64_t mtime_ns =
        std::int64_t{st.st_mtim.tv_sec} * 1'000'000'000 + st.st_mtim.tv_nsec;

    Status status;
    const std::optional<FileRow> row = FindFile(db_, path, status);
    if (!status.ok()) return fail(status.message());
    if (row && static_cast<std::uint64_t>(row->size) == size && row->mtime_ns == mtime_ns) {
        result.outcome = Outcome::kUnchanged;
        return result;
    }

    bool resume = false;
    if (row && size >= static_cast<std::uint64_t>(row->size)) {
        const auto old = FingerprintOf(path, static_cast<std::uint64_t>(row->size));
        if (!old) return fail(std::string("cannot read: ") + std::strerror(errno));
        resume = old->head == row->head_hash && old->tail == row->tail_hash;
    }
    const std::uint64_t begin = resume ? static_cast<std::uint64_t>(row->resume_offset) : 0;
    const std::int64_t resume_seconds = resume && row->resume_seconds ? *row->resume_seconds : 0;
    const std::int64_t day_base = resume_seconds - resume_seconds % kSecondsPerDay;

    status = db_.Exec("SAVEPOINT file");
    if (!status.ok()) return fail(status.message());
    auto fail_undo = [&](const std::string& why) {
        static_cast<void>(db_.Exec("ROLLBACK TO file; RELEASE file"));
        return fail(why);
    };

    const std::function<void(std::uint64_t)> progress = [this](std::uint64_t bytes) {
        total_read_ += bytes;
        if (bytes_read_) bytes_read_(total_read_);
    };
    DetectSink sink(day_base, progress, runways_, limits_);
    if (resume && row->resume_seconds) sink.detector().ResumeAtRest();
    ScanCounts counts;
    status = ScanRecordFileRange(path, begin, size, sink, counts);
    if (!status.ok()) return fail_undo(status.message());
    sink.detector().Finish();
    result.records = counts.records;
    result.skipped_bytes = counts.skipped_bytes + counts.damaged_bytes;
    result.flights = sink.flights().size();

    const auto now = FingerprintOf(path, size);
    if (!now) return fail_undo(std::string("cannot read: ") + std::strerror(errno));
    CivilDate first_date;
    bool date_given = false;
    if (resume) {
        first_date = CivilDate{row->first_date};
        date_given = row->date_given;
    } else if (date_) {
        first_date = *date_;
        date_given = true;
    } else {
        first_date = FirstDateFromModification(st.st_mtim.tv_sec, sink.timeline());
    }
    std::int64_t resume_offset = static_cast<std::int64_t>(begin);
    // The seconds of the resume point; none while it is the file's start.
    bool has_resume_at = resume && row->resume_seconds.has_value();
    std::int64_t resume_at = has_resume_at ? *row->resume_seconds : 0;
    if (const auto point = sink.detector().resume_point()) {
        resume_offset = static_cast<std::int64_t>(point->offset);
        has_resume_at = true;
        resume_at = point->seconds;
    }

    Statement upsert;
    status = db_.Prepare(
        "INSERT INTO files(path, size, mtime_ns, head_hash, tail_hash, first_date, date_given, "
        "resume_offset, resume_seconds) VALUES (?1, ?2, ?3, ?4, ?5, ?6, ?7, ?8, ?9) "
        "ON CONFLICT(path) DO UPDATE SET size = ?2, mtime_ns = ?3, head_hash = ?4, tail_hash = "
        "?5, first_date = ?6, date_given = ?7, resume_offset = ?8, resume_seconds = ?9",
        upsert);
    if (status.ok()) {
        status = upsert.Bind(1, path)
                     .Bind(2, static_cast<std::int64_t>(size))
                     .Bind(3, mtime_ns)
                     .Bind(4, now->head)
                     .Bind(5, now->tail)
                     .Bind(6, first_date.days)
                     .Bind(7, std::int64_t{date_given})
                     .Bind(8, resume_offset)
                     .Bind(9, has_resume_at ? std::optional(resume_at) : std::nullopt)
                     .Run();
    }
    std::int64_t file_id = 0;
    if (status.ok()) {
        const std::optional<FileRow> stored = FindFile(db_, path, status);
        if (stored) file_id = stored->id;
    }
    // What is read again replaces what was found there before.
    Statement forget;
    if (status.ok()) {
        status = db_.Prepare(
            "DELETE FROM flights WHERE file_id = ?1 AND (begin_offset >= ?2 OR complete = 0)",
            forget);
    }
    if (status.ok())
        status = forget.Bind(1, file_id).Bind(2, static_cast<std::int64_t>(begin)).Run();
    const std::int64_t day_start = first_date.days * kSecondsPerDay;
    for (const DetectedFlight& flight : sink.flights()) {
        if (status.ok()) status = StoreFlight(db_, file_id, day_start, flight);
    }
    if (status.ok()) status = db_.Exec("RELEASE file");
    if (!status.ok()) return fail_undo(status.message());

    if (!resume && counts.records == 0) {
        result.outcome = Outcome::kNoRecords;
    } else {
        result.outcome = resume ? Outcome::kGrown : row ? Outcome::kReindexed : Outcome::kNew;
    }
    return result;
}

std::vector<std::string> FindRecordFiles(const std::vector<std::string>& paths,
                                         const std::function<void(const std::string&)>& problem) {
    namespace fs = std::filesystem;
    std::vector<std::string> files;
    for (const std::string& given : paths) {
        std::error_code error;
        if (!fs::is_directory(given, error)) {
            files.push_back(given);
            continue;
        }
        std::vector<std::string> found;
        fs::recursive_directory_iterator it(given, error), end;
        if (error) problem(given + ": cannot read the folder: " + error.message());
        while (!error && it != end) {
            const fs::directory_entry& entry = *it;
            const std::string extension = entry.path().extension().string();
            std::error_code kind_error;
            if ((extension == ".dat" || extension == ".DAT") && entry.is_regular_file(kind_error)) {
                found.push_back(entry.path().string());
            }
            if (entry.is_directory(kind_error) &&
                ::access(entry.path().c_str(), R_OK | X_OK) != 0) {
                problem(entry.path().string() +
                        ": cannot read the folder: " + std::strerror(errno));
                it.disable_recursion_pending();
            }
            it.increment(error);
            if (error) {
                problem(given + ": cannot read the folder: " + error.message());
                break;
            }
        }
        std::sort(found.begin(), found.end());
        files.insert(files.end(), found.begin(), found.end());
    }
    return files;
}

}  // namespace kestrun
