// The record behind Tessary's reports, for both front ends: the versions and kernels, the
// machine, the request, every computation, the summary and the multi-core part; and its
// builders from what the engine gives, usable on any thread.
#ifndef TESSARY_REPORT_RECORD_H
#define TESSARY_REPORT_RECORD_H

#include "engine/pi_benchmark.h"
#include "probe/run_conditions.h"
#include "probe/system_info.h"

#include <chrono>
#include <functional>
#include <optional>
#include <string>
#include <vector>

using wall_clock = std::chrono::steady_clock;
// The wall clock a measurement reads; tests give a fake one.
using clock_function = wall_clock::time_point (*)();

double seconds_between(wall_clock::time_point from, wall_clock::time_point to);

// One finished computation as a front end saw it.
struct computation_record {
    int thread = 1;          // 1-based
    int run = 1;             // 1-based within its thread
    bool multi_core = false; // run beside the other threads' computations
    int finish_order = 0;    // 1-based place among its part's computations as they finished
    pi_result result{};      // the engine's record, on processor time
    pi_check check{};
    double wall_seconds = 0; // the wall clock around the whole computation
    double wall_score = 0;   // the score formula on wall_seconds; 0 unless it succeeded
};

// Minimum, median and maximum of some times, and (max - min) / median.
struct time_spread {
    double min_seconds = 0;
    double median_seconds = 0;
    double max_seconds = 0;
    double relative = 0;
};
time_spread spread_of(std::vector<double> seconds);

// One thread's benchmark, or its one computation.
struct thread_outcome {
    int thread = 1;
    pi_result result{};      // the engine's outcome, or the one computation's record
    double wall_score = 0;   // mean of the runs' wall-clock scores, as the engine averages
    double wall_seconds = 0; // around the whole benchmark or computation
    std::vector<computation_record> runs;
};

struct report_versions {
    std::string program;      // the program that reports: "tessary-cli" or "tessary"
    std::string version;      // the program's version
    std::string engine;       // pi_get_version()
    std::string kernels;      // the transform kernels that ran
    std::string kernels_note; // why TESSARY_SIMD was not followed; empty when it was
};
// The versions and kernels of this process, reported by `program`.
report_versions running_versions(const char *program);

struct report_request {
    int digits = pi_benchmark_digits; // per computation
    int runs = pi_benchmark_runs;     // per thread: the benchmark's, or 1 for one computation
    int threads = 1;                  // above 1: a multi-core part follows the single-core one
};

// The single-core part's figures.
struct report_summary {
    int digits = 0;
    int verified_digits = 0; // the fewest of any successful run
    bool verifiable = true;  // false: too few digits for the reference to check any
    double score = 0;
    double time_seconds = 0; // processor time over the successful runs
    double wall_seconds = 0;
    time_spread spread;       // of the successful runs' processor times
    int unchecked_digits = 0; // the most any successful run computed past the reference's reach
};

// T copies at once, one per thread, each timed on the wall clock.
struct multi_core_part {
    std::vector<thread_outcome> per_thread;
    double wall_seconds = 0;
    double score = 0;                // the sum of the threads' wall-clock scores
    double reference_wall_score = 0; // the single-core part's, on the same clock
    double scaling_efficiency = 0;   // score / (threads x reference_wall_score)
    std::string error_message;       // why the part failed; empty when it was measured
};

// Where Ctrl-C cut a measurement short.
enum class interruption { none, single_core, multi_core };

// What became of a front end's attempt to keep the result in the results store.
struct save_outcome {
    bool saved = false;
    long long id = 0;    // the saved result's, when saved
    std::string message; // why it was not saved, or news of the store; empty when none
};

struct report_record {
    report_versions versions;
    system_info machine{};
    report_request request;
    std::string started_at;                    // UTC, ISO 8601; empty when not known
    std::optional<run_conditions> conditions;  // what else the machine did when it started
    thread_outcome single;                     // on processor time
    std::optional<multi_core_part> multi_core; // with more than one thread
    interruption interrupted = interruption::none;

    // From the above, by summarise().
    report_summary summary;
    bool success = false;
    std::string error_message;

    // Filled by a front end that keeps results: the result beside the user's earlier
    // comparable ones (empty when there are none), and the save. The copy kept in the
    // store is written before the save and has neither.
    std::string comparison;
    std::optional<save_outcome> saved;
};

// `time` as UTC in ISO 8601, to the second: "2026-12-09T20:55:12Z".
std::string utc_timestamp(std::chrono::system_clock::time_point time);

// Fills the summary, the multi-core part's figures and the outcome from the computations.
void summarise(report_record &record);

// ---- Builders from the engine's records ----

// What pi_calculate_5x8m_with gives for one benchmark, with each run's wall-clock time: a
// plain record that a worker thread can hand over as it is.
struct engine_benchmark {
    pi_result result{};
    pi_result runs[pi_benchmark_runs]{};
    pi_check checks[pi_benchmark_runs]{};
    double run_wall_seconds[pi_benchmark_runs]{};
    int runs_done = 0;       // the runs the driver was called for, from the first
    double wall_seconds = 0; // around the whole benchmark
};

// Called on the computing thread as run `index` (0-based) finishes.
using run_observer = std::function<void(const engine_benchmark &benchmark, int index)>;

// pi_calculate_5x8m_with on `driver`, each run timed on `clock`. An exception thrown by
// `observer` skips the remaining runs and is thrown again when the engine has returned.
void run_timed_benchmark(engine_benchmark &benchmark, pi_progress_callback callback,
                         void *user_data, pi_driver driver, clock_function clock = wall_clock::now,
                         const run_observer &observer = {});

// Run `index` (0-based) of a thread's benchmark.
computation_record benchmark_run(const engine_benchmark &benchmark, int index, int thread,
                                 bool multi_core);
// A thread's benchmark, its runs included.
thread_outcome benchmark_outcome(const engine_benchmark &benchmark, int thread, bool multi_core);

// One computation of `digits` on `driver`, timed on `clock`: thread 1, run 1.
computation_record timed_computation(int digits, pi_driver driver, pi_progress_callback callback,
                                     void *user_data, clock_function clock = wall_clock::now);
// A thread whose work was one computation.
thread_outcome computation_outcome(const computation_record &computation);

// The record of a single-core benchmark, as the window runs it.
report_record single_core_benchmark_record(const engine_benchmark &benchmark,
                                           const system_info &machine, report_versions versions);

#endif
