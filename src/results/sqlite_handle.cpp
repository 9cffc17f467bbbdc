#include "results/sqlite_handle.h"

#include <cerrno>
#include <cstring>

namespace results {

// SQLite records the system's error number for few of the failures it reports (not for a
// failed COMMIT, say); for the others it is errno, cleared before each call that may do I/O.

connection::connection(const std::string &path, int flags) {
    errno = 0;
    const int rc = sqlite3_open_v2(path.c_str(), &db_, flags | SQLITE_OPEN_EXRESCODE, nullptr);
    if (rc != SQLITE_OK) {
        // A failed open still returns a handle (or none when memory ran out).
        const std::string why = db_ != nullptr ? reason() : sqlite3_errstr(rc);
        sqlite3_close_v2(db_);
        db_ = nullptr;
        throw store_error("cannot open " + path + ": " + why);
    }
}

void connection::execute(const char *sql) {
    errno = 0;
    if (sqlite3_exec(db_, sql, nullptr, nullptr, nullptr) != SQLITE_OK) {
        fail();
    }
}

std::int64_t connection::integer(const char *sql) {
    statement query(*this, sql);
    if (!query.step()) {
        throw store_error(std::string(sql) + ": no row");
    }
    return query.integer(0);
}

std::string connection::reason() const {
    std::string why = sqlite3_errmsg(db_);
    const int primary = sqlite3_errcode(db_) & 0xff;
    const int error = sqlite3_system_errno(db_) != 0 ? sqlite3_system_errno(db_) : errno;
    const bool from_the_system =
        primary == SQLITE_IOERR || primary == SQLITE_CANTOPEN || primary == SQLITE_FULL;
    if (from_the_system && error != 0) {
        why += " (";
        why += std::strerror(error);
        why += ")";
    }
    return why;
}

void connection::fail() const {
    throw store_error(reason());
}

statement::statement(const connection &db, const char *sql) : db_(db) {
    errno = 0;
    if (sqlite3_prepare_v2(db.get(), sql, -1, &stmt_, nullptr) != SQLITE_OK) {
        db.fail();
    }
}

void statement::check_bind(int rc) {
    if (rc != SQLITE_OK) {
        db_.fail();
    }
}

void statement::bind(int index, std::int64_t value) {
    check_bind(sqlite3_bind_int64(stmt_, index, value));
}

void statement::bind(int index, double value) {
    check_bind(sqlite3_bind_double(stmt_, index, value));
}

void statement::bind(int index, std::string_view text) {
    check_bind(
        sqlite3_bind_text64(stmt_, index, text.data(), text.size(), SQLITE_TRANSIENT, SQLITE_UTF8));
}

void statement::bind_null(int index) {
    check_bind(sqlite3_bind_null(stmt_, index));
}

bool statement::step() {
    errno = 0;
    const int rc = sqlite3_step(stmt_);
    if (rc == SQLITE_ROW) {
        return true;
    }
    if (rc != SQLITE_DONE) {
        db_.fail();
    }
    return false;
}

bool statement::is_null(int column) const {
    return sqlite3_column_type(stmt_, column) == SQLITE_NULL;
}

std::int64_t statement::integer(int column) const {
    return sqlite3_column_int64(stmt_, column);
}

double statement::real(int column) const {
    return sqlite3_column_double(stmt_, column);
}

std::string statement::text(int column) const {
    const auto *text = reinterpret_cast<const char *>(sqlite3_column_text(stmt_, column));
    return text != nullptr ? std::string(text, sqlite3_column_bytes(stmt_, column)) : std::string();
}

write_transaction::write_transaction(connection &db) : db_(db) {
    db_.execute("BEGIN IMMEDIATE");
}

write_transaction::~write_transaction() {
    if (open_) {
        sqlite3_exec(db_.get(), "ROLLBACK", nullptr, nullptr, nullptr);
    }
}

void write_transaction::commit() {
    db_.execute("COMMIT");
    open_ = false;
}

} // namespace results
