// What the window keeps of its benchmarks: the report record of the last one, made from what
// the worker handed over, and its save in the results store, done off the main loop.
#ifndef TESSARY_WINDOW_RESULTS_H
#define TESSARY_WINDOW_RESULTS_H

#include "report/report_record.h"
#include "window/main.h"

#include <optional>
#include <string>

struct window_results {
    // Of the running benchmark, taken at START.
    std::string started_at;
    run_conditions conditions{};
    // The last finished benchmark, with its comparison and save once the save is done.
    std::optional<report_record> last;
    int generation = 0; // finished benchmarks, so that a late save finds whether it is the last
    // Weak pointers: null once destroyed.
    GtkWidget *header_bar = nullptr; // the window's, for a failed save's word in the subtitle
    GtkWidget *details = nullptr;    // the last benchmark's open Details dialog
    GtkWidget *history = nullptr;    // the open History dialog
};

// Keeps `*slot` pointing at `widget` until it is destroyed, then null.
void watch_widget(GtkWidget *widget, GtkWidget **slot);

// At START: the time and what else the machine is doing.
void note_benchmark_start(window_results &results);

// On the main loop once the worker has handed over the result and, unless it could not be
// allocated, the runs: the record of the benchmark becomes the last one, and its save starts
// on a thread of GLib's pool.
void keep_benchmark(app_state *state, const worker_outcome *outcome);

#endif
