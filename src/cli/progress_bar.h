// A one-line progress bar on a terminal, fed by the engine's progress callbacks from one
// or several computing threads at once.
#ifndef TESSARY_CLI_PROGRESS_BAR_H
#define TESSARY_CLI_PROGRESS_BAR_H

#include <chrono>
#include <cstdio>
#include <mutex>
#include <string>
#include <vector>

class progress_bar {
  public:
    explicit progress_bar(std::FILE *terminal) : terminal(terminal) {}

    // A new bar for `threads` threads, each reporting `steps_per_thread` steps of
    // computations that target `target_digits` digits.
    void start(std::string label, int threads, int steps_per_thread, int target_digits);
    // The user data for the callbacks of thread `index` (0-based) of the current bar.
    void *slot(int index) { return &slots[static_cast<std::size_t>(index)]; }
    // A pi_progress_callback; `slot_data` comes from slot().
    static void report(int step, int precision_digits, void *slot_data, double);
    // Ends the bar's line, if one is drawn; safe from any thread.
    void end_line();

  private:
    struct thread_slot {
        progress_bar *bar;
        int step = 0;
        int precision_digits = 0;
    };
    void draw(bool at_once);

    std::FILE *terminal;
    std::mutex mutex;
    std::string label;
    std::vector<thread_slot> slots;
    int total_steps = 1;
    int target_digits = 0;
    bool line_open = false;
    std::chrono::steady_clock::time_point started;
    std::chrono::steady_clock::time_point last_drawn;
};

#endif
