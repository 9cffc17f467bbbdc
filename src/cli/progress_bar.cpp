#include "cli/progress_bar.h"

#include <algorithm>

namespace {

// Redraws at most this often: small computations report thousands of steps a second.
constexpr auto redraw_interval = std::chrono::milliseconds(100);
constexpr int bar_width = 20;

double seconds_between(std::chrono::steady_clock::time_point from,
                       std::chrono::steady_clock::time_point to) {
    return std::chrono::duration<double>(to - from).count();
}

} // namespace

void progress_bar::start(std::string new_label, int threads, int steps_per_thread, int digits) {
    const std::lock_guard lock(mutex);
    label = std::move(new_label);
    slots.assign(static_cast<std::size_t>(threads), thread_slot{this});
    total_steps = std::max(threads * steps_per_thread, 1);
    target_digits = digits;
    started = std::chrono::steady_clock::now();
    last_drawn = {};
}

void progress_bar::report(int step, int precision_digits, void *slot_data, double) {
    auto *slot = static_cast<thread_slot *>(slot_data);
    progress_bar &bar = *slot->bar;
    const std::lock_guard lock(bar.mutex);
    slot->step = step;
    slot->precision_digits = precision_digits;
    bar.draw(false);
}

void progress_bar::end_line() {
    const std::lock_guard lock(mutex);
    if (line_open) {
        draw(true);
        std::fputc('\n', terminal);
        std::fflush(terminal);
        line_open = false;
    }
}

// The steps of every thread together, and the precision that every thread's current
// computation has reached, held at the digits the computations target: the engine's last
// estimate passes the digit count.
void progress_bar::draw(bool at_once) {
    const auto now = std::chrono::steady_clock::now();
    if (!at_once && line_open && now - last_drawn < redraw_interval) {
        return;
    }
    last_drawn = now;
    int steps = 0;
    int precision = target_digits;
    for (const thread_slot &slot : slots) {
        steps += slot.step;
        precision = std::min(precision, slot.precision_digits);
    }
    const int filled = std::clamp(steps * bar_width / total_steps, 0, bar_width);
    std::fprintf(terminal, "\r%s [%.*s%*s] %3d%%, %d of %d digits, %.0f s ", label.c_str(), filled,
                 "####################", bar_width - filled, "",
                 std::clamp(steps * 100 / total_steps, 0, 100), std::max(precision, 0),
                 target_digits, seconds_between(started, now));
    std::fflush(terminal);
    line_open = true;
}
