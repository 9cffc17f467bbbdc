#include "results/store_open.h"

#include "results/results_store.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <array>
#include <cerrno>
#include <chrono>
#include <cstdio>
#include <cstring>
#include <iterator>

namespace results {

namespace {

// PRAGMA application_id of our stores ("Tess"), which tells them from other SQLite files.
constexpr std::int64_t application_id = 0x54657373;

// A save holds the write lock for milliseconds; waiting this long for it covers any number of
// front ends finishing at once, and still ends if another program keeps the file locked.
constexpr std::chrono::milliseconds busy_timeout{10000};

// migrations[v] brings a store from schema v to v + 1, inside one transaction. Published
// entries never change: a later schema adds an entry.
constexpr std::array<const char *, 1> migrations = {
    // 1: one row per result, its summary in columns and its whole JSON report beside them.
    "CREATE TABLE results ("
    " id INTEGER PRIMARY KEY,"
    " recorded_at TEXT NOT NULL,"
    " program TEXT NOT NULL,"
    " version TEXT NOT NULL,"
    " engine_version TEXT NOT NULL,"
    " simd_path TEXT NOT NULL,"
    " cpu_model TEXT NOT NULL,"
    " physical_cores INTEGER NOT NULL,"
    " logical_cores INTEGER NOT NULL,"
    " cpu_mhz INTEGER NOT NULL,"
    " memory_mb INTEGER NOT NULL,"
    " os_name TEXT NOT NULL,"
    " kernel_release TEXT NOT NULL,"
    " architecture TEXT NOT NULL,"
    " machine_valid INTEGER NOT NULL,"
    " machine_error TEXT NOT NULL,"
    " digits INTEGER NOT NULL,"
    " runs INTEGER NOT NULL,"
    " threads INTEGER NOT NULL,"
    " success INTEGER NOT NULL,"
    " error_message TEXT NOT NULL,"
    " computed_digits INTEGER NOT NULL,"
    " verified_digits INTEGER NOT NULL,"
    " score REAL NOT NULL,"
    " time_seconds REAL NOT NULL,"
    " wall_seconds REAL NOT NULL,"
    " spread_min_seconds REAL NOT NULL,"
    " spread_median_seconds REAL NOT NULL,"
    " spread_max_seconds REAL NOT NULL,"
    " spread_relative REAL NOT NULL,"
    " multi_core_score REAL,"
    " scaling_efficiency REAL,"
    " report TEXT NOT NULL"
    ") STRICT;"
    "CREATE INDEX results_newest ON results (recorded_at DESC, id DESC);"
    "CREATE INDEX results_comparable ON results (version, simd_path, cpu_model, digits, runs);",
};
static_assert(migrations.size() == results_schema_version);

enum class verdict { ours, newer, empty, damaged, foreign };

struct examination {
    verdict kind;
    std::int64_t schema = 0;
    std::string why; // for a damaged or foreign file
};

// What the file at the connection is. quick_check reads every page but skips the costly
// index cross-checks: cheap for a store of this size, and it finds damage before we write.
examination examine(connection &db) {
    std::int64_t id = 0;
    std::int64_t schema = 0;
    std::int64_t objects = 0;
    try {
        statement check(db, "PRAGMA quick_check(1)");
        if (check.step() && check.text(0) != "ok") {
            return {verdict::damaged, 0, check.text(0)};
        }
        id = db.integer("PRAGMA application_id");
        schema = db.integer("PRAGMA user_version");
        objects = db.integer("SELECT count(*) FROM sqlite_schema");
    } catch (const store_error &) {
        const int primary = sqlite3_errcode(db.get()) & 0xff;
        if (primary == SQLITE_CORRUPT) {
            return {verdict::damaged, 0, db.reason()};
        }
        if (primary == SQLITE_NOTADB) {
            return {verdict::foreign, 0, db.reason()};
        }
        throw;
    }
    if (id == application_id) {
        return {schema > results_schema_version ? verdict::newer : verdict::ours, schema, {}};
    }
    if (id == 0 && schema == 0 && objects == 0) {
        return {verdict::empty, 0, {}};
    }
    return {verdict::foreign, 0, "an SQLite database of another program"};
}

std::string utc_text(std::time_t when, const char *format) {
    std::tm parts{};
    gmtime_r(&when, &parts);
    char text[32];
    std::strftime(text, sizeof text, format, &parts);
    return text;
}

std::string system_reason(const std::string &what) {
    return what + ": " + std::strerror(errno);
}

// Creates `dir` and its missing parents, private to the user as the XDG rules ask.
void make_directories(const std::string &dir) {
    for (std::size_t end = dir.find('/', 1);; end = dir.find('/', end + 1)) {
        const std::string prefix = dir.substr(0, end);
        if (mkdir(prefix.c_str(), 0700) != 0 && errno != EEXIST) {
            throw store_error(system_reason("cannot create the directory " + prefix));
        }
        if (end == std::string::npos) {
            return;
        }
    }
}

// The database and its write-ahead log are created beside each other. SQLite's own failure
// here would name the read-only retry it makes after the refusal, not the refusal.
void check_directory_writable(const std::string &dir) {
    if (faccessat(AT_FDCWD, dir.c_str(), W_OK | X_OK, AT_EACCESS) != 0) {
        throw store_error(system_reason("cannot write in the directory " + dir));
    }
}

std::string parent_of(const std::string &path) {
    const std::size_t slash = path.rfind('/');
    if (slash == std::string::npos) {
        return ".";
    }
    return slash == 0 ? std::string("/") : path.substr(0, slash);
}

bool exists(const std::string &path) {
    struct stat status;
    return lstat(path.c_str(), &status) == 0;
}

bool same_file(const struct stat &a, const struct stat &b) {
    return a.st_dev == b.st_dev && a.st_ino == b.st_ino;
}

// The companions SQLite keeps beside a database. They go with it: left behind, an old
// write-ahead log or journal would be replayed into the new store.
constexpr std::array<const char *, 3> companions = {"-wal", "-shm", "-journal"};

// Moves `path` and its companions to a name of their own, never over an existing file.
std::string move_aside(const std::string &path, const char *label) {
    const std::string base =
        path + "." + label + "-" + utc_text(std::time(nullptr), "%Y%m%dT%H%M%SZ");
    std::string target = base;
    for (int n = 2;
         renameat2(AT_FDCWD, path.c_str(), AT_FDCWD, target.c_str(), RENAME_NOREPLACE) != 0; ++n) {
        if (errno != EEXIST) {
            throw store_error(system_reason("cannot move " + path + " aside"));
        }
        target = base + "-" + std::to_string(n);
    }
    for (const char *suffix : companions) {
        const std::string from = path + suffix;
        if (exists(from) && renameat2(AT_FDCWD, from.c_str(), AT_FDCWD, (target + suffix).c_str(),
                                      RENAME_NOREPLACE) != 0) {
            throw store_error(system_reason("cannot move " + from + " aside"));
        }
    }
    return target;
}

void append(std::string &notice, const std::string &line) {
    notice += notice.empty() ? "" : "; ";
    notice += line;
}

// The write-ahead log lets readers go on while one process saves; the mode stays with the
// file. Switching to it needs the file to itself, and SQLite returns at once rather than
// wait in the busy handler when another process has it open: processes creating the store
// at once wait here instead. (Some file systems cannot share the log's index: SQLite then
// keeps its rollback journal, and the busy timeout still serialises the writers.)
void use_write_ahead_log(connection &db) {
    const auto give_up = std::chrono::steady_clock::now() + busy_timeout;
    for (;;) {
        try {
            db.execute("PRAGMA journal_mode = WAL");
            return;
        } catch (const store_error &) {
            const bool busy = (sqlite3_errcode(db.get()) & 0xff) == SQLITE_BUSY;
            if (!busy || std::chrono::steady_clock::now() > give_up) {
                throw;
            }
        }
        sqlite3_sleep(5);
    }
}

// Brings the store to this build's schema. The version is read again inside the write
// transaction, so that processes opening a new store at once create it exactly once.
void migrate(connection &db) {
    use_write_ahead_log(db);
    write_transaction transaction(db);
    const std::int64_t schema = db.integer("PRAGMA user_version");
    if (schema >= results_schema_version) {
        return;
    }
    for (std::int64_t version = schema; version < results_schema_version; ++version) {
        db.execute(migrations[version]);
    }
    // PRAGMAs take no parameters: both values are this build's own constants.
    db.execute(("PRAGMA application_id = " + std::to_string(application_id)).c_str());
    db.execute(("PRAGMA user_version = " + std::to_string(results_schema_version)).c_str());
    transaction.commit();
}

std::unique_ptr<connection> connect(const std::string &path, purpose why) {
    const int flags =
        why == purpose::write ? SQLITE_OPEN_READWRITE | SQLITE_OPEN_CREATE : SQLITE_OPEN_READWRITE;
    auto db = std::make_unique<connection>(path, flags);
    sqlite3_busy_timeout(db->get(), static_cast<int>(busy_timeout.count()));
    return db;
}

// Closes the connection to a file about to be moved, without writing its log into it.
void close_untouched(std::unique_ptr<connection> db) {
    sqlite3_db_config(db->get(), SQLITE_DBCONFIG_NO_CKPT_ON_CLOSE, 1, nullptr);
}

} // namespace

std::string utc_timestamp(std::time_t when) {
    return utc_text(when, "%Y-%m-%dT%H:%M:%SZ");
}

opened_store open_store(const std::string &path, purpose why, std::string &notice) {
    // A file moved aside is followed by a fresh start; a second bad file in a row means
    // something keeps writing there, and we stop rather than move files forever.
    for (int attempt = 0; attempt < 2; ++attempt) {
        struct stat found {};
        if (stat(path.c_str(), &found) != 0) {
            if (errno != ENOENT) {
                throw store_error(system_reason("cannot open " + path));
            }
            if (why == purpose::read) {
                return {};
            }
            make_directories(parent_of(path));
        }
        if (why == purpose::write) {
            check_directory_writable(parent_of(path));
        }
        std::unique_ptr<connection> db = connect(path, why);
        stat(path.c_str(), &found); // the file examined, known again before it is moved
        const examination state = examine(*db);
        switch (state.kind) {
        case verdict::newer:
            append(notice, path + " was written by a newer Tessary (store schema " +
                               std::to_string(state.schema) + ", this one knows " +
                               std::to_string(results_schema_version) +
                               "): it is read but not changed");
            return {std::move(db), true};
        case verdict::empty:
            if (why == purpose::read) {
                return {};
            }
            [[fallthrough]];
        case verdict::ours:
            if (state.schema < results_schema_version) {
                migrate(*db);
            }
            return {std::move(db), false};
        case verdict::damaged:
        case verdict::foreign:
            break;
        }
        close_untouched(std::move(db));
        // Another process may have moved it and started anew meanwhile: then look again.
        struct stat now;
        if (stat(path.c_str(), &now) == 0 && same_file(found, now)) {
            const bool damaged = state.kind == verdict::damaged;
            const std::string target = move_aside(path, damaged ? "damaged" : "foreign");
            append(notice, path +
                               (damaged ? " was damaged (" : " was not a Tessary results store (") +
                               state.why + "): moved to " + target + ", and a new store started");
        }
    }
    throw store_error(path + " is replaced by unusable files again and again");
}

void check_writable(const opened_store &store, const std::string &path) {
    if (store.newer_schema) {
        throw store_error(path + " belongs to a newer Tessary");
    }
}

} // namespace results
