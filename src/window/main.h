/* Tessary desktop application: the window, its state and its handlers. */
#ifndef TESSARY_MAIN_H
#define TESSARY_MAIN_H

#include <gtk/gtk.h>

#include "engine/pi_benchmark.h"
#include "probe/system_info.h"

#ifdef __cplusplus
extern "C" {
#endif

/* One per window, zero-filled, never released. Handlers of the window get it
 * as user data. The first seven fields are set by activate and never change. */
typedef struct app_state {
    GtkWidget *window;
    GtkWidget *drawing_area; /* the START button */
    GtkWidget *score_label;  /* results panel, first line */
    GtkWidget *time_label;   /* results panel, second line */
    GtkWidget *results_box;
    GtkWidget *sysinfo_box;
    GtkWidget *menu_button;
    /* Run control: running from the start of a benchmark until its result is shown. */
    int32_t running;
    int32_t pressed;          /* pointer held down inside the disc */
    double progress;          /* 0.0 to 1.0, drawn as the ring */
    int32_t total_steps;      /* progress steps of the running benchmark */
    int32_t last_posted_step; /* last progress step handed to the main loop */
    pi_result result;         /* written by the benchmark worker */
    system_info sysinfo;      /* probed once while the window is built */
    /* What the window says about runs, on the main thread only. */
    GtkWidget *header_bar;          /* its subtitle: how the run goes, then when it ended */
    GtkWidget *failure_dialog;      /* the last failure's message while it is shown */
    struct worker_outcome *outcome; /* the last benchmark's runs; null during a run */
    gint64 run_started_at;          /* monotonic time of START, in microseconds */
    int32_t current_run;            /* 1 to pi_benchmark_runs while a benchmark runs */
    guint clock_source;             /* the run's one-second clock; 0 when none */
    struct window_results *results; /* the last benchmark's report, its save, the dialogs */
} app_state;

/* What a window keeps of its benchmarks beyond the state record (see window_results.h);
 * activate makes one, which lives as long as the state. */
struct window_results *window_results_new(void);
void window_results_free(struct window_results *results);
/* Saves of finished benchmarks, of every window, still on their way to the results store. */
int window_saves_running(void);

/* One progress report on its way from the worker to the main loop; allocated
 * by the worker with malloc, freed by update_progress_ui. */
typedef struct progress_update {
    app_state *state;
    int32_t step;
} progress_update;

/* A run of the benchmark has begun: posted by the worker with malloc, freed by
 * update_run_ui. */
typedef struct run_update {
    app_state *state;
    int32_t run; /* 1 to pi_benchmark_runs */
} run_update;

/* What a benchmark measured beyond its result: every run's record and check (as
 * pi_calculate_5x8m_with returns them) and wall-clock time. Allocated by the
 * worker with malloc and handed to update_outcome_ui, which keeps it in the
 * state until the next START frees it. */
typedef struct worker_outcome {
    app_state *state;
    int32_t runs_done; /* runs the engine started; a wrong one ends the benchmark */
    pi_result runs[pi_benchmark_runs];
    pi_check checks[pi_benchmark_runs];
    double run_wall_seconds[pi_benchmark_runs];
    double wall_seconds; /* the whole benchmark */
} worker_outcome;

/* Handler of the application's "activate" signal: builds and shows one window. */
void activate(GtkApplication *app, gpointer user_data);
/* Handler of its "startup" signal: the application's actions and their keys
 * (Ctrl+Q quits, F10 opens a window's menu). */
void on_startup(GtkApplication *app, gpointer user_data);

/* Builders used by activate. */
GtkWidget *build_results_panel(app_state *state);
GtkWidget *build_system_panel(const system_info *info);
GtkWidget *add_system_row(GtkBox *panel, const char *caption, const char *value);

/* Window handlers; the user data is the window's app_state. */
void on_menu_button_clicked(GtkButton *button, gpointer user_data);
void show_about_dialog(GtkMenuItem *item, gpointer user_data);
/* The last benchmark's Details, and the History of the saved results. */
void show_last_details(GtkMenuItem *item, gpointer user_data);
void show_history(GtkMenuItem *item, gpointer user_data);
gboolean on_draw(GtkWidget *widget, cairo_t *cr, gpointer user_data);
gboolean on_button_press(GtkWidget *widget, GdkEventButton *event, gpointer user_data);
gboolean on_button_release(GtkWidget *widget, GdkEventButton *event, gpointer user_data);
/* Space or Enter on the focused START button starts a run as a click does. */
gboolean on_key_press(GtkWidget *widget, GdkEventKey *event, gpointer user_data);

/* The benchmark worker: its argument is a malloc'ed cell holding the app_state
 * pointer, which it frees. It runs the engine's five-run benchmark, each run
 * timed, and posts to the main loop the progress, the start of each run, the
 * runs' outcome and the result; it never touches a widget. */
void *benchmark_thread(void *cell);
/* The engine's progress callback, on the worker; user_data is the app_state. */
void progress_callback(int step, int precision_digits, void *user_data, double iteration_seconds);
/* Idle callbacks on the main thread; each runs once. update_progress_ui,
 * update_run_ui and update_outcome_ui take over their records; update_results_ui
 * gets the app_state. */
gboolean update_progress_ui(gpointer update);
gboolean update_run_ui(gpointer update);
gboolean update_outcome_ui(gpointer outcome);
gboolean update_results_ui(gpointer state);

#ifdef __cplusplus
}
#endif

#endif
