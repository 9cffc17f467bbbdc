#include "cli/measure.h"

#include "cli/progress_bar.h"

#include <cstdio>
#include <new>
#include <system_error>
#include <thread>

namespace {

thread_outcome allocation_failure(int thread) {
    thread_outcome failed;
    failed.thread = thread;
    std::snprintf(failed.result.error_message, sizeof failed.result.error_message, "%s",
                  "Memory allocation failed");
    return failed;
}

int steps_per_run(int digits) {
    return pi_estimate_iterations(digits == 0 ? pi_benchmark_digits : digits);
}

} // namespace

report_record planned_report(const measure_request &request, report_versions versions,
                             const system_info &machine) {
    report_record record;
    record.versions = std::move(versions);
    record.machine = machine;
    if (request.digits != 0) {
        record.request.digits = request.digits;
        record.request.runs = 1;
    }
    record.request.threads = request.threads;
    if (request.threads > 1) {
        record.multi_core.emplace();
    }
    return record;
}

measurement::measurement(measure_request request, report_record planned)
    : request(std::move(request)), record(std::move(planned)) {}

report_record measurement::run() {
    run_single_core();
    // A machine that fails alone is not measured further.
    if (request.threads > 1 && record.single.result.success != 0) {
        run_multi_core();
    }
    const std::lock_guard lock(mutex);
    current = stage::finished;
    summarise(record);
    return record;
}

std::optional<report_record> measurement::interrupt() {
    const std::lock_guard lock(mutex);
    if (current == stage::finished) {
        return std::nullopt;
    }
    interrupted = true;
    report_record so_far = record;
    const double elapsed = seconds_between(part_started, request.clock());
    if (current == stage::single_core) {
        so_far.interrupted = interruption::single_core;
        so_far.single.wall_seconds = elapsed;
    } else {
        so_far.interrupted = interruption::multi_core;
        so_far.multi_core->wall_seconds = elapsed;
    }
    summarise(so_far);
    return so_far;
}

// One thread's benchmark, or its one computation; `slot` is its place in the progress bar.
thread_outcome measurement::run_thread(int thread, bool multi_core, int slot) {
    const pi_progress_callback callback = request.progress ? progress_bar::report : nullptr;
    void *user_data = request.progress ? request.progress->slot(slot) : nullptr;
    try {
        if (request.digits == 0) {
            engine_benchmark benchmark;
            run_timed_benchmark(benchmark, callback, user_data, request.driver, request.clock,
                                [&](const engine_benchmark &done, int index) {
                                    computation_finished(
                                        benchmark_run(done, index, thread, multi_core), slot);
                                });
            return benchmark_outcome(benchmark, thread, multi_core);
        }
        computation_record computation =
            timed_computation(request.digits, request.driver, callback, user_data, request.clock);
        computation.thread = thread;
        computation.multi_core = multi_core;
        computation_finished(computation, slot);
        return computation_outcome(computation);
    } catch (const std::bad_alloc &) {
        return allocation_failure(thread);
    }
}

void measurement::computation_finished(computation_record computation, int slot) {
    const std::lock_guard lock(mutex);
    if (interrupted) {
        return;
    }
    if (computation.multi_core) {
        computation.finish_order = ++multi_core_finished;
        record.multi_core->per_thread[static_cast<std::size_t>(computation.thread - 1)]
            .runs.push_back(computation);
    } else {
        record.single.runs.push_back(computation);
    }
    if (request.on_computation) {
        request.on_computation(computation);
    }
    if (request.progress) {
        request.progress->computation_finished(slot);
    }
}

void measurement::run_single_core() {
    start_progress(1);
    thread_outcome single = run_thread(1, false, 0);
    stop_progress();
    const std::lock_guard lock(mutex);
    record.single = std::move(single);
}

// T copies at once, one per thread. A thread that cannot be started fails the part; the ones
// already running are waited for.
void measurement::run_multi_core() {
    const auto threads = static_cast<std::size_t>(request.threads);
    {
        const std::lock_guard lock(mutex);
        current = stage::multi_core;
        record.multi_core->per_thread.resize(threads);
        for (std::size_t i = 0; i < threads; ++i) {
            record.multi_core->per_thread[i].thread = static_cast<int>(i) + 1;
        }
    }
    start_progress(request.threads);
    const auto start = request.clock();
    std::vector<thread_outcome> outcomes(threads);
    std::string start_error;
    try {
        std::vector<std::jthread> workers;
        workers.reserve(threads);
        for (std::size_t i = 0; i < threads; ++i) {
            workers.emplace_back([&, i] {
                const int index = static_cast<int>(i);
                outcomes[i] = run_thread(index + 1, true, index);
            });
        }
    } catch (const std::system_error &error) {
        start_error = std::string("Could not start a thread: ") + error.what();
    }
    const double wall_seconds = seconds_between(start, request.clock());
    stop_progress();

    const std::lock_guard lock(mutex);
    multi_core_part &multi = *record.multi_core;
    multi.wall_seconds = wall_seconds;
    multi.error_message = std::move(start_error);
    // The computations as they finished, in that order, with the threads' outcomes.
    for (std::size_t i = 0; i < threads; ++i) {
        outcomes[i].runs = std::move(multi.per_thread[i].runs);
        multi.per_thread[i] = std::move(outcomes[i]);
    }
}

void measurement::start_progress(int threads) {
    {
        const std::lock_guard lock(mutex);
        part_started = request.clock();
    }
    if (request.progress) {
        const int runs = request.digits == 0 ? pi_benchmark_runs : 1;
        request.progress->start_work(threads, runs, steps_per_run(request.digits));
    }
}

void measurement::stop_progress() {
    if (request.progress) {
        request.progress->stop();
    }
}
