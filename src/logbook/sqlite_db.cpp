#include "logbook/sqlite_db.h"

#include <fmt/format.h>

#include <algorithm>
#include <cerrno>
#include <thread>
#include <utility>

#include "platform/posix/posix_error.h"

namespace kestrun {

std::string SqliteFailureText(sqlite3* db) {
    if (db == nullptr) return "no database";
    const int code = sqlite3_extended_errcode(db);
    const int system_error = sqlite3_system_errno(db);
    const bool disk_full =
        (code & 0xff) == SQLITE_FULL ||
        ((code & 0xff) == SQLITE_IOERR && (system_error == ENOSPC || system_error == EDQUOT));
    if (disk_full) return "the disk is full";
    if ((code & 0xff) == SQLITE_IOERR && system_error != 0) {
        return "cannot read or write the disk: " + PosixErrorText(system_error);
    }
    return sqlite3_errmsg(db);
}

Statement::Statement(Statement&& other) noexcept
    : db_(std::exchange(other.db_, nullptr)), stmt_(std::exchange(other.stmt_, nullptr)) {}

Statement& Statement::operator=(Statement&& other) noexcept {
    if (this != &other) {
        sqlite3_finalize(stmt_);
        db_ = std::exchange(other.db_, nullptr);
        stmt_ = std::exchange(other.stmt_, nullptr);
        status_ = Status::Ok();
    }
    return *this;
}

Statement::~Statement() {
    sqlite3_finalize(stmt_);
}

Statement& Statement::Bind(int index, std::int64_t value) {
    sqlite3_bind_int64(stmt_, index, value);
    return *this;
}

Statement& Statement::Bind(int index, double value) {
    sqlite3_bind_double(stmt_, index, value);
    return *this;
}

Statement& Statement::Bind(int index, std::string_view text) {
    sqlite3_bind_text(stmt_, index, text.data(), static_cast<int>(text.size()), SQLITE_TRANSIENT);
    return *this;
}

Statement& Statement::Bind(int index, std::nullopt_t) {
    sqlite3_bind_null(stmt_, index);
    return *this;
}

bool Statement::Step() {
    const int rc = sqlite3_step(stmt_);
    if (rc == SQLITE_ROW) return true;
    if (rc != SQLITE_DONE) status_ = Status::Error(SqliteFailureText(db_));
    return false;
}

Status Statement::Run() {
    while (Step()) {
    }
    Status result = status_;
    Reset();
    return result;
}

void Statement::Reset() {
    sqlite3_reset(stmt_);
    sqlite3_clear_bindings(stmt_);
    status_ = Status::Ok();
}

bool Statement::IsNull(int column) const {
    return sqlite3_column_type(stmt_, column) == SQLITE_NULL;
}

std::int64_t Statement::Int(int column) const {
    return sqlite3_column_int64(stmt_, column);
}

double Statement::Real(int column) const {
    return sqlite3_column_double(stmt_, column);
}

std::string Statement::Text(int column) const {
    const unsigned char* text = sqlite3_column_text(stmt_, column);
    return text == nullptr
               ? std::string()
               : std::string(reinterpret_cast<const char*>(text),
                             static_cast<std::size_t>(sqlite3_column_bytes(stmt_, column)));
}

std::optional<std::int64_t> Statement::OptInt(int column) const {
    if (IsNull(column)) return std::nullopt;
    return Int(column);
}

std::optional<double> Statement::OptReal(int column) const {
    if (IsNull(column)) return std::nullopt;
    return Real(column);
}

Database::~Database() {
    Close();
}

Status Database::Open(const std::string& path, int flags) {
    Close();
    const int rc = sqlite3_open_v2(path.c_str(), &db_, flags, nullptr);
    if (rc != SQLITE_OK) {
        Status error = Status::Error(db_ != nullptr ? SqliteFailureText(db_) : sqlite3_errstr(rc));
        Close();
        return error;
    }
    // Another kestrun-logbook may hold the write lock for a moment.
    sqlite3_busy_timeout(db_, 5000);
    sqlite3_extended_result_codes(db_, 1);
    return Status::Ok();
}

void Database::SetLockWait(std::chrono::milliseconds wait, std::function<void()> waiting) {
    lock_wait_ = wait;
    waiting_ = std::move(waiting);
}

Status Database::BeginImmediate() {
    using Clock = std::chrono::steady_clock;
    // SQLite's busy handler waits for the lock, but gives up at once where
    // waiting could not help within one attempt (a snapshot gone stale, a
    // WAL being recovered); the loop tries again until the wait is over.
    constexpr auto kSlice = std::chrono::milliseconds(1000);
    const auto give_up = Clock::now() + lock_wait_;
    bool told = false;
    int rc = SQLITE_BUSY;
    for (;;) {
        const auto left =
            std::chrono::duration_cast<std::chrono::milliseconds>(give_up - Clock::now());
        sqlite3_busy_timeout(
            db_, static_cast<int>(
                     std::max(std::chrono::milliseconds(0), std::min(left, kSlice)).count()));
        rc = sqlite3_exec(db_, "BEGIN IMMEDIATE", nullptr, nullptr, nullptr);
        if ((rc & 0xff) != SQLITE_BUSY && (rc & 0xff) != SQLITE_LOCKED) break;
        if (!told && waiting_) waiting_();
        told = true;
        if (Clock::now() >= give_up) break;
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
    sqlite3_busy_timeout(db_, 5000);
    if (rc == SQLITE_OK) return Status::Ok();
    if ((rc & 0xff) == SQLITE_BUSY || (rc & 0xff) == SQLITE_LOCKED) {
        return Status::Error(fmt::format(
            "another kestrun-logbook has been changing the logbook for {:g} s; nothing was "
            "changed; try again once it has finished",
            std::chrono::duration<double>(lock_wait_).count()));
    }
    return Status::Error(ErrorText());
}

void Database::Close() {
    kept_.clear();
    write_check_ = nullptr;
    write_refusal_ = Status::Ok();
    if (db_ != nullptr) sqlite3_close_v2(db_);
    db_ = nullptr;
}

void Database::CheckBeforeWriting(std::function<Status(Database&)> check) {
    write_check_ = std::move(check);
    write_refusal_ = Status::Ok();
}

Status Database::BeforeWriting(sqlite3_stmt* stmt) {
    if (sqlite3_stmt_readonly(stmt) != 0) return Status::Ok();
    if (write_check_) {
        // Taken out first: should the check itself change anything, it
        // must not come back here.
        const std::function<Status(Database&)> check = std::move(write_check_);
        write_check_ = nullptr;
        write_refusal_ = check(*this);
    }
    return write_refusal_;
}

Status Database::Exec(std::string_view sql) {
    // One statement at a time, so that each can be looked at before it runs.
    const std::string text(sql);
    const char* next = text.c_str();
    while (*next != '\0') {
        sqlite3_stmt* stmt = nullptr;
        if (sqlite3_prepare_v2(db_, next, -1, &stmt, &next) != SQLITE_OK) {
            return Status::Error(ErrorText());
        }
        if (stmt == nullptr) continue;  // blanks or a comment
        Statement statement(db_, stmt);
        Status status = BeforeWriting(stmt);
        if (status.ok()) status = statement.Run();
        if (!status.ok()) return status;
    }
    return Status::Ok();
}

Status Database::Prepare(std::string_view sql, Statement& statement) {
    sqlite3_stmt* stmt = nullptr;
    if (sqlite3_prepare_v2(db_, sql.data(), static_cast<int>(sql.size()), &stmt, nullptr) !=
        SQLITE_OK) {
        return Status::Error(ErrorText());
    }
    Statement prepared(db_, stmt);
    if (Status status = BeforeWriting(stmt); !status.ok()) return status;
    statement = std::move(prepared);
    return Status::Ok();
}

Status Database::PrepareKept(std::string_view sql, Statement*& statement) {
    auto found = kept_.find(std::string(sql));
    if (found == kept_.end()) {
        Statement fresh;
        if (Status status = Prepare(sql, fresh); !status.ok()) return status;
        found = kept_.emplace(std::string(sql), std::move(fresh)).first;
    } else {
        found->second.Reset();
    }
    statement = &found->second;
    return Status::Ok();
}

Status Database::QueryInt(std::string_view sql, std::int64_t& value) {
    Statement statement;
    Status status = Prepare(sql, statement);
    if (!status.ok()) return status;
    if (!statement.Step()) {
        return statement.status().ok() ? Status::Error("no result") : statement.status();
    }
    value = statement.Int(0);
    return Status::Ok();
}

std::string Database::ErrorText() const {
    return SqliteFailureText(db_);
}

}  // namespace kestrun
