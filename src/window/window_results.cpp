#include "window/window_results.h"

#include "results/report_history.h"
#include "window/details_dialog.h"
#include "window/history_dialog.h"

#include <chrono>

namespace {

int saves_running = 0; // on the main thread only

// The engine's record of the benchmark, as report_record's builders take it.
engine_benchmark engine_record(const pi_result &result, const worker_outcome *outcome) {
    engine_benchmark benchmark;
    benchmark.result = result;
    if (outcome) {
        benchmark.runs_done = outcome->runs_done;
        for (int i = 0; i < outcome->runs_done; ++i) {
            benchmark.runs[i] = outcome->runs[i];
            benchmark.checks[i] = outcome->checks[i];
            benchmark.run_wall_seconds[i] = outcome->run_wall_seconds[i];
        }
        benchmark.wall_seconds = outcome->wall_seconds;
    }
    return benchmark;
}

// One benchmark's save, from the main loop to the pool's thread and back.
struct save_job {
    app_state *state;
    int generation;
    report_record record;
};

void save_in_thread(GTask *task, gpointer, gpointer data, GCancellable *) {
    auto *job = static_cast<save_job *>(data);
    std::string why;
    const std::string path = default_results_path(why);
    if (path.empty()) {
        job->record.saved = save_outcome{false, 0, why};
    } else {
        compare_and_save(path, job->record);
    }
    g_task_return_boolean(task, TRUE);
}

// The subtitle of the last benchmark ("Finished at 14:32:05") says it was not saved, until the
// next START; Details says why.
void tell_unsaved(const window_results &results) {
    GtkHeaderBar *bar = GTK_HEADER_BAR(results.header_bar);
    const char *subtitle = gtk_header_bar_get_subtitle(bar);
    const std::string unsaved = std::string(subtitle ? subtitle : "") + " \u00b7 not saved";
    gtk_header_bar_set_subtitle(bar, unsaved.c_str());
}

void on_saved(GObject *, GAsyncResult *result, gpointer) {
    auto *job = static_cast<save_job *>(g_task_get_task_data(G_TASK(result)));
    window_results &results = *job->state->results;
    --saves_running;
    const save_outcome &saved = *job->record.saved;
    if (!saved.saved) {
        g_printerr("tessary: The result was not saved: %s\n", saved.message.c_str());
    }
    if (results.generation != job->generation) {
        return; // a later benchmark is the last one now
    }
    if (!saved.saved && !job->state->running && results.header_bar) {
        tell_unsaved(results);
    }
    results.last = job->record;
    if (results.details) {
        update_details_dialog(results.details, *results.last);
    }
    if (results.history) {
        reload_history_dialog(results.history);
    }
}

void start_save(app_state *state, const report_record &record) {
    auto *job = new save_job{state, state->results->generation, record};
    GTask *task = g_task_new(nullptr, nullptr, on_saved, nullptr);
    g_task_set_task_data(task, job, [](gpointer data) { delete static_cast<save_job *>(data); });
    ++saves_running;
    g_task_run_in_thread(task, save_in_thread);
    g_object_unref(task);
}

} // namespace

window_results *window_results_new() {
    return new window_results;
}

void window_results_free(window_results *results) {
    delete results;
}

int window_saves_running() {
    return saves_running;
}

void watch_widget(GtkWidget *widget, GtkWidget **slot) {
    *slot = widget;
    g_object_add_weak_pointer(G_OBJECT(widget), reinterpret_cast<gpointer *>(slot));
}

void note_benchmark_start(window_results &results) {
    results.started_at = utc_timestamp(std::chrono::system_clock::now());
    get_run_conditions(&results.conditions);
}

void keep_benchmark(app_state *state, const worker_outcome *outcome) {
    window_results &results = *state->results;
    report_record record = single_core_benchmark_record(
        engine_record(state->result, outcome), state->sysinfo, running_versions("tessary"));
    record.started_at = results.started_at;
    record.conditions = results.conditions;
    ++results.generation;
    results.last = record;
    if (results.details) {
        update_details_dialog(results.details, *results.last);
    }
    start_save(state, record);
}
