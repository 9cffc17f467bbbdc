// A result beside the user's earlier comparable results: a pure function of the rows.
#include "results/results_store.h"

#include "report/number_style.h"

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <new>
#include <span>
#include <vector>

namespace {

bool same_text(const char *a, const char *b) {
    return std::strcmp(a, b) == 0;
}

// The machine as hardware: the operating system, the kernel, the memory the kernel reports
// and the clock a BIOS setting changes are what users compare before and after, so they are
// not part of it.
bool same_machine(const system_info &a, const system_info &b) {
    return same_text(a.cpu_model, b.cpu_model) && a.physical_cores == b.physical_cores &&
           a.logical_cores == b.logical_cores && same_text(a.architecture, b.architecture);
}

// Scores compare only within one program version, one set of kernels, one machine and one
// kind of request: a five-run benchmark of 8,388,608 digits scores apart from one computation.
bool comparable(const results_row &a, const results_row &b) {
    return same_text(a.version, b.version) && same_text(a.simd_path, b.simd_path) &&
           same_machine(a.machine, b.machine) && a.digits == b.digits && a.runs == b.runs;
}

// Recorded before `result`; at the same second, saved before it (an unsaved result, id 0,
// comes after every saved one).
bool earlier(const results_row &other, const results_row &result) {
    const int order = std::strcmp(other.recorded_at, result.recorded_at);
    if (order != 0) {
        return order < 0;
    }
    return other.id != result.id && (result.id == 0 || other.id < result.id);
}

double median_of(std::vector<double> &scores) {
    const std::size_t middle = scores.size() / 2;
    std::nth_element(scores.begin(), scores.begin() + middle, scores.end());
    const double upper = scores[middle];
    if (scores.size() % 2 != 0) {
        return upper;
    }
    const double lower = *std::max_element(scores.begin(), scores.begin() + middle);
    return (lower + upper) / 2;
}

void describe(const results_row &result, results_comparison &comparison) {
    char position[48];
    const double percent = std::fabs(comparison.relative) * 100;
    if (percent < 0.05) {
        std::snprintf(position, sizeof position, "at");
    } else {
        // decimal_text keeps the point in any locale: the window runs in the user's.
        std::snprintf(position, sizeof position, "%s %% %s", decimal_text(percent, 1).c_str(),
                      comparison.relative > 0 ? "above" : "below");
    }
    if (comparison.count == 1) {
        std::snprintf(comparison.text, sizeof comparison.text,
                      "Score %.0f: %s your earlier result (%.0f)", result.score, position,
                      comparison.median_score);
    } else {
        std::snprintf(comparison.text, sizeof comparison.text,
                      "Score %.0f: %s your median of %d results (best %.0f)", result.score,
                      position, comparison.count, comparison.best_score);
    }
}

} // namespace

extern "C" int results_compare(const results_row *result, const results_row *history, size_t count,
                               results_comparison *comparison) {
    if (comparison == nullptr) {
        return 0;
    }
    *comparison = results_comparison{};
    // A result without a score (a stress run) compares with nothing.
    if (result == nullptr || result->success == 0 || !(result->score > 0) ||
        (history == nullptr && count != 0)) {
        return 0;
    }
    std::vector<double> scores;
    try {
        for (const results_row &other : std::span(history, count)) {
            if (other.success != 0 && comparable(other, *result) && earlier(other, *result)) {
                scores.push_back(other.score);
            }
        }
    } catch (const std::bad_alloc &) {
        return 0; // no comparison is better than a wrong one
    }
    if (scores.empty()) {
        return 0;
    }
    comparison->count = static_cast<int32_t>(scores.size());
    comparison->best_score = *std::max_element(scores.begin(), scores.end());
    comparison->median_score = median_of(scores);
    if (comparison->median_score > 0) {
        comparison->relative =
            (result->score - comparison->median_score) / comparison->median_score;
    }
    describe(*result, *comparison);
    return comparison->count;
}
