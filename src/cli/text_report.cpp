#include "cli/text_report.h"

#include "probe/system_rows.h"

#include <algorithm>
#include <string>

namespace {

std::string plain_count(long long count) {
    return std::to_string(count);
}

// "verified 8388592 digits", or what went wrong.
void write_outcome(std::FILE *out, const pi_result &result, const pi_check &check) {
    if (result.success != 0) {
        std::fprintf(out, "%d digits verified\n", check.verified_digits);
    } else if (check.first_wrong_digit > 0) {
        std::fprintf(out, "WRONG from digit %d: %s\n", check.first_wrong_digit,
                     result.error_message);
    } else {
        std::fprintf(out, "FAILED: %s\n", result.error_message);
    }
}

void write_single_core(std::FILE *out, const measure_report &report) {
    const pi_result &result = report.single.result;
    if (report.runs == 1) {
        std::fprintf(out, "Digits:           %d\n", result.digits);
        std::fprintf(out, "Verified:         %d digits\n", fewest_verified(report.single));
    }
    std::fprintf(out, "Score:            %.0f\n", result.score);
    std::fprintf(out, "Processor time:   %.3f sec\n", result.time_seconds);
    std::fprintf(out, "Wall time:        %.3f sec\n", report.single_wall_seconds);
    if (report.runs > 1) {
        const time_spread spread = processor_time_spread(report.single);
        std::fprintf(out,
                     "Spread:           %.3f / %.3f / %.3f sec min / median / max processor "
                     "time (%.1f %%)\n",
                     spread.min_seconds, spread.median_seconds, spread.max_seconds,
                     100 * spread.relative);
    }
}

void write_multi_core(std::FILE *out, const measure_report &report) {
    std::fprintf(out, "Multi-core score: %.0f (%d threads)\n", report.multi_core_score,
                 report.threads);
    std::fprintf(out, "Multi-core wall:  %.3f sec\n", report.multi_wall_seconds);
    std::fprintf(out, "Scaling:          %.1f %% of %d x %.0f, the single-core wall-clock score\n",
                 100 * report.scaling_efficiency, report.threads, report.single.wall_score);
}

} // namespace

void write_machine(std::FILE *out, const system_info &machine) {
    for (const system_row &row : system_rows(machine, plain_count)) {
        std::fprintf(out, "%-18s%s\n", row.caption, row.value.c_str());
    }
    std::fprintf(out, "Kernels:          %s\n", pi_simd_path());
}

void write_computation_line(std::FILE *out, const computation_record &record) {
    if (record.multi_core) {
        std::fprintf(out, "Thread %d, run %d: ", record.thread, record.run);
    } else {
        std::fprintf(out, "Run %d:            ", record.run);
    }
    if (record.result.success != 0) {
        if (!record.multi_core) {
            std::fprintf(out, "%.3f sec processor, ", record.result.time_seconds);
        }
        std::fprintf(out, "%.3f sec wall, score %.0f, ", record.wall_seconds,
                     record.multi_core ? record.wall_score : record.result.score);
    }
    write_outcome(out, record.result, record.check);
}

void write_measure_summary(std::FILE *out, const measure_report &report) {
    if (report.single.result.success == 0) {
        return;
    }
    write_single_core(out, report);
    if (report.multi_core() && report.multi_error.empty()) {
        write_multi_core(out, report);
    }
}

void write_stress_line(std::FILE *out, const stress_record &record) {
    std::fprintf(out, "Computation %d, thread %d: %.3f sec, ", record.number, record.thread,
                 record.wall_seconds);
    write_outcome(out, record.result, record.check);
}

void write_stress_summary(std::FILE *out, const stress_report &report) {
    const stress_record *failure = report.first_failure();
    const auto verified =
        std::count_if(report.computations.begin(), report.computations.end(),
                      [](const stress_record &record) { return record.result.success != 0; });
    std::fprintf(out, "Stress: %zu computations of %d digits on %d threads in %.1f sec\n",
                 report.computations.size(), report.digits, report.threads, report.elapsed_seconds);
    if (failure != nullptr) {
        std::fprintf(out, "Result: FAILED at computation %d on thread %d: %s\n", failure->number,
                     failure->thread, failure->result.error_message);
    } else if (!report.start_error.empty()) {
        std::fprintf(out, "Result: FAILED: %s\n", report.start_error.c_str());
    } else if (report.interrupted) {
        std::fprintf(out, "Result: interrupted: %td verified, %d running abandoned; not a pass\n",
                     verified, report.abandoned);
    } else {
        std::fprintf(out, "Result: PASSED: all %td verified\n", verified);
    }
}
