#pragma once
// A thin owner of an SQLite connection and its prepared statements. Errors
// come back as Status with SQLite's own words, never as exceptions.

#include <sqlite3.h>

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <unordered_map>

#include "platform/status.h"

namespace kestrun {

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

    Status Exec(std::string_view sql);
    // Fails with the statement's text in the message when SQL is wrong.
    Status Prepare(std::string_view sql, Statement& statement);
    // The same, for statements run once a flight or a file, whose parsing
    // would otherwise cost more than running them: prepared once and kept
    // while the database is open; `statement` points at it, reset.
    Status PrepareKept(std::string_view sql, Statement*& statement);
    // The first column of the first row of a query, or an error.
    Status QueryInt(std::string_view sql, std::int64_t& value);
    std::int64_t LastInsertId() const { return sqlite3_last_insert_rowid(db_); }
    std::string ErrorText() const;

  private:
    sqlite3* db_ = nullptr;
    std::unordered_map<std::string, Statement> kept_;
};

}  // namespace kestrun
