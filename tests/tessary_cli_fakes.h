// A fake engine and a fake wall clock for tessary-cli's tests: computations that take no
// time but advance the clock as a real one would, so that no test depends on how much work
// fits in a time window.
#ifndef TESSARY_TESTS_TESSARY_CLI_FAKES_H
#define TESSARY_TESTS_TESSARY_CLI_FAKES_H

#include "cli/app.h"

#include <algorithm>
#include <atomic>
#include <chrono>
#include <csignal>
#include <cstdio>
#include <thread>
#include <unistd.h>
#include <vector>

// The fake clock: it moves when a fake computation says so, and by `fake_tick` at every read.
inline std::atomic<long long> fake_nanoseconds{0};
inline std::atomic<long long> fake_tick_nanoseconds{0};

inline wall_clock::time_point fake_now() {
    return wall_clock::time_point(
        std::chrono::nanoseconds(fake_nanoseconds += fake_tick_nanoseconds.load()));
}

inline void advance_fake_clock(double seconds) {
    fake_nanoseconds += static_cast<long long>(seconds * 1e9);
}

// What the fake engine's computations do, in turn; the last one repeats.
enum class fake_kind {
    verified,  // all but the last 16 digits verified
    wrong,     // wrong from digit 17
    no_memory, // "Memory allocation failed" before any step
    interrupt, // Ctrl-C, then a computation that never ends
    hang,      // a computation that never ends, for a Ctrl-C from outside
};
struct fake_computation {
    fake_kind kind = fake_kind::verified;
    double processor_seconds = 2;
    double wall_seconds = 3;
};
inline std::vector<fake_computation> fake_script{{}};
inline std::atomic<int> fake_calls{0};

inline void set_fake_script(std::vector<fake_computation> script) {
    fake_script = std::move(script);
    fake_calls = 0;
    fake_nanoseconds = 0;
    fake_tick_nanoseconds = 0;
}

inline const fake_computation &next_fake_computation() {
    const auto call = static_cast<std::size_t>(fake_calls++);
    return fake_script[std::min(call, fake_script.size() - 1)];
}

inline void set_message(pi_result *result, const char *text) {
    std::snprintf(result->error_message, sizeof result->error_message, "%s", text);
}

// Waits for the program to end.
[[noreturn]] inline void hang() {
    for (;;) {
        std::this_thread::sleep_for(std::chrono::hours(1));
    }
}

// Sends Ctrl-C to this process and waits for the program to end.
[[noreturn]] inline void interrupt_and_hang() {
    kill(getpid(), SIGINT);
    hang();
}

// A computation of `digits` that verified all but its last 16 digits.
inline void fake_verified(int digits, double processor_seconds, pi_result *result,
                          pi_check *check) {
    *result = pi_result{1, digits, processor_seconds, pi_score(digits, processor_seconds), ""};
    *check = pi_check{digits - 16, 0, 0, 0};
}

// A pi_driver playing fake_script, with the engine's progress steps spread over the
// computation's wall-clock time.
inline void fake_driver(int digits, pi_result *result, pi_progress_callback callback,
                        void *user_data, pi_check *check) {
    const fake_computation &plan = next_fake_computation();
    *result = pi_result{};
    *check = pi_check{};
    if (plan.kind == fake_kind::interrupt) {
        interrupt_and_hang();
    }
    if (plan.kind == fake_kind::hang) {
        hang();
    }
    if (plan.kind == fake_kind::no_memory) {
        set_message(result, "Memory allocation failed");
        return;
    }
    const int steps = pi_estimate_iterations(digits);
    for (int step = 1; step <= steps; ++step) {
        advance_fake_clock(plan.wall_seconds / steps);
        if (callback != nullptr) {
            callback(step, step * 4, user_data, 0);
        }
    }
    if (plan.kind == fake_kind::verified) {
        fake_verified(digits, plan.processor_seconds, result, check);
        return;
    }
    result->digits = digits;
    result->time_seconds = plan.processor_seconds;
    *check = pi_check{16, 17, 0, 1};
    set_message(result, "Computed digits of pi are wrong from digit 17: the machine made an "
                        "arithmetic error");
}

// A pi_value_calculator playing fake_script; its verified computations are the engine's.
inline void fake_value(int digits, pi_result *result, pi_progress_callback callback,
                       void *user_data, pi_check *check, pi_value_hook hook, void *hook_data) {
    const fake_computation plan = next_fake_computation();
    *result = pi_result{};
    switch (plan.kind) {
    case fake_kind::interrupt:
        interrupt_and_hang();
    case fake_kind::hang:
        hang();
    case fake_kind::no_memory:
        set_message(result, "Memory allocation failed");
        return;
    case fake_kind::wrong:
        set_message(result, "Computed digits of pi are wrong from digit 17: the machine made an "
                            "arithmetic error");
        return;
    case fake_kind::verified:
        pi_calculate_checked_value(digits, result, callback, user_data, check, hook, hook_data);
        return;
    }
}

inline cli_engine fake_engine() {
    return {fake_driver, fake_value, fake_now};
}

#endif
