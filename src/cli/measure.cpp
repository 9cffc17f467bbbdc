#include "cli/measure.h"

#include "cli/progress_bar.h"

#include <algorithm>
#include <chrono>
#include <climits>
#include <mutex>
#include <new>
#include <system_error>
#include <thread>

namespace {

// What the timing driver needs to know about the thread it runs on.
struct thread_context {
    pi_driver inner;
    bool multi_core;
    std::vector<computation_record> *runs;
    std::mutex *report_mutex;
    const std::function<void(const computation_record &)> *on_computation;
    int thread;
    bool allocation_failed = false;
};

// The engine hands a driver no context of its own (its user data is the progress relay's),
// so each computing thread keeps its context here.
thread_local thread_context *current_context = nullptr;

// Runs the real (or a test's) driver and records the computation with its wall-clock time.
void timing_driver(int digits, pi_result *result, pi_progress_callback callback, void *user_data,
                   pi_check *check) {
    thread_context &context = *current_context;
    const auto start = wall_clock::now();
    context.inner(digits, result, callback, user_data, check);
    computation_record record;
    record.thread = context.thread;
    record.run = static_cast<int>(context.runs->size()) + 1;
    record.multi_core = context.multi_core;
    record.result = *result;
    record.check = *check;
    record.wall_seconds = seconds_since(start);
    if (result->success != 0) {
        record.wall_score = score_for_seconds(result->digits, record.wall_seconds);
    }
    // The engine's frames lie between here and the caller: nothing may be thrown across them.
    try {
        context.runs->push_back(record);
        if (*context.on_computation) {
            const std::lock_guard lock(*context.report_mutex);
            (*context.on_computation)(record);
        }
    } catch (const std::bad_alloc &) {
        context.allocation_failed = true;
    }
}

double mean_wall_score(const std::vector<computation_record> &runs) {
    std::vector<pi_result> scored;
    for (const computation_record &run : runs) {
        pi_result record = run.result;
        record.score = run.wall_score;
        scored.push_back(record);
    }
    return pi_calculate_average_score(scored.data(), static_cast<int>(scored.size()));
}

pi_result allocation_failure() {
    pi_result failed{};
    std::snprintf(failed.error_message, sizeof failed.error_message, "%s",
                  "Memory allocation failed");
    return failed;
}

// One thread's benchmark, or its one computation; `slot` is its place in the progress bar.
thread_outcome run_thread(const measure_request &request, int thread, bool multi_core, int slot,
                          std::mutex &report_mutex) {
    thread_outcome outcome;
    outcome.thread = thread;
    try {
        outcome.runs.reserve(pi_benchmark_runs);
        thread_context context{request.driver,          multi_core, &outcome.runs, &report_mutex,
                               &request.on_computation, thread};
        current_context = &context;
        const pi_progress_callback callback = request.progress ? progress_bar::report : nullptr;
        void *user_data = request.progress ? request.progress->slot(slot) : nullptr;
        if (request.digits == 0) {
            pi_calculate_5x8m_with(&outcome.result, callback, user_data, timing_driver, nullptr,
                                   nullptr);
        } else {
            pi_check check{};
            timing_driver(request.digits, &outcome.result, callback, user_data, &check);
        }
        current_context = nullptr;
        if (context.allocation_failed) {
            throw std::bad_alloc();
        }
        outcome.wall_score = mean_wall_score(outcome.runs);
    } catch (const std::bad_alloc &) {
        current_context = nullptr;
        outcome.runs.clear();
        outcome.result = allocation_failure();
        outcome.wall_score = 0;
    }
    return outcome;
}

int steps_per_thread(int digits) {
    return digits == 0 ? pi_benchmark_steps() : pi_estimate_iterations(digits);
}

void start_progress(const measure_request &request, std::string label, int threads,
                    int target_digits) {
    if (request.progress) {
        request.progress->start(std::move(label), threads, steps_per_thread(request.digits),
                                target_digits);
    }
}

void end_progress(const measure_request &request) {
    if (request.progress) {
        request.progress->end_line();
    }
}

// T copies at once, one per thread. A thread that cannot be started fails the part; the
// ones already running are waited for.
void run_multi_core(const measure_request &request, measure_report &report,
                    std::mutex &report_mutex) {
    report.multi.resize(static_cast<std::size_t>(report.threads));
    start_progress(request, std::to_string(report.threads) + " threads", report.threads,
                   report.digits);
    const auto start = wall_clock::now();
    try {
        std::vector<std::jthread> workers;
        workers.reserve(report.multi.size());
        for (int i = 0; i < report.threads; ++i) {
            workers.emplace_back([&, i] {
                report.multi[static_cast<std::size_t>(i)] =
                    run_thread(request, i + 1, true, i, report_mutex);
            });
        }
    } catch (const std::system_error &error) {
        report.multi_error = std::string("Could not start a thread: ") + error.what();
    }
    report.multi_wall_seconds = seconds_since(start);
    end_progress(request);
    if (!report.multi_error.empty()) {
        return;
    }
    for (const thread_outcome &outcome : report.multi) {
        if (outcome.result.success == 0) {
            report.multi_error = "Thread " + std::to_string(outcome.thread) + " of " +
                                 std::to_string(report.threads) + ": " +
                                 outcome.result.error_message;
            return;
        }
        report.multi_core_score += outcome.wall_score;
    }
    if (report.single.wall_score > 0) {
        report.scaling_efficiency =
            report.multi_core_score / (report.threads * report.single.wall_score);
    }
}

} // namespace

double score_for_seconds(int digits, double seconds) {
    return pi_score(digits, seconds);
}

time_spread spread_of(std::vector<double> seconds) {
    time_spread spread;
    if (seconds.empty()) {
        return spread;
    }
    std::sort(seconds.begin(), seconds.end());
    const std::size_t middle = seconds.size() / 2;
    spread.min_seconds = seconds.front();
    spread.max_seconds = seconds.back();
    spread.median_seconds =
        seconds.size() % 2 == 1 ? seconds[middle] : (seconds[middle - 1] + seconds[middle]) / 2;
    if (spread.median_seconds > 0) {
        spread.relative = (spread.max_seconds - spread.min_seconds) / spread.median_seconds;
    }
    return spread;
}

int fewest_verified(const thread_outcome &outcome) {
    int fewest = INT_MAX;
    for (const computation_record &run : outcome.runs) {
        if (run.result.success != 0) {
            fewest = std::min(fewest, run.check.verified_digits);
        }
    }
    return fewest == INT_MAX ? 0 : fewest;
}

time_spread processor_time_spread(const thread_outcome &outcome) {
    std::vector<double> times;
    for (const computation_record &run : outcome.runs) {
        if (run.result.success != 0) {
            times.push_back(run.result.time_seconds);
        }
    }
    return spread_of(std::move(times));
}

bool measure_report::success() const {
    return single.result.success != 0 && multi_error.empty();
}

std::string measure_report::error_message() const {
    if (single.result.success == 0) {
        return single.result.error_message;
    }
    return multi_error.empty() ? std::string() : "Multi-core: " + multi_error;
}

measure_report run_measurement(const measure_request &request) {
    measure_report report;
    report.digits = request.digits == 0 ? pi_benchmark_digits : request.digits;
    report.runs = request.digits == 0 ? pi_benchmark_runs : 1;
    report.threads = request.threads;
    std::mutex report_mutex;

    start_progress(request, request.threads > 1 ? "1 thread" : "", 1, report.digits);
    const auto start = wall_clock::now();
    report.single = run_thread(request, 1, false, 0, report_mutex);
    report.single_wall_seconds = seconds_since(start);
    end_progress(request);

    // A machine that fails alone is not measured further.
    if (report.multi_core()) {
        if (report.single.result.success != 0) {
            run_multi_core(request, report, report_mutex);
        } else {
            report.multi_error = "Not measured: the single-core part failed";
        }
    }
    return report;
}
