#include "results/sqlite_handle.h"

#include <cerrno>
#include <cstring>

namespace results {

// SQLite records the system's error number for few of the failures it reports (not for a
// failed COMMIT, say); for the others it is errno, cleared before each call that may do I/O.

connection::connection(const std::string &path, int flags) {
    errno = 0;
    const int rc = sqlite3_open_v2(path.c_str(), &handle, flags | SQLITE_OPEN_EXRESCODE, nullptr);
    if (rc != SQLITE_OK) {
        // A failed open still returns a handle (or none when memory ran out).
        const std::string why = handle != nullptr ? reason() : sqlite3_errstr(rc);
        sqlite3_close_v2(handle);
        handle = nullptr;
        throw store_error("cannot open " + path + ": " + why);
    }
}

void connection::execute(const char *sql) {
    errno = 0;
    if (sqlite3_exec(handle, sql, nullptr, nullptr, nullptr) != SQLITE_OK) {
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
    std::string why = sqlite3_errmsg(handle);
    const int primary = sqlite3_errcode(handle) & 0xff;
    const int error = sqlite3_system_errno(handle) != 0 ? sqlite3_system_errno(handle) : errno;
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

statement::statement(const connection &db, const char *sql) : owner(db) {
    errno = 0;
    if (sqlite3_prepare_v2(db.get(), sql, -1, &prepared, nullptr) != SQLITE_OK) {
        db.fail();
    }
}

void statement::check_bind(int rc) {
    if (rc != SQLITE_OK) {
        owner.fail();
    }
}

void statement::bind(int index, std::int64_t value) {
    check_bind(sqlite3_bind_int64(prepared, index, value));
}

void statement::bind(int index, double value) {
    check_bind(sqlite3_bind_double(prepared, index, value));
}

void statement::bind(int index, std::string_view text) {
    check_bind(sqlite3_bind_text64(prepared, index, text.data(), text.size(), SQLITE_TRANSIENT,
                                   SQLITE_UTF8));
}

void statement::bind_null(int index) {
    check_bind(sqlite3_bind_null(prepared, index));
}

bool statement::step() {
    errno = 0;
    const int rc = sqlite3_step(prepared);
    if (rc == SQLITE_ROW) {
        return true;
    }
    if (rc != SQLITE_DONE) {
        owner.fail();
    }
    return false;
}

bool statement::is_null(int column) const {
    return sqlite3_column_type(prepared, column) == SQLITE_NULL;
}

std::int64_t statement::integer(int column) const {
    return sqlite3_column_int64(prepared, column);
}

double statement::real(int column) const {
    return sqlite3_column_double(prepared, column);
}

std::string statement::text(int column) const {
    const auto *text = reinterpret_cast<const char *>(sqlite3_column_text(prepared, column));
    return text != nullptr ? std::string(text, sqlite3_column_bytes(prepared, column))
                           : std::string();
}

write_transaction::write_transaction(connection &db) : owner(db) {
    owner.execute("BEGIN IMMEDIATE");
}

write_transaction::~write_transaction() {
    if (pending) {
        sqlite3_exec(owner.get(), "ROLLBACK", nullptr, nullptr, nullptr);
    }
}

void write_transaction::commit() {
    owner.execute("COMMIT");
    pending = false;
}

} // namespace results
