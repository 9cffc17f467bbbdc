#include "results/results_store.h"

#include "results/store_open.h"

#include <nlohmann/json.hpp>

#include <pwd.h>
#include <unistd.h>

#include <algorithm>
#include <cctype>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <new>
#include <string_view>
#include <vector>

using results::connection;
using results::opened_store;
using results::purpose;
using results::statement;
using results::store_error;

namespace {

// A fixed-size text of the row, up to its NUL or its end.
template <std::size_t size> std::string_view text_of(const char (&text)[size]) {
    return {text, strnlen(text, size)};
}

// Copies `text` into a fixed-size field, cut before a UTF-8 sequence that does not fit.
template <std::size_t size> void copy_text(char (&field)[size], std::string_view text) {
    std::size_t length = text.size();
    if (length >= size) {
        length = size - 1;
        while (length > 0 && (static_cast<unsigned char>(text[length]) & 0xc0) == 0x80) {
            --length;
        }
    }
    std::memcpy(field, text.data(), length);
    field[length] = '\0';
}

// Every column of a row but its id, in one order, for saving and for reading: `visit` is
// called with each column's name and the row's field.
template <typename Row, typename Visit> void each_column(Row &row, Visit &&visit) {
    visit("recorded_at", row.recorded_at);
    visit("program", row.program);
    visit("version", row.version);
    visit("engine_version", row.engine_version);
    visit("simd_path", row.simd_path);
    visit("cpu_model", row.machine.cpu_model);
    visit("physical_cores", row.machine.physical_cores);
    visit("logical_cores", row.machine.logical_cores);
    visit("cpu_mhz", row.machine.cpu_mhz);
    visit("memory_mb", row.machine.memory_mb);
    visit("os_name", row.machine.os_name);
    visit("kernel_release", row.machine.kernel_release);
    visit("architecture", row.machine.architecture);
    visit("machine_valid", row.machine.valid);
    visit("machine_error", row.machine.error_message);
    visit("digits", row.digits);
    visit("runs", row.runs);
    visit("threads", row.threads);
    visit("success", row.success);
    visit("error_message", row.error_message);
    visit("computed_digits", row.computed_digits);
    visit("verified_digits", row.verified_digits);
    visit("score", row.score);
    visit("time_seconds", row.time_seconds);
    visit("wall_seconds", row.wall_seconds);
    visit("spread_min_seconds", row.spread_min_seconds);
    visit("spread_median_seconds", row.spread_median_seconds);
    visit("spread_max_seconds", row.spread_max_seconds);
    visit("spread_relative", row.spread_relative);
    // NULL unless a multi-core part was measured.
    visit("multi_core_score", row.multi_core_score, row.multi_core_measured);
    visit("scaling_efficiency", row.scaling_efficiency, row.multi_core_measured);
}

// "recorded_at, program, ...": the row's columns in each_column's order.
std::string column_names() {
    std::string names;
    results_row row{};
    each_column(row, [&](const char *name, auto &&...) {
        names.append(names.empty() ? "" : ", ").append(name);
    });
    return names;
}

std::string placeholders(int count) {
    std::string marks = "?";
    for (int i = 1; i < count; ++i) {
        marks += ", ?";
    }
    return marks;
}

struct column_binder {
    statement &insert;
    int index = 1;

    template <std::size_t size> void operator()(const char *, const char (&text)[size]) {
        insert.bind(index++, text_of(text));
    }
    void operator()(const char *, std::int32_t value) {
        insert.bind(index++, static_cast<std::int64_t>(value));
    }
    void operator()(const char *, std::int64_t value) { insert.bind(index++, value); }
    void operator()(const char *, double value) { insert.bind(index++, value); }
    void operator()(const char *, double value, std::int32_t measured) {
        if (measured != 0) {
            insert.bind(index++, value);
        } else {
            insert.bind_null(index++);
        }
    }
};

struct column_reader {
    const statement &row;
    int column = 1; // after the id

    template <std::size_t size> void operator()(const char *, char (&text)[size]) {
        copy_text(text, row.text(column++));
    }
    void operator()(const char *, std::int32_t &value) {
        value = static_cast<std::int32_t>(row.integer(column++));
    }
    void operator()(const char *, std::int64_t &value) { value = row.integer(column++); }
    void operator()(const char *, double &value) { value = row.real(column++); }
    void operator()(const char *, double &value, std::int32_t &measured) {
        measured = row.is_null(column) ? 0 : 1;
        value = row.real(column++);
    }
};

const std::string &insert_sql() {
    static const std::string sql = [] {
        int count = 1; // the report
        results_row row{};
        each_column(row, [&](auto &&...) { ++count; });
        return "INSERT INTO results (" + column_names() + ", report) VALUES (" +
               placeholders(count) + ")";
    }();
    return sql;
}

const std::string &select_sql() {
    static const std::string sql =
        "SELECT id, " + column_names() + " FROM results ORDER BY recorded_at DESC, id DESC";
    return sql;
}

// "2026-12-07T10:11:12Z": the one form recorded_at takes, so that text order is time order.
bool is_utc_timestamp(std::string_view text) {
    constexpr std::string_view form = "dddd-dd-ddTdd:dd:ddZ";
    if (text.size() != form.size()) {
        return false;
    }
    for (std::size_t i = 0; i < form.size(); ++i) {
        const bool digit = std::isdigit(static_cast<unsigned char>(text[i])) != 0;
        if (form[i] == 'd' ? !digit : text[i] != form[i]) {
            return false;
        }
    }
    return true;
}

// The report must be a whole JSON object of schema 1: a cut or foreign text is refused
// rather than kept as if it could be read back.
void check_report(const char *report_json) {
    if (report_json == nullptr) {
        throw store_error("no report");
    }
    const nlohmann::json report = nlohmann::json::parse(report_json, nullptr, false);
    if (!report.is_object() || report.value("schema", 0) != 1) {
        throw store_error("the report is not a JSON object of schema 1");
    }
}

// Messages are one line: SQLite's reports (quick_check's, for one) may span several.
void set_message(results_message *message, std::string text) {
    if (message != nullptr) {
        std::replace(text.begin(), text.end(), '\n', ' ');
        copy_text(message->text, text);
    }
}

// Runs `work` with a notice to fill, and leaves in `message` what the user should hear: the
// notice, then `failure` and the reason if `work` failed. Nothing escapes to the C caller.
template <typename Work> bool guarded(results_message *message, const char *failure, Work &&work) {
    std::string notice;
    std::string problem;
    try {
        work(notice);
    } catch (const store_error &error) {
        problem = error.what();
    } catch (const std::bad_alloc &) {
        problem = "Memory allocation failed";
    } catch (const std::exception &error) {
        problem = error.what();
    }
    if (!problem.empty()) {
        notice += notice.empty() ? "" : "; ";
        notice += failure + problem;
    }
    set_message(message, notice);
    return problem.empty();
}

opened_store open_for(const char *path, purpose why, std::string &notice) {
    if (path == nullptr || *path == '\0') {
        throw store_error("no path");
    }
    return results::open_store(path, why, notice);
}

// An absolute directory from the environment, or empty: the XDG rules ignore relative ones.
std::string absolute_from(const char *variable, std::string &notice) {
    const char *value = std::getenv(variable);
    if (value == nullptr || *value == '\0') {
        return {};
    }
    if (*value != '/') {
        notice = std::string(variable) + " is not an absolute path ('" + value + "'): ignored";
        return {};
    }
    return value;
}

std::string home_directory(std::string &notice) {
    if (std::string home = absolute_from("HOME", notice); !home.empty()) {
        return home;
    }
    const passwd *user = getpwuid(getuid());
    if (user != nullptr && user->pw_dir != nullptr && user->pw_dir[0] == '/') {
        return user->pw_dir;
    }
    throw store_error("no home directory to keep the results in (HOME is not set)");
}

} // namespace

extern "C" int results_default_path(char *path, size_t size, results_message *message) {
    return guarded(message, "", [&](std::string &notice) {
        std::string data = absolute_from("XDG_DATA_HOME", notice);
        if (data.empty()) {
            data = home_directory(notice) + "/.local/share";
        }
        const std::string file = data + "/tessary/results.sqlite";
        if (path == nullptr || file.size() >= size) {
            throw store_error("the results' path is too long: " + file);
        }
        std::memcpy(path, file.c_str(), file.size() + 1);
    });
}

extern "C" int results_save(const char *path, const results_row *row, const char *report_json,
                            int64_t *id, results_message *message) {
    return guarded(message, "result not saved: ", [&](std::string &notice) {
        if (row == nullptr) {
            throw store_error("no result");
        }
        check_report(report_json);
        results_row stamped = *row;
        if (stamped.recorded_at[0] == '\0') {
            copy_text(stamped.recorded_at, results::utc_timestamp(std::time(nullptr)));
        } else if (!is_utc_timestamp(text_of(stamped.recorded_at))) {
            throw store_error("not a UTC time: " + std::string(text_of(stamped.recorded_at)));
        }
        opened_store store = open_for(path, purpose::write, notice);
        results::check_writable(store, path);
        connection &db = *store.db;
        results::write_transaction transaction(db);
        statement insert(db, insert_sql().c_str());
        column_binder binder{insert};
        each_column(stamped, binder);
        insert.bind(binder.index, report_json);
        insert.step();
        const std::int64_t saved = sqlite3_last_insert_rowid(db.get());
        transaction.commit();
        if (id != nullptr) {
            *id = saved;
        }
    });
}

extern "C" int results_list(const char *path, results_row **rows, size_t *count,
                            results_message *message) {
    if (rows == nullptr || count == nullptr) {
        set_message(message, "results not read: nowhere to put them");
        return 0;
    }
    *rows = nullptr;
    *count = 0;
    return guarded(message, "results not read: ", [&](std::string &notice) {
        opened_store store = open_for(path, purpose::read, notice);
        if (store.db == nullptr) {
            return;
        }
        std::vector<results_row> found;
        statement query(*store.db, select_sql().c_str());
        while (query.step()) {
            results_row &row = found.emplace_back();
            row.id = query.integer(0);
            each_column(row, column_reader{query});
        }
        if (found.empty()) {
            return;
        }
        auto *copy = static_cast<results_row *>(std::malloc(found.size() * sizeof(results_row)));
        if (copy == nullptr) {
            throw std::bad_alloc();
        }
        std::memcpy(copy, found.data(), found.size() * sizeof(results_row));
        *rows = copy;
        *count = found.size();
    });
}

extern "C" char *results_report(const char *path, int64_t id, results_message *message) {
    char *report = nullptr;
    guarded(message, "report not read: ", [&](std::string &notice) {
        opened_store store = open_for(path, purpose::read, notice);
        if (store.db == nullptr) {
            throw store_error("no result with id " + std::to_string(id));
        }
        statement query(*store.db, "SELECT report FROM results WHERE id = ?");
        query.bind(1, static_cast<std::int64_t>(id));
        if (!query.step()) {
            throw store_error("no result with id " + std::to_string(id));
        }
        const std::string text = query.text(0);
        report = static_cast<char *>(std::malloc(text.size() + 1));
        if (report == nullptr) {
            throw std::bad_alloc();
        }
        std::memcpy(report, text.c_str(), text.size() + 1);
    });
    return report;
}

extern "C" int results_delete(const char *path, int64_t id, results_message *message) {
    return guarded(message, "result not deleted: ", [&](std::string &notice) {
        opened_store store = open_for(path, purpose::read, notice);
        if (store.db == nullptr) {
            throw store_error("no result with id " + std::to_string(id));
        }
        results::check_writable(store, path);
        results::write_transaction transaction(*store.db);
        statement remove(*store.db, "DELETE FROM results WHERE id = ?");
        remove.bind(1, static_cast<std::int64_t>(id));
        remove.step();
        if (sqlite3_changes(store.db->get()) == 0) {
            throw store_error("no result with id " + std::to_string(id));
        }
        transaction.commit();
    });
}
