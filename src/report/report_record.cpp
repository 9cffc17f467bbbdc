#include "report/report_record.h"

#include "report/number_style.h"
#include "tessary_version.h"

#include <algorithm>
#include <climits>
#include <ctime>
#include <exception>
#include <utility>

namespace {

bool succeeded(const computation_record &run) {
    return run.result.success != 0;
}

// The fewest digits that a successful run verified; 0 without one.
int fewest_verified(const std::vector<computation_record> &runs) {
    int fewest = INT_MAX;
    for (const computation_record &run : runs) {
        if (succeeded(run)) {
            fewest = std::min(fewest, run.check.verified_digits);
        }
    }
    return fewest == INT_MAX ? 0 : fewest;
}

// The most digits that a successful run computed past the reference's reach.
int most_unchecked(const std::vector<computation_record> &runs) {
    int most = 0;
    for (const computation_record &run : runs) {
        if (succeeded(run)) {
            most = std::max(most, run.check.unchecked_digits);
        }
    }
    return most;
}

time_spread processor_time_spread(const std::vector<computation_record> &runs) {
    std::vector<double> times;
    for (const computation_record &run : runs) {
        if (succeeded(run)) {
            times.push_back(run.result.time_seconds);
        }
    }
    return spread_of(std::move(times));
}

// The single-core figures of the runs that finished before an interruption: no score.
void summarise_finished_runs(const std::vector<computation_record> &runs, report_summary &summary) {
    for (const computation_record &run : runs) {
        if (!succeeded(run)) {
            continue;
        }
        if (summary.digits == 0) {
            summary.digits = run.result.digits;
        }
        summary.time_seconds += run.result.time_seconds;
    }
}

report_summary summary_of(const report_record &record) {
    const thread_outcome &single = record.single;
    report_summary summary;
    summary.verified_digits = fewest_verified(single.runs);
    summary.unchecked_digits = most_unchecked(single.runs);
    summary.verifiable = record.request.digits >= pi_smallest_verified_digits();
    summary.wall_seconds = single.wall_seconds;
    summary.spread = processor_time_spread(single.runs);
    if (record.interrupted == interruption::single_core) {
        summarise_finished_runs(single.runs, summary);
    } else {
        summary.digits = single.result.digits;
        summary.score = single.result.score;
        summary.time_seconds = single.result.time_seconds;
    }
    return summary;
}

std::string interruption_text(const report_record &record) {
    const report_request &request = record.request;
    if (record.interrupted == interruption::single_core) {
        if (request.runs == 1) {
            return "Interrupted before the computation finished";
        }
        return "Interrupted after " + grouped(static_cast<long long>(record.single.runs.size())) +
               " of " + counted(request.runs, "run", "runs");
    }
    std::size_t finished = 0;
    for (const thread_outcome &thread : record.multi_core->per_thread) {
        finished += thread.runs.size();
    }
    return "Interrupted after " + grouped(static_cast<long long>(finished)) + " of " +
           grouped(static_cast<long long>(request.threads) * request.runs) +
           (request.runs == 1 ? " multi-core computations" : " multi-core runs");
}

// The multi-core score and scaling of a part whose every thread succeeded; otherwise why not.
void summarise_multi_core(report_record &record) {
    multi_core_part &multi = *record.multi_core;
    multi.reference_wall_score = record.single.wall_score;
    multi.score = 0;
    multi.scaling_efficiency = 0;
    if (record.interrupted != interruption::none) {
        multi.error_message = record.interrupted == interruption::single_core
                                  ? "Not measured: interrupted"
                                  : interruption_text(record);
        return;
    }
    if (record.single.result.success == 0) {
        multi.error_message = "Not measured: the single-core part failed";
        return;
    }
    if (!multi.error_message.empty()) {
        return; // a thread that could not start
    }
    for (const thread_outcome &thread : multi.per_thread) {
        if (thread.result.success == 0) {
            multi.error_message = "Thread " + std::to_string(thread.thread) + " of " +
                                  std::to_string(record.request.threads) + ": " +
                                  thread.result.error_message;
            multi.score = 0;
            return;
        }
        multi.score += thread.wall_score;
    }
    if (multi.reference_wall_score > 0) {
        multi.scaling_efficiency =
            multi.score / (record.request.threads * multi.reference_wall_score);
    }
}

std::string error_of(const report_record &record) {
    if (record.interrupted != interruption::none) {
        return interruption_text(record);
    }
    if (record.single.result.success == 0) {
        const char *reason = record.single.result.error_message;
        return reason[0] != '\0' ? reason : "The computation failed";
    }
    if (record.multi_core && !record.multi_core->error_message.empty()) {
        return "Multi-core: " + record.multi_core->error_message;
    }
    return "";
}

double wall_score_of(const pi_result &result, double wall_seconds) {
    return result.success != 0 ? pi_score(result.digits, wall_seconds) : 0;
}

// The engine's mean of the runs' scores, over their wall-clock scores.
double mean_wall_score(const std::vector<computation_record> &runs) {
    std::vector<pi_result> scored;
    for (const computation_record &run : runs) {
        pi_result record = run.result;
        record.score = run.wall_score;
        scored.push_back(record);
    }
    return pi_calculate_average_score(scored.data(), static_cast<int>(scored.size()));
}

// The engine hands a driver no context of its own (its user data is the progress relay's),
// so the benchmark running on a thread keeps its timing here.
struct benchmark_timing {
    pi_driver driver;
    clock_function clock;
    engine_benchmark *benchmark;
    const run_observer *observer;
    std::exception_ptr failure;
};
thread_local benchmark_timing *current_timing = nullptr;

void timed_run(int digits, pi_result *result, pi_progress_callback callback, void *user_data,
               pi_check *check) {
    benchmark_timing &timing = *current_timing;
    if (timing.failure) {
        return; // the benchmark's report is lost already: spare the remaining runs
    }
    engine_benchmark &benchmark = *timing.benchmark;
    const int index = benchmark.runs_done++;
    const auto start = timing.clock();
    timing.driver(digits, result, callback, user_data, check);
    benchmark.run_wall_seconds[index] = seconds_between(start, timing.clock());
    benchmark.runs[index] = *result;
    benchmark.checks[index] = check != nullptr ? *check : pi_check{};
    // The engine's frames lie between here and the caller: nothing may be thrown across them.
    try {
        if (*timing.observer) {
            (*timing.observer)(benchmark, index);
        }
    } catch (...) {
        timing.failure = std::current_exception();
    }
}

} // namespace

std::string utc_timestamp(std::chrono::system_clock::time_point time) {
    const std::time_t seconds = std::chrono::system_clock::to_time_t(time);
    std::tm utc{};
    gmtime_r(&seconds, &utc);
    char text[32];
    std::strftime(text, sizeof text, "%Y-%m-%dT%H:%M:%SZ", &utc);
    return text;
}

double seconds_between(wall_clock::time_point from, wall_clock::time_point to) {
    return std::chrono::duration<double>(to - from).count();
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

report_versions running_versions(const char *program) {
    const char *note = pi_simd_note();
    return {program, TESSARY_VERSION, pi_get_version(), pi_simd_path(),
            note != nullptr ? note : ""};
}

void summarise(report_record &record) {
    record.summary = summary_of(record);
    if (record.multi_core) {
        summarise_multi_core(record);
    }
    record.success = record.interrupted == interruption::none &&
                     record.single.result.success != 0 &&
                     (!record.multi_core || record.multi_core->error_message.empty());
    record.error_message = error_of(record);
}

void run_timed_benchmark(engine_benchmark &benchmark, pi_progress_callback callback,
                         void *user_data, pi_driver driver, clock_function clock,
                         const run_observer &observer) {
    benchmark = engine_benchmark{};
    benchmark_timing timing{driver, clock, &benchmark, &observer, nullptr};
    benchmark_timing *const outer = std::exchange(current_timing, &timing);
    const auto start = clock();
    pi_calculate_5x8m_with(&benchmark.result, callback, user_data, timed_run, benchmark.runs,
                           benchmark.checks);
    benchmark.wall_seconds = seconds_between(start, clock());
    current_timing = outer;
    if (timing.failure) {
        std::rethrow_exception(timing.failure);
    }
}

computation_record benchmark_run(const engine_benchmark &benchmark, int index, int thread,
                                 bool multi_core) {
    computation_record run;
    run.thread = thread;
    run.run = index + 1;
    run.multi_core = multi_core;
    run.finish_order = index + 1;
    run.result = benchmark.runs[index];
    run.check = benchmark.checks[index];
    run.wall_seconds = benchmark.run_wall_seconds[index];
    run.wall_score = wall_score_of(run.result, run.wall_seconds);
    return run;
}

thread_outcome benchmark_outcome(const engine_benchmark &benchmark, int thread, bool multi_core) {
    thread_outcome outcome;
    outcome.thread = thread;
    outcome.result = benchmark.result;
    outcome.wall_seconds = benchmark.wall_seconds;
    for (int i = 0; i < benchmark.runs_done; ++i) {
        outcome.runs.push_back(benchmark_run(benchmark, i, thread, multi_core));
    }
    outcome.wall_score = mean_wall_score(outcome.runs);
    return outcome;
}

computation_record timed_computation(int digits, pi_driver driver, pi_progress_callback callback,
                                     void *user_data, clock_function clock) {
    computation_record computation;
    computation.finish_order = 1;
    const auto start = clock();
    driver(digits, &computation.result, callback, user_data, &computation.check);
    computation.wall_seconds = seconds_between(start, clock());
    computation.wall_score = wall_score_of(computation.result, computation.wall_seconds);
    return computation;
}

thread_outcome computation_outcome(const computation_record &computation) {
    thread_outcome outcome;
    outcome.thread = computation.thread;
    outcome.result = computation.result;
    outcome.wall_score = computation.wall_score;
    outcome.wall_seconds = computation.wall_seconds;
    outcome.runs.push_back(computation);
    return outcome;
}

report_record single_core_benchmark_record(const engine_benchmark &benchmark,
                                           const system_info &machine, report_versions versions) {
    report_record record;
    record.versions = std::move(versions);
    record.machine = machine;
    record.single = benchmark_outcome(benchmark, 1, false);
    summarise(record);
    return record;
}
