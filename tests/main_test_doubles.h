// Test doubles for the window's code: a fast scripted engine in place of the
// real one, and seams in malloc, free and pthread_create (linked with --wrap).
#ifndef TESSARY_MAIN_TEST_DOUBLES_H
#define TESSARY_MAIN_TEST_DOUBLES_H

#include "engine/pi_benchmark.h"

#include <cstddef>
#include <thread>
#include <vector>

namespace fake_engine {

// What the next benchmarks do: report `steps` in order through the progress
// callback, then return `result`. A held benchmark waits for release() first.
struct script {
    std::vector<int> steps{};
    pi_result result{};
    bool hold = false;
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

} // namespace fake_engine

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
