// The progress of a measurement or a stress run, drawn on the console's bar: the share of the
// work done, which only moves forward, the elapsed and the remaining time. Fed by the engine's
// progress callbacks from one or several computing threads at once.
#ifndef TESSARY_CLI_PROGRESS_BAR_H
#define TESSARY_CLI_PROGRESS_BAR_H

#include "report/report_record.h"

#include <mutex>
#include <string>
#include <vector>

class console;

// What the bar shows.
struct bar_view {
    std::string label;
    double share = 0; // of the work done, 0 to 1
    double elapsed_seconds = 0;
    double remaining_seconds = -1; // negative while there is nothing to estimate it from
};

// The bar's line for a terminal `columns` wide: it keeps off the last columns, where a
// terminal would wrap it, and drops its graphic, then its end, where the line is narrow.
std::string bar_line(const bar_view &view, int columns);

class progress_bar {
  public:
    progress_bar(console &out, clock_function clock) : out(out), clock(clock) {}

    // Work of `threads` threads at once, each `runs` computations of `steps_per_run` steps;
    // `caption` names a single computation on one thread.
    void start_work(int threads, int runs, int steps_per_run, std::string caption = "Computing");
    // A stress run of `seconds` on `threads` threads, counting the computations that finish.
    void start_stress(int threads, double seconds);
    // The user data for the callbacks of thread `index` (0-based) until the next start.
    void *slot(int index) { return &slots[static_cast<std::size_t>(index)]; }
    // A pi_progress_callback; `step` counts the thread's steps, continued across its runs.
    static void report(int step, int precision_digits, void *slot_data, double iteration_seconds);
    // Thread `index` finished a computation.
    void computation_finished(int index);
    // Erases the bar; callbacks draw nothing until the next start.
    void stop();

  private:
    struct thread_slot {
        progress_bar *bar;
        int steps = 0;
        int finished = 0;
    };
    void start(int threads);
    bar_view view(wall_clock::time_point now) const;
    double work_share() const;
    int finished() const;
    std::string label() const;
    void draw(bool at_once) noexcept;

    console &out;
    clock_function clock;
    std::mutex mutex;
    bool active = false;
    bool stress = false;
    std::vector<thread_slot> slots;
    int runs = 1;
    int steps_per_run = 1;
    std::string caption;
    double stress_seconds = 0;
    wall_clock::time_point started;
    wall_clock::time_point last_drawn;
};

#endif
