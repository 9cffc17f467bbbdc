// The benchmark and single computations, on one thread and then on several at once: the
// measurements behind tessary-cli's reports, as plain records.
#ifndef TESSARY_CLI_MEASURE_H
#define TESSARY_CLI_MEASURE_H

#include "engine/pi_benchmark.h"

#include <chrono>
#include <functional>
#include <string>
#include <vector>

class progress_bar;

using wall_clock = std::chrono::steady_clock;

// Seconds on the wall clock since `start`.
inline double seconds_since(wall_clock::time_point start) {
    return std::chrono::duration<double>(wall_clock::now() - start).count();
}

// One finished computation as the front end saw it.
struct computation_record {
    int thread = 1;          // 1-based
    int run = 1;             // 1-based within its thread
    bool multi_core = false; // run beside the other threads' computations
    pi_result result{};      // the engine's record, on processor time
    pi_check check{};
    double wall_seconds = 0; // the wall clock around the whole computation
    double wall_score = 0;   // the score formula on wall_seconds
};

// The engine's score of D digits in T seconds: ceil(log2(D)^2 * D * 5.663691143091034e-7 / T),
// 0 when D or T is not positive.
double score_for_seconds(int digits, double seconds);

// Minimum, median and maximum of some times, and (max - min) / median.
struct time_spread {
    double min_seconds = 0;
    double median_seconds = 0;
    double max_seconds = 0;
    double relative = 0;
};
time_spread spread_of(std::vector<double> seconds);

// One thread's benchmark (or single computation).
struct thread_outcome {
    int thread = 1;
    pi_result result{};    // the engine's outcome, or the one computation's record
    double wall_score = 0; // mean of the runs' wall-clock scores, as the engine averages
    std::vector<computation_record> runs;
};

// The fewest digits that a successful run verified; 0 without one.
int fewest_verified(const thread_outcome &outcome);
// The spread of the successful runs' processor times.
time_spread processor_time_spread(const thread_outcome &outcome);

struct measure_request {
    int digits = 0;  // 0: the five-run benchmark; otherwise one computation of this size
    int threads = 1; // above 1: then this many at once, for the multi-core score
    pi_driver driver = pi_calculate_checked;
    progress_bar *progress = nullptr;
    // Called as each computation finishes, never by two threads at once.
    std::function<void(const computation_record &)> on_computation;
};

struct measure_report {
    int digits = 0; // digits per computation
    int runs = 1;   // computations per thread
    int threads = 1;
    thread_outcome single; // the single-core part, on processor time
    double single_wall_seconds = 0;
    std::vector<thread_outcome> multi; // one per thread; empty without a multi-core part
    double multi_wall_seconds = 0;
    double multi_core_score = 0;   // the sum of the threads' wall-clock scores
    double scaling_efficiency = 0; // multi_core_score / (threads x single.wall_score)
    std::string multi_error;       // why the multi-core part failed; empty otherwise

    bool multi_core() const { return threads > 1; }
    bool success() const;
    std::string error_message() const;
};

measure_report run_measurement(const measure_request &request);

#endif
