#include "cli/stress.h"

#include "cli/progress_bar.h"

#include <chrono>
#include <condition_variable>
#include <memory>
#include <mutex>
#include <new>
#include <system_error>
#include <thread>

namespace {

// Shared by the workers and the caller, and kept alive by the last of them: after an
// interruption the workers outlive the call.
struct stress_state {
    int digits;
    pi_driver driver;
    clock_function clock;
    progress_bar *progress;
    std::function<void(const stress_record &)> on_computation;
    wall_clock::time_point start;
    wall_clock::time_point deadline;

    std::mutex mutex;
    std::condition_variable changed;
    std::vector<stress_record> computations;
    int workers = 0;   // threads still in their loop
    int computing = 0; // computations in progress
    bool stopping = false;
    bool interrupted = false;
    bool allocation_failed = false;
};

// Under the state's lock: whether a worker may start another computation.
bool may_start(const stress_state &state) {
    return !state.stopping && !state.interrupted && state.clock() < state.deadline;
}

// Under the state's lock: records a finished computation and tells whoever reports it.
void record_computation(stress_state &state, stress_record record) {
    record.number = static_cast<int>(state.computations.size()) + 1;
    try {
        state.computations.push_back(record);
        if (state.on_computation) {
            state.on_computation(record);
        }
    } catch (const std::bad_alloc &) {
        state.allocation_failed = true;
        state.stopping = true;
    }
    if (record.result.success == 0) {
        state.stopping = true;
    }
}

void stress_worker(std::shared_ptr<stress_state> state, int thread) {
    std::unique_lock lock(state->mutex);
    while (may_start(*state)) {
        ++state->computing;
        lock.unlock();
        stress_record record;
        record.thread = thread;
        progress_bar *const progress = state->progress;
        const auto start = state->clock();
        state->driver(state->digits, &record.result, progress ? progress_bar::report : nullptr,
                      progress ? progress->slot(thread - 1) : nullptr, &record.check);
        record.wall_seconds = seconds_between(start, state->clock());
        lock.lock();
        --state->computing;
        if (!state->interrupted) {
            record_computation(*state, record);
            if (progress) {
                progress->computation_finished(thread - 1);
            }
        }
    }
    --state->workers;
    state->changed.notify_all();
}

} // namespace

const stress_record *stress_report::first_failure() const {
    for (const stress_record &record : computations) {
        if (record.result.success == 0) {
            return &record;
        }
    }
    return nullptr;
}

bool stress_report::success() const {
    return !interrupted && start_error.empty() && !computations.empty() &&
           first_failure() == nullptr;
}

stress_report run_stress(const stress_request &request) {
    auto state = std::make_shared<stress_state>();
    state->digits = request.digits;
    state->driver = request.driver;
    state->on_computation = request.on_computation;
    state->clock = request.clock;
    state->progress = request.progress;
    state->start = request.clock();
    state->deadline = state->start + std::chrono::duration_cast<wall_clock::duration>(
                                         std::chrono::duration<double>(request.seconds));
    stress_report report;
    report.digits = request.digits;
    report.threads = request.threads;

    // Before the lock: a stop already requested runs the callback here and now.
    const std::stop_callback on_stop(request.stop, [&state] {
        const std::lock_guard stop_lock(state->mutex);
        state->interrupted = true;
        state->changed.notify_all();
    });
    std::unique_lock lock(state->mutex);
    for (int thread = 1; thread <= request.threads; ++thread) {
        try {
            std::thread(stress_worker, state, thread).detach();
            ++state->workers;
        } catch (const std::system_error &error) {
            report.start_error =
                "Could not start thread " + std::to_string(thread) + ": " + error.what();
            state->stopping = true;
            break;
        }
    }
    state->changed.wait(lock, [&] { return state->workers == 0 || state->interrupted; });

    report.computations = state->computations;
    report.elapsed_seconds = seconds_between(state->start, state->clock());
    report.interrupted = state->interrupted;
    report.abandoned = state->interrupted ? state->computing : 0;
    if (state->allocation_failed) {
        throw std::bad_alloc();
    }
    return report;
}
