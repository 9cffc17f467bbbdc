// --history and --delete: the saved results as a table or as a JSON array of their reports.
#include "cli/console.h"
#include "cli/exit_status.h"
#include "cli/saved_results.h"
#include "report/number_style.h"
#include "results/report_history.h"

#include <nlohmann/json.hpp>

#include <algorithm>
#include <cmath>
#include <cstdlib>
#include <memory>
#include <string>
#include <vector>

namespace {

struct free_deleter {
    void operator()(void *p) const noexcept { std::free(p); }
};

// The saved results, newest first, or an error said on standard error.
struct saved_list {
    std::string path;
    std::unique_ptr<results_row, free_deleter> rows;
    std::size_t count = 0;
    bool read = false;
};

// The store's path, or empty after saying why there is none.
std::string store_path(console &out) {
    std::string why;
    std::string path = default_results_path(why);
    if (path.empty()) {
        out.error("no saved results: " + why);
    }
    return path;
}

saved_list read_saved(console &out) {
    saved_list list;
    list.path = store_path(out);
    if (list.path.empty()) {
        return list;
    }
    results_row *rows = nullptr;
    results_message message{};
    list.read = results_list(list.path.c_str(), &rows, &list.count, &message) != 0;
    list.rows.reset(rows);
    if (message.text[0] != '\0') {
        out.error(message.text);
    }
    return list;
}

// "2026-12-09 22:41:07" from "2026-12-09T22:41:07Z".
std::string date_text(const results_row &row) {
    std::string date = row.recorded_at;
    std::replace(date.begin(), date.end(), 'T', ' ');
    if (date.ends_with('Z')) {
        date.pop_back();
    }
    return date;
}

// A stress run saves no count of runs: it ran until its time was up.
bool is_stress(const results_row &row) {
    return row.runs == 0;
}

std::string measured_text(const results_row &row) {
    std::string text = row.runs == 1    ? counted(row.digits, "digit", "digits")
                       : is_stress(row) ? "stress, " + counted(row.digits, "digit", "digits")
                                        : std::string("benchmark");
    if (row.threads > 1) {
        text += ", " + counted(row.threads, "thread", "threads");
    }
    return text;
}

std::string outcome_text(const results_row &row) {
    if (row.success == 0) {
        return std::string("failed: ") + row.error_message;
    }
    return row.verified_digits > 0 ? "verified" : "too few digits to verify";
}

using table_row = std::vector<std::string>;

table_row line_of(const results_row &row) {
    const bool scored = row.success != 0 && !is_stress(row);
    return {std::to_string(row.id),
            date_text(row),
            measured_text(row),
            scored ? grouped(std::llround(row.score)) : "-",
            scored ? seconds_text(row.time_seconds) : "-",
            row.simd_path,
            row.version,
            outcome_text(row)};
}

// Columns padded to their widest cell, numbers to the right; the last one is not padded.
std::string table_text(const std::vector<table_row> &rows) {
    constexpr bool right_aligned[] = {true, false, false, true, true, false, false, false};
    std::vector<std::size_t> widths(rows.front().size(), 0);
    for (const table_row &row : rows) {
        for (std::size_t i = 0; i < row.size(); ++i) {
            widths[i] = std::max(widths[i], row[i].size());
        }
    }
    std::string text;
    for (const table_row &row : rows) {
        for (std::size_t i = 0; i < row.size(); ++i) {
            const std::string padding(widths[i] - row[i].size(), ' ');
            const bool last = i + 1 == row.size();
            text += right_aligned[i] ? padding + row[i] : last ? row[i] : row[i] + padding;
            text += last ? "\n" : "  ";
        }
    }
    return text;
}

std::string history_text(const saved_list &list) {
    if (list.count == 0) {
        return "No results saved yet in " + list.path + "\n";
    }
    std::vector<table_row> rows{{"ID", "Date (UTC)", "Measured", "Score", "Processor time",
                                 "Kernels", "Version", "Outcome"}};
    for (std::size_t i = 0; i < list.count; ++i) {
        rows.push_back(line_of(list.rows.get()[i]));
    }
    return table_text(rows) + "Saved in " + list.path + "; --delete ID removes one\n";
}

// The saved report of `row` with its id, as the save gave it.
std::string saved_report(const std::string &path, const results_row &row, console &out) {
    results_message message{};
    const std::unique_ptr<char, free_deleter> text(results_report(path.c_str(), row.id, &message));
    nlohmann::json report =
        text ? nlohmann::json::parse(text.get(), nullptr, false) : nlohmann::json();
    if (!report.is_object()) {
        out.error("result " + std::to_string(row.id) +
                  " left out: " + (text ? "its saved report is not JSON" : message.text));
        return "";
    }
    report["saved"] = 1;
    report["result_id"] = row.id;
    return report.dump(-1, ' ', false, nlohmann::json::error_handler_t::replace);
}

// One report a line, in an array: a valid JSON document, [] for an empty store.
void print_history_json(const saved_list &list, console &out) {
    out.print("[");
    bool first = true;
    for (std::size_t i = 0; i < list.count; ++i) {
        const std::string report = saved_report(list.path, list.rows.get()[i], out);
        if (!report.empty()) {
            out.print((first ? "\n" : ",\n") + report);
            first = false;
        }
    }
    out.print(first ? "]\n" : "\n]\n");
}

} // namespace

int history_mode(bool json, console &out) {
    const saved_list list = read_saved(out);
    if (!list.read) {
        return out.close(exit_failed);
    }
    if (json) {
        print_history_json(list, out);
    } else {
        out.print(history_text(list));
    }
    return out.close(exit_success);
}

int delete_mode(long long id, console &out) {
    const std::string path = store_path(out);
    if (path.empty()) {
        return out.close(exit_failed);
    }
    results_message message{};
    if (results_delete(path.c_str(), id, &message) == 0) {
        out.error(message.text);
        return out.close(exit_failed);
    }
    out.print("Deleted result " + std::to_string(id) + " from " + path + "\n");
    return out.close(exit_success);
}
