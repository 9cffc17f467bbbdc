#include "results/report_history.h"

#include "report/json_report.h"

#include <cstdio>
#include <cstdlib>
#include <memory>

namespace {

template <std::size_t size> void copy_text(char (&field)[size], const std::string &text) {
    std::snprintf(field, size, "%s", text.c_str());
}

struct free_deleter {
    void operator()(void *p) const noexcept { std::free(p); }
};

// record.comparison from the rows saved so far; a store that cannot be read compares with
// nothing (the save that follows says why).
void compare_with_saved(const std::string &path, report_record &record) {
    results_row *rows = nullptr;
    size_t count = 0;
    results_message message{};
    if (results_list(path.c_str(), &rows, &count, &message) == 0) {
        return;
    }
    const std::unique_ptr<results_row, free_deleter> owned(rows);
    const results_row result = results_row_of(record);
    results_comparison comparison{};
    if (results_compare(&result, rows, count, &comparison) > 0) {
        record.comparison = comparison.text;
    }
}

} // namespace

results_row results_row_of(const report_record &record) {
    results_row row{};
    copy_text(row.recorded_at, record.started_at);
    copy_text(row.program, record.versions.program);
    copy_text(row.version, record.versions.version);
    copy_text(row.engine_version, record.versions.engine);
    copy_text(row.simd_path, record.versions.kernels);
    row.machine = record.machine;
    row.digits = record.request.digits;
    row.runs = record.request.runs;
    row.threads = record.request.threads;
    row.success = record.success ? 1 : 0;
    copy_text(row.error_message, record.error_message);
    const report_summary &summary = record.summary;
    row.computed_digits = summary.digits;
    row.verified_digits = summary.verified_digits;
    row.score = summary.score;
    row.time_seconds = summary.time_seconds;
    row.wall_seconds = summary.wall_seconds;
    row.spread_min_seconds = summary.spread.min_seconds;
    row.spread_median_seconds = summary.spread.median_seconds;
    row.spread_max_seconds = summary.spread.max_seconds;
    row.spread_relative = summary.spread.relative;
    if (record.multi_core && record.success) {
        row.multi_core_measured = 1;
        row.multi_core_score = record.multi_core->score;
        row.scaling_efficiency = record.multi_core->scaling_efficiency;
    }
    return row;
}

std::string default_results_path(std::string &why) {
    char path[4096];
    results_message message{};
    if (results_default_path(path, sizeof path, &message) == 0) {
        why = message.text;
        return "";
    }
    return path;
}

void compare_and_save(const std::string &path, report_record &record) {
    compare_with_saved(path, record);
    report_record kept = record;
    kept.comparison.clear();
    kept.saved.reset();
    const results_row row = results_row_of(kept);
    results_message message{};
    int64_t id = 0;
    const bool saved =
        results_save(path.c_str(), &row, json_report(kept).c_str(), &id, &message) != 0;
    record.saved = save_outcome{saved, saved ? id : 0, message.text};
}
