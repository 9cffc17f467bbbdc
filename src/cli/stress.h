// Stress mode: verified computations repeated on every thread until the time is up or one
// fails, for finding a machine that computes wrongly under load.
#ifndef TESSARY_CLI_STRESS_H
#define TESSARY_CLI_STRESS_H

#include "report/report_record.h"

#include <functional>
#include <stop_token>
#include <string>
#include <vector>

class progress_bar;

struct stress_record {
    int number = 0; // 1-based, in the order the computations finished
    int thread = 0; // 1-based
    pi_result result{};
    pi_check check{};
    double wall_seconds = 0;
};

struct stress_request {
    int digits = pi_benchmark_digits;
    int threads = 1;
    double seconds = 600; // no computation starts after this; those running finish
    pi_driver driver = pi_calculate_checked;
    clock_function clock = wall_clock::now;
    progress_bar *progress = nullptr;
    std::stop_token stop; // a stop request (Ctrl-C) ends the run at once
    // Called as each computation finishes, never by two threads at once.
    std::function<void(const stress_record &)> on_computation;
};

struct stress_report {
    int digits = 0;
    int threads = 0;
    std::vector<stress_record> computations;
    double elapsed_seconds = 0;
    bool interrupted = false;
    int abandoned = 0;       // computations still running when interrupted
    std::string start_error; // why a thread could not be started; empty otherwise

    // The first computation that failed, or null.
    const stress_record *first_failure() const;
    // Some computation finished, every one verified, the run was not cut short and every
    // thread ran.
    bool success() const;
};

// Returns when every thread has stopped, or at once on a stop request: the computations
// still running are then left to finish unreported on their threads.
stress_report run_stress(const stress_request &request);

// A finished stress run as one report record, for the results store: `planned` (the versions,
// the machine, the start) with every computation as a run of its thread, no count of runs (0:
// until the time was up) and no score.
report_record stress_report_record(const stress_report &report, report_record planned);

#endif
