#include "cli/progress_bar.h"

#include "cli/console.h"
#include "report/number_style.h"

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstring>

namespace {

// Redraws at most this often: small computations report thousands of steps a second.
constexpr auto redraw_interval = std::chrono::milliseconds(100);
// The graphic's cells: narrower than the least, the bar goes without it.
constexpr int least_cells = 10;
constexpr int most_cells = 30;
// Columns the bar leaves free at the end of the line: a terminal wraps at its last column,
// also when it echoes Ctrl-C's "^C" after the bar.
constexpr int bar_margin = 3;

// "0:07", "12:34", "1:02:03".
std::string clock_text(double seconds) {
    const long long total = std::llround(std::max(seconds, 0.0));
    char text[32];
    if (total >= 3600) {
        std::snprintf(text, sizeof text, "%lld:%02lld:%02lld", total / 3600, total / 60 % 60,
                      total % 60);
    } else {
        std::snprintf(text, sizeof text, "%lld:%02lld", total / 60, total % 60);
    }
    return text;
}

} // namespace

std::string bar_line(const bar_view &view, int columns) {
    const auto width = static_cast<std::size_t>(std::max(columns - bar_margin, 1));
    const double share = std::clamp(view.share, 0.0, 1.0);
    char percent[8];
    std::snprintf(percent, sizeof percent, "%3d%%  ", static_cast<int>(std::floor(share * 100)));
    const std::string elapsed = clock_text(view.elapsed_seconds) + " elapsed";
    const std::string left =
        view.remaining_seconds >= 0 ? clock_text(view.remaining_seconds) + " left" : "";
    const std::string head = view.label + "  ";
    const std::string tail = percent + elapsed + (left.empty() ? "" : ", " + left);
    // Room for the tail as it will be once the time left is known, so that the graphic
    // keeps its size.
    const std::size_t tail_room =
        std::max(tail.size(), std::strlen(percent) + elapsed.size() + std::strlen(", 0:00 left"));
    const std::size_t used = head.size() + tail_room + 3; // "[", "] "
    if (used + least_cells <= width) {
        const auto cells = static_cast<int>(std::min<std::size_t>(width - used, most_cells));
        const auto done = static_cast<int>(std::floor(share * cells));
        return head + "[" + std::string(static_cast<std::size_t>(done), '#') +
               std::string(static_cast<std::size_t>(cells - done), '-') + "] " + tail;
    }
    std::string line = head + tail;
    if (line.size() > width && !left.empty()) {
        line = head + percent + left;
    }
    line.resize(std::min(line.size(), width));
    return line;
}

// Under the lock.
void progress_bar::start(int threads) {
    slots.assign(static_cast<std::size_t>(threads), thread_slot{this});
    started = clock();
    active = true;
    draw(true);
}

void progress_bar::start_work(int threads, int runs_per_thread, int steps, std::string name) {
    const std::lock_guard lock(mutex);
    stress = false;
    runs = std::max(runs_per_thread, 1);
    steps_per_run = std::max(steps, 1);
    caption = std::move(name);
    start(threads);
}

void progress_bar::start_stress(int threads, double seconds) {
    const std::lock_guard lock(mutex);
    stress = true;
    runs = 1;
    stress_seconds = seconds;
    start(threads);
}

void progress_bar::report(int step, int, void *slot_data, double) {
    auto *slot = static_cast<thread_slot *>(slot_data);
    progress_bar &bar = *slot->bar;
    const std::lock_guard lock(bar.mutex);
    slot->steps = std::max(slot->steps, step);
    bar.draw(false);
}

void progress_bar::computation_finished(int index) {
    const std::lock_guard lock(mutex);
    ++slots[static_cast<std::size_t>(index)].finished;
    draw(true);
}

void progress_bar::stop() {
    const std::lock_guard lock(mutex);
    active = false;
    out.erase_bar();
}

// Each thread's share is the larger of its steps and its finished computations, so that a
// computation that fails without reporting steps still counts as work done.
double progress_bar::work_share() const {
    const double thread_steps = static_cast<double>(runs) * steps_per_run;
    double share = 0;
    for (const thread_slot &slot : slots) {
        share += std::min(
            1.0, std::max(slot.steps / thread_steps, static_cast<double>(slot.finished) / runs));
    }
    return share / static_cast<double>(slots.size());
}

int progress_bar::finished() const {
    int count = 0;
    for (const thread_slot &slot : slots) {
        count += slot.finished;
    }
    return count;
}

std::string progress_bar::label() const {
    const auto threads = static_cast<long long>(slots.size());
    if (stress) {
        return "Stress: " + counted(finished(), "computation", "computations");
    }
    if (threads > 1) {
        return counted(threads, "thread", "threads") + ": " + grouped(finished()) + " of " +
               grouped(threads * runs) + (runs == 1 ? " done" : " runs done");
    }
    if (runs > 1) {
        return "Run " + std::to_string(std::min(finished() + 1, runs)) + " of " +
               std::to_string(runs);
    }
    return caption;
}

bar_view progress_bar::view(wall_clock::time_point now) const {
    bar_view shown;
    shown.label = label();
    shown.elapsed_seconds = seconds_between(started, now);
    if (stress) {
        shown.share = stress_seconds > 0 ? shown.elapsed_seconds / stress_seconds : 1;
        shown.remaining_seconds = std::max(stress_seconds - shown.elapsed_seconds, 0.0);
    } else {
        shown.share = work_share();
        if (shown.share > 0) {
            shown.remaining_seconds = shown.elapsed_seconds * (1 - shown.share) / shown.share;
        }
    }
    return shown;
}

// Called from inside the engine, where nothing may be thrown: a bar that cannot be made is
// left out.
void progress_bar::draw(bool at_once) noexcept {
    try {
        if (!active || !out.shows_bar()) {
            return;
        }
        const auto now = clock();
        if (!at_once && now - last_drawn < redraw_interval) {
            return;
        }
        last_drawn = now;
        out.draw_bar(bar_line(view(now), out.columns()));
    } catch (...) {
    }
}
