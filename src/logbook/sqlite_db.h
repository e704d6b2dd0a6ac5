#pragma once
// A thin owner of an SQLite connection and its prepared statements. Errors
// come back as Status with SQLite's own words, never as exceptions.

#include <sqlite3.h>

#include <chrono>
#include <cstdint>
#include <functional>
#include <optional>
#include <string>
#include <string_view>
#include <unordered_map>

#include "platform/status.h"

namespace kestrun {

// Words for a failed call on `db` (extended result codes on): "the disk is
// full" for SQLITE_FULL or an I/O error whose cause was a full disk or quota,
// the system's words for other I/O errors, else SQLite's message.
std::string SqliteFailureText(sqlite3* db);

class Statement {
  public:
    Statement() = default;
    Statement(sqlite3* db, sqlite3_stmt* stmt) : db_(db), stmt_(stmt) {}
    Statement(Statement&& other) noexcept;
    Statement& operator=(Statement&& other) noexcept;
    Statement(const Statement&) = delete;
    Statement& operator=(const Statement&) = delete;
    ~Statement();

    // Parameters count from 1, as in SQL.
    Statement& Bind(int index, std::int64_t value);
    Statement& Bind(int index, double value);
    Statement& Bind(int index, std::string_view text);
    Statement& Bind(int index, std::nullopt_t);
    template <typename T>
    Statement& Bind(int index, const std::optional<T>& value) {
        return value ? Bind(index, *value) : Bind(index, std::nullopt);
    }

    // True while there is a row; false at the end or on an error, which
    // status() then holds.
    bool Step();
    // Runs to the end; for statements that return no rows.
    Status Run();
    // Ready for new parameters.
    void Reset();
    Status status() const { return status_; }

    bool IsNull(int column) const;
    std::int64_t Int(int column) const;
    double Real(int column) const;
    std::string Text(int column) const;
    std::optional<std::int64_t> OptInt(int column) const;
    std::optional<double> OptReal(int column) const;

  private:
    sqlite3* db_ = nullptr;
    sqlite3_stmt* stmt_ = nullptr;
    Status status_;
};

class Database {
  public:
    Database() = default;
    Database(const Database&) = delete;
    Database& operator=(const Database&) = delete;
    ~Database();

    // `flags` as for sqlite3_open_v2.
    Status Open(const std::string& path, int flags);
    void Close();
    bool is_open() const { return db_ != nullptr; }

    // While another connection (another kestrun-logbook) holds the write
    // lock, BeginImmediate waits up to `wait` for it, calling `waiting` once
    // when it starts to wait. The default suits a person at a terminal.
    void SetLockWait(std::chrono::milliseconds wait, std::function<void()> waiting = {});
    // BEGIN IMMEDIATE: takes the write lock now, so that nothing written can
    // later fail for want of it. Past the wait it fails in words.
    Status BeginImmediate();

    // Runs `check` once, before the first statement that would change the
    // database (BeginImmediate only takes the lock and does not count). A
    // check that fails refuses that statement and every later change, with
    // its words; what only reads never waits for it.
    void CheckBeforeWriting(std::function<Status(Database&)> check);
    // Ok, or the failed check's words once changes are refused.
    const Status& write_refusal() const { return write_refusal_; }

    Status Exec(std::string_view sql);
    // Fails with the statement's text in the message when SQL is wrong.
    Status Prepare(std::string_view sql, Statement& statement);
    // The same, for statements run once a flight or a file, whose parsing
    // would otherwise cost more than running them: prepared once and kept
    // while the database is open; `statement` points at it, reset.
    Status PrepareKept(std::string_view sql, Statement*& statement);
    // The first column of the first row of a query, or an error.
    Status QueryInt(std::string_view sql, std::int64_t& value);
    // False once a transaction has ended, also when SQLite ended it itself
    // (as it may on a full disk).
    bool InTransaction() const { return db_ != nullptr && sqlite3_get_autocommit(db_) == 0; }
    // The extended result code of the last failure.
    int ErrorCode() const { return db_ != nullptr ? sqlite3_extended_errcode(db_) : SQLITE_MISUSE; }
    std::int64_t LastInsertId() const { return sqlite3_last_insert_rowid(db_); }
    // The last failure in words; a full disk and other failures of the
    // system are told as such rather than in SQLite's words.
    std::string ErrorText() const;

  private:
    sqlite3* db_ = nullptr;
    std::chrono::milliseconds lock_wait_ = std::chrono::minutes(5);
    std::function<void()> waiting_;
    std::unordered_map<std::string, Statement> kept_;
    // Before the first change: runs the check still to run; Ok, or why
    // changes are refused.
    Status BeforeWriting(sqlite3_stmt* stmt);
    std::function<Status(Database&)> write_check_;
    Status write_refusal_;
};

}  // namespace kestrun
