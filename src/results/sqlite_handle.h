// Owning wrappers for an SQLite connection, a prepared statement and a transaction, so that
// no path leaks one. Every failure throws store_error with SQLite's reason in one line.
#ifndef TESSARY_RESULTS_SQLITE_HANDLE_H
#define TESSARY_RESULTS_SQLITE_HANDLE_H

#include <sqlite3.h>

#include <cstdint>
#include <stdexcept>
#include <string>
#include <string_view>

namespace results {

struct store_error : std::runtime_error {
    using std::runtime_error::runtime_error;
};

class connection {
  public:
    // Opens `path` with the sqlite3_open_v2 `flags`.
    connection(const std::string &path, int flags);
    ~connection() { sqlite3_close_v2(handle); }
    connection(const connection &) = delete;
    connection &operator=(const connection &) = delete;

    sqlite3 *get() const { return handle; }
    // Runs statements that take no parameters and return no rows.
    void execute(const char *sql);
    // The first column of the first row of a statement without parameters.
    std::int64_t integer(const char *sql);
    // What went wrong in the last call, with the system's reason where there was one:
    // "disk I/O error (File too large)".
    std::string reason() const;
    [[noreturn]] void fail() const;

  private:
    sqlite3 *handle = nullptr;
};

class statement {
  public:
    statement(const connection &db, const char *sql);
    ~statement() { sqlite3_finalize(prepared); }
    statement(const statement &) = delete;
    statement &operator=(const statement &) = delete;

    // Parameters count from 1, columns from 0, as in SQLite.
    void bind(int index, std::int64_t value);
    void bind(int index, double value);
    void bind(int index, std::string_view text);
    void bind_null(int index);
    // Runs to the next row: true while there is one.
    bool step();

    bool is_null(int column) const;
    std::int64_t integer(int column) const;
    double real(int column) const;
    std::string text(int column) const;

  private:
    void check_bind(int rc);

    const connection &owner;
    sqlite3_stmt *prepared = nullptr;
};

// BEGIN IMMEDIATE takes the write lock at once, so that a concurrent writer waits in the busy
// timeout rather than failing when its read turns into a write. Rolled back unless committed.
class write_transaction {
  public:
    explicit write_transaction(connection &db);
    ~write_transaction();
    write_transaction(const write_transaction &) = delete;
    write_transaction &operator=(const write_transaction &) = delete;

    void commit();

  private:
    connection &owner;
    bool pending = true;
};

} // namespace results

#endif
