// Test doubles for the window's code: fast scripted runs in the real benchmark,
// a wall clock the runs move on, and seams in malloc, free, pthread_create and the
// style sheet's loading (linked with --wrap).
#ifndef TESSARY_MAIN_TEST_DOUBLES_H
#define TESSARY_MAIN_TEST_DOUBLES_H

#include "engine/pi_benchmark.h"

#include <cstddef>
#include <string>
#include <thread>
#include <vector>

namespace fake_engine {

// One run of the benchmark as the fake checked computation plays it: it reports
// steps 1 to `steps`, moves the window's wall clock on by `wall_seconds`, then
// returns `result` and `check`. The benchmark around the runs is the real one.
struct run_script {
    int steps = 0;
    pi_result result{};
    pi_check check{};
    double wall_seconds = 0;
};

// What the next benchmarks do. Runs past the list fail at once for want of memory.
// A held benchmark waits for release() before its first run, or before run
// `hold_in_run` (1 to 5) reports its steps.
struct script {
    std::vector<run_script> runs{};
    bool hold = false;
    int hold_in_run = 0;
};

// Also restarts the counts below. Only while no benchmark is running.
void set_script(script next);
void release(); // lets held benchmarks go on

struct call {
    pi_result *result;
    void *user_data;
    std::thread::id thread;
};
int started();
int finished();
call last_call();

// Moves the wall clock that the window reads (g_get_monotonic_time) on.
void advance_clock(double seconds);

} // namespace fake_engine

// The style sheets that gtk_css_provider_load_from_data was given, in order.
namespace style_sheets {

void reset();
std::vector<std::string> loaded();

} // namespace style_sheets

namespace heap_records {

// Blocks of `size` bytes that the wrapped code allocated since the last reset,
// and those of them not yet freed.
void reset();
int allocated(std::size_t size);
int live(std::size_t size);
void refuse_next(std::size_t size); // the next malloc of `size` bytes returns null

} // namespace heap_records

namespace worker_start {

void refuse_next(); // the next pthread_create fails with EAGAIN

} // namespace worker_start

#endif
