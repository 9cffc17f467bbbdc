// The benchmark and single computations, on one thread and then on several at once, measured
// into a report record that Ctrl-C can read while it is being filled.
#ifndef TESSARY_CLI_MEASURE_H
#define TESSARY_CLI_MEASURE_H

#include "report/report_record.h"

#include <functional>
#include <mutex>
#include <optional>

class progress_bar;

struct measure_request {
    int digits = 0;  // 0: the five-run benchmark; otherwise one computation of this size
    int threads = 1; // above 1: then this many at once, for the multi-core score
    pi_driver driver = pi_calculate_checked;
    clock_function clock = wall_clock::now;
    progress_bar *progress = nullptr;
    // Called as each computation finishes, never by two threads at once.
    std::function<void(const computation_record &)> on_computation;
};

// The record a measurement fills: the versions, the machine and what `request` asks for.
report_record planned_report(const measure_request &request, report_versions versions,
                             const system_info &machine);

class measurement {
  public:
    measurement(measure_request request, report_record planned);

    // Runs the single-core part, then the multi-core part when the first succeeded.
    report_record run();
    // What has finished so far, as Ctrl-C leaves it; from any thread. No computation is
    // reported after it. Nothing once the measurement has ended.
    std::optional<report_record> interrupt();

  private:
    enum class stage { single_core, multi_core, finished };

    thread_outcome run_thread(int thread, bool multi_core, int slot);
    void computation_finished(computation_record computation, int slot);
    void run_single_core();
    void run_multi_core();
    void start_progress(int threads);
    void stop_progress();

    measure_request request;
    std::mutex mutex; // guards everything below
    report_record record;
    stage current = stage::single_core;
    bool interrupted = false;
    wall_clock::time_point part_started;
    int multi_core_finished = 0;
};

#endif
