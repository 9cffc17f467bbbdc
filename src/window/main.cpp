#include "window/main.h"

#include "probe/system_rows.h"
#include "window/details_dialog.h"
#include "window/history_dialog.h"
#include "window/window_results.h"

#include <gtk/gtk-a11y.h>
#include <pthread.h>

#include <algorithm>
#include <cmath>
#include <cstddef>
#include <cstdio>
#include <cstdlib>
#include <regex>
#include <string>
#include <string_view>

#include "tessary_version.h"

// The layout other code relies on: widgets first, then run control, result and probe.
static_assert(offsetof(app_state, running) == 7 * sizeof(GtkWidget *));
static_assert(offsetof(app_state, pressed) == offsetof(app_state, running) + 4);
static_assert(offsetof(app_state, progress) == offsetof(app_state, running) + 8);
static_assert(offsetof(app_state, total_steps) == offsetof(app_state, progress) + 8);
static_assert(offsetof(app_state, last_posted_step) == offsetof(app_state, total_steps) + 4);
static_assert(offsetof(app_state, result) == offsetof(app_state, last_posted_step) + 4);
static_assert(offsetof(app_state, sysinfo) == offsetof(app_state, result) + sizeof(pi_result));
static_assert(offsetof(progress_update, step) == sizeof(app_state *));
// Fields added since follow the probe's record.
static_assert(offsetof(app_state, header_bar) >=
              offsetof(app_state, sysinfo) + sizeof(system_info));

namespace {

// Rules 2, 5 and 6 match no widget of the window; they belong to the sheet all the same.
// Dialogs are left to the theme, so that they read well in light and dark ones alike.
constexpr char style_sheet[] =
    "window {  background-color: #f5f5f5;}"
    "#title {  font-size: 32px;  font-weight: bold;  color: #2c3e50;  padding: 20px;}"
    "#results-box {  background-color: #D3D3D3;  border: 0.5px solid #3C3C3C;  "
    "border-radius: 16px;  padding: 16px;}"
    "#results-title {  font-size: 20px;  font-weight: bold;  color: #000000;}"
    ".result-row {  font-size: 14px;  color: #000000;}"
    ".result-label {  font-weight: 600;  color: #000000;}"
    ".result-value {  font-family: 'Courier New', monospace;  color: #000000;}"
    "#sysinfo-box {  background-color: #D3D3D3;  border: 0.5px solid #3C3C3C;  "
    "border-radius: 16px;  padding: 16px;}"
    ".sysinfo-row {  font-size: 12px;  color: #000000;}"
    ".sysinfo-label {  font-weight: 600;  color: #808080;}"
    ".sysinfo-value {  font-family: 'Courier New', monospace;}";

constexpr int window_width = 400;
constexpr int window_height = 510;
constexpr char icon_path[] = "/com/tessary/gtk/icon.png";
constexpr char empty_score_markup[] = "<span size='xx-large' weight='bold'>--</span>";
constexpr char time_tooltip[] =
    "Processor time of the five runs together, in seconds. It counts only the time the "
    "processor spent on the benchmark, so it can be less than the time on a clock.";
constexpr char start_button_name[] = "Start benchmark";
constexpr char about_details[] = "A cross-platform Pi calculation benchmark\n"
                                 "\n"
                                 "Version " TESSARY_VERSION "\n"
                                 "Copyright \u00a9 2026 the Tessary developers\n"
                                 "\n"
                                 "https://tessary.org";

// --- Numbers and times as the user's locale writes them ---

// Grouped in thousands with the locale's separator; the C locale does not group.
std::string grouped_count(long long count) {
    char text[32];
    std::snprintf(text, sizeof text, "%'lld", count);
    return text;
}

// With the locale's decimal point and grouping.
std::string grouped_decimal(double value, int decimals) {
    char text[512];
    std::snprintf(text, sizeof text, "%'.*f", decimals, value);
    return text;
}

// The engine's English messages group their counts with commas ("from digit 5,731,204");
// the window writes them as it writes every other number.
std::string with_local_counts(std::string_view message) {
    static const std::regex comma_grouped(R"(\b\d{1,3}(,\d{3}){1,5}\b)");
    const std::string text(message);
    std::string local;
    auto copied = text.cbegin();
    for (std::sregex_iterator match(text.begin(), text.end(), comma_grouped), end; match != end;
         ++match) {
        std::string digits = match->str();
        std::erase(digits, ',');
        local.append(copied, (*match)[0].first);
        local += grouped_count(std::stoll(digits));
        copied = (*match)[0].second;
    }
    local.append(copied, text.cend());
    return local;
}

std::string score_tooltip() {
    return "Higher is faster. The mean score of the five runs, each computed from the digits of "
           "pi it produced (" +
           grouped_count(pi_benchmark_digits) + ") and the processor time it took.";
}

std::string start_button_description() {
    return "Computes " + grouped_count(pi_benchmark_digits) +
           " digits of pi five times, then shows the score and the processor time. Takes a "
           "minute or more.";
}

// "0:14", or "1:02:03" from an hour on.
std::string elapsed_text(gint64 microseconds) {
    const long long seconds = microseconds / G_USEC_PER_SEC;
    char text[32];
    if (seconds < 3600) {
        std::snprintf(text, sizeof text, "%lld:%02lld", seconds / 60, seconds % 60);
    } else {
        std::snprintf(text, sizeof text, "%lld:%02lld:%02lld", seconds / 3600, seconds / 60 % 60,
                      seconds % 60);
    }
    return text;
}

// The clock time now, as the locale writes it ("14:32:05").
std::string time_of_day() {
    g_autoptr(GDateTime) now = g_date_time_new_now_local();
    g_autofree char *text = g_date_time_format(now, "%X");
    return text ? text : "";
}

// Every box in the window stacks its children at their requested sizes.
void pack(GtkWidget *box, GtkWidget *child, guint padding = 0) {
    gtk_box_pack_start(GTK_BOX(box), child, FALSE, FALSE, padding);
}

void add_style_class(GtkWidget *widget, const char *style_class) {
    gtk_style_context_add_class(gtk_widget_get_style_context(widget), style_class);
}

void set_margins(GtkWidget *widget, int start, int end, int top, int bottom) {
    gtk_widget_set_margin_start(widget, start);
    gtk_widget_set_margin_end(widget, end);
    gtk_widget_set_margin_top(widget, top);
    gtk_widget_set_margin_bottom(widget, bottom);
}

// The sheet applies to every window of the screen. Dialogs' nodes ("messagedialog") are
// not "window": they keep the theme's colours.
void install_style_sheet() {
    g_autoptr(GtkCssProvider) provider = gtk_css_provider_new();
    gtk_css_provider_load_from_data(provider, style_sheet, -1, nullptr);
    gtk_style_context_add_provider_for_screen(gdk_screen_get_default(),
                                              GTK_STYLE_PROVIDER(provider),
                                              GTK_STYLE_PROVIDER_PRIORITY_APPLICATION);
}

// A missing or undecodable icon leaves the window without one, silently.
void set_window_icon(GtkWindow *window) {
    g_autoptr(GError) error = nullptr;
    g_autoptr(GdkPixbuf) icon = gdk_pixbuf_new_from_resource(icon_path, &error);
    if (!icon) {
        return;
    }
    gtk_window_set_icon(window, icon);
    GList *icons = g_list_append(nullptr, icon);
    gtk_window_set_default_icon_list(icons);
    g_list_free(icons);
}

GtkWidget *build_header_bar(app_state *state) {
    GtkWidget *header = gtk_header_bar_new();
    gtk_header_bar_set_show_close_button(GTK_HEADER_BAR(header), TRUE);
    gtk_header_bar_set_title(GTK_HEADER_BAR(header), "Tessary");
    // The subtitle's line is kept free when empty, so a subtitle changes no size.
    gtk_header_bar_set_has_subtitle(GTK_HEADER_BAR(header), TRUE);
    state->header_bar = header;

    // Named and in the Tab order, so that keyboard and screen-reader users reach the menu.
    state->menu_button = gtk_button_new_from_icon_name("open-menu-symbolic", GTK_ICON_SIZE_BUTTON);
    gtk_widget_set_tooltip_text(state->menu_button, "Menu");
    atk_object_set_name(gtk_widget_get_accessible(state->menu_button), "Menu");
    g_signal_connect(state->menu_button, "clicked", G_CALLBACK(on_menu_button_clicked), state);
    gtk_header_bar_pack_end(GTK_HEADER_BAR(header), state->menu_button);
    return header;
}

void on_menu_selection_done(GtkMenuShell *menu, gpointer) {
    // A fresh menu is built on every click; drop this one once it has been used or dismissed.
    gtk_widget_destroy(GTK_WIDGET(menu));
}

GtkWidget *add_menu_item(GtkWidget *menu, const char *label, GCallback handler, app_state *state) {
    GtkWidget *item = gtk_menu_item_new_with_label(label);
    g_signal_connect(item, "activate", handler, state);
    gtk_menu_shell_append(GTK_MENU_SHELL(menu), item);
    return item;
}

// The menu, hanging from the menu button: its top-right corner at the button's bottom-right
// corner. Details waits for a finished benchmark.
GtkMenuShell *popup_menu(app_state *state) {
    GtkWidget *menu = gtk_menu_new();
    GtkWidget *details = add_menu_item(menu, "Details", G_CALLBACK(show_last_details), state);
    gtk_widget_set_sensitive(details, state->results->last.has_value());
    add_menu_item(menu, "History", G_CALLBACK(show_history), state);
    gtk_menu_shell_append(GTK_MENU_SHELL(menu), gtk_separator_menu_item_new());
    add_menu_item(menu, "About", G_CALLBACK(show_about_dialog), state);
    g_signal_connect(menu, "selection-done", G_CALLBACK(on_menu_selection_done), nullptr);
    gtk_widget_show_all(menu);
    gtk_menu_popup_at_widget(GTK_MENU(menu), state->menu_button, GDK_GRAVITY_SOUTH_EAST,
                             GDK_GRAVITY_NORTH_EAST, nullptr);
    return GTK_MENU_SHELL(menu);
}

// F10: the menu, with its first item that can be used selected.
void on_show_menu(GSimpleAction *, GVariant *, gpointer user_data) {
    gtk_menu_shell_select_first(popup_menu(static_cast<app_state *>(user_data)), TRUE);
}

void on_quit(GSimpleAction *, GVariant *, gpointer app) {
    g_application_quit(G_APPLICATION(app));
}

// START button geometry, from the drawing area's current allocation.
struct button_geometry {
    double centre_x;
    double centre_y;
    double outer_radius; // the ring's outer edge
    double disc_radius() const { return outer_radius - 11; }
    double ring_radius() const { return outer_radius - 4.5; } // a 9-wide pen: gap of 2 to the disc
};

button_geometry geometry_of(GtkWidget *area) {
    const unsigned width = gtk_widget_get_allocated_width(area);
    const unsigned height = gtk_widget_get_allocated_height(area);
    return {width * 0.5, height * 0.5, (width < height ? width : height) * 0.5};
}

// On or inside the disc's edge; the ring band around it does not count.
bool inside_disc(GtkWidget *area, double x, double y) {
    const button_geometry g = geometry_of(area);
    const double dx = x - g.centre_x;
    const double dy = y - g.centre_y;
    return dx * dx + dy * dy <= g.disc_radius() * g.disc_radius();
}

struct rgb {
    double red, green, blue;
};

constexpr rgb background_colour = {0.960784, 0.960784, 0.960784};
constexpr rgb track_colour = {0.8, 0.8, 0.8};
constexpr rgb progress_colour = {0.298039, 0.686275, 0.313725};
constexpr rgb running_disc_colour = {0.588235, 0.588235, 0.588235};
constexpr rgb pressed_disc_colour = {0.176471, 0.470588, 0.823529};
constexpr rgb idle_disc_colour = {0.258824, 0.529412, 0.960784};
constexpr double full_turn = 6.283185307179586;
constexpr double quarter_turn = 1.5707963267948966;

void set_source(cairo_t *cr, const rgb &colour) {
    cairo_set_source_rgba(cr, colour.red, colour.green, colour.blue, 1.0);
}

// A run's idle callbacks reach the window after the worker has posted them,
// possibly after the window was destroyed (another window may keep the
// application going). They use only the state record, which is never released,
// and these four widgets, which a run therefore keeps referenced until its
// result has been shown. Progress updates are posted before the result, at the
// same priority, so they all run while the references are still held.
void hold_run_widgets(const app_state *state) {
    g_object_ref(state->drawing_area);
    g_object_ref(state->score_label);
    g_object_ref(state->time_label);
    g_object_ref(state->header_bar);
}

void release_run_widgets(const app_state *state) {
    g_object_unref(state->drawing_area);
    g_object_unref(state->score_label);
    g_object_unref(state->time_label);
    g_object_unref(state->header_bar);
}

// False once the window of the run has been destroyed: its header bar and
// dialogs are then left alone.
bool has_window(const app_state *state) {
    return gtk_widget_is_toplevel(gtk_widget_get_toplevel(state->drawing_area));
}

// step - last as a signed 32-bit difference, wrapping instead of overflowing.
int32_t steps_since(int32_t last, int32_t step) {
    return static_cast<int32_t>(static_cast<uint32_t>(step) - static_cast<uint32_t>(last));
}

// Hands the state record to a detached worker in a heap cell that the worker
// frees. False when the cell or the thread could not be made.
bool start_worker(app_state *state) {
    auto *cell = static_cast<app_state **>(std::malloc(sizeof(app_state *)));
    if (!cell) {
        return false;
    }
    *cell = state;
    pthread_t thread;
    if (pthread_create(&thread, nullptr, benchmark_thread, cell) != 0) {
        std::free(cell);
        return false;
    }
    pthread_detach(thread);
    return true;
}

void describe_start_button(const app_state *state, const std::string &description) {
    atk_object_set_description(gtk_widget_get_accessible(state->drawing_area), description.c_str());
}

// How far the running benchmark has got, in the header bar ("Run 2 of 5 · 0:14")
// and in words for screen readers.
void show_run_progress(const app_state *state) {
    if (!state->running || !has_window(state)) {
        return;
    }
    const std::string run = std::to_string(state->current_run);
    const std::string runs = std::to_string(pi_benchmark_runs);
    const std::string elapsed = elapsed_text(g_get_monotonic_time() - state->run_started_at);
    const std::string subtitle = "Run " + run + " of " + runs + " \u00b7 " + elapsed;
    gtk_header_bar_set_subtitle(GTK_HEADER_BAR(state->header_bar), subtitle.c_str());
    describe_start_button(
        state, "Benchmark running: run " + run + " of " + runs + ", " + elapsed + " elapsed, " +
                   std::to_string(static_cast<int>(state->progress * 100)) + "% done");
}

gboolean on_clock_tick(gpointer state);

// The run's clock shows each whole second since START, between progress reports too:
// each tick is set for the next second, so the clock neither drifts nor skips.
void schedule_clock_tick(app_state *state) {
    const gint64 elapsed_ms = (g_get_monotonic_time() - state->run_started_at) / 1000;
    state->clock_source = g_timeout_add(1000 - elapsed_ms % 1000, on_clock_tick, state);
}

gboolean on_clock_tick(gpointer data) {
    auto *state = static_cast<app_state *>(data);
    show_run_progress(state);
    schedule_clock_tick(state);
    return G_SOURCE_REMOVE;
}

void stop_clock(app_state *state) {
    if (state->clock_source != 0) {
        g_source_remove(state->clock_source);
        state->clock_source = 0;
    }
}

// The engine's account of a failed benchmark, then each run that failed for a reason of
// its own: a run without its memory, say. The wrong run's reason is the account itself.
std::string failure_text(const pi_result &result, const worker_outcome *outcome) {
    std::string text = result.error_message[0] != '\0' ? with_local_counts(result.error_message)
                                                       : "The benchmark failed.";
    for (int i = 0; outcome && i < outcome->runs_done; ++i) {
        const pi_result &run = outcome->runs[i];
        if (!run.success && run.error_message[0] != '\0' &&
            outcome->checks[i].first_wrong_digit == 0) {
            text += "\nRun " + std::to_string(i + 1) + ": " + with_local_counts(run.error_message);
        }
    }
    return text;
}

// Whoever started the program from a terminal, or reads the session's journal, sees the
// reasons as well, one line each.
void print_failure(const std::string &reasons) {
    std::string_view rest = reasons;
    while (!rest.empty()) {
        const std::size_t end = std::min(rest.find('\n'), rest.size());
        g_printerr("tessary: %.*s\n", static_cast<int>(end), rest.data());
        rest.remove_prefix(std::min(end + 1, rest.size()));
    }
}

// A message that a screen reader announces (its role is "alert"), beside the window, so
// that it stays until it is closed or the next run starts.
void show_failure_dialog(app_state *state, const std::string &reasons) {
    GtkWidget *dialog =
        gtk_message_dialog_new(GTK_WINDOW(state->window), GTK_DIALOG_DESTROY_WITH_PARENT,
                               GTK_MESSAGE_ERROR, GTK_BUTTONS_CLOSE, "The benchmark failed");
    gtk_message_dialog_format_secondary_text(GTK_MESSAGE_DIALOG(dialog), "%s", reasons.c_str());
    g_signal_connect_swapped(dialog, "response", G_CALLBACK(gtk_widget_destroy), dialog);
    state->failure_dialog = dialog;
    g_object_add_weak_pointer(G_OBJECT(dialog),
                              reinterpret_cast<gpointer *>(&state->failure_dialog));
    gtk_widget_show(dialog);
}

// When the benchmark ended, in the header bar, so that a finished run and a failed one
// both differ from a window that never ran; a failure's reasons also in a dialog, on
// standard error and, until the next run, in the button's description.
void show_run_end(app_state *state) {
    const bool failed = !state->result.success;
    const std::string reasons = failed ? failure_text(state->result, state->outcome) : "";
    if (failed) {
        print_failure(reasons);
    }
    if (!has_window(state)) {
        return;
    }
    const std::string when = time_of_day();
    gtk_header_bar_set_subtitle(GTK_HEADER_BAR(state->header_bar),
                                ((failed ? "Failed at " : "Finished at ") + when).c_str());
    describe_start_button(state,
                          start_button_description() +
                              (failed ? " The last benchmark failed at " + when + ": " + reasons
                                      : " The last benchmark finished at " + when + "."));
    if (failed) {
        show_failure_dialog(state, reasons);
    }
}

// Called when a run starts or ends: the button is busy exactly while a run goes.
void announce_run(const app_state *state) {
    atk_object_notify_state_change(gtk_widget_get_accessible(state->drawing_area), ATK_STATE_BUSY,
                                   state->running);
    show_run_progress(state);
}

// What the last benchmark left: its message and its runs. Gone at the next START.
void forget_last_benchmark(app_state *state) {
    if (state->failure_dialog) {
        gtk_widget_destroy(state->failure_dialog);
    }
    std::free(state->outcome);
    state->outcome = nullptr;
}

// Starts a benchmark unless one is running: the result labels back to "--", the
// run-control fields set, all before the worker that reads them. True when a
// worker was started.
bool start_run(app_state *state) {
    if (state->running) {
        return false;
    }
    forget_last_benchmark(state);
    gtk_label_set_markup(GTK_LABEL(state->score_label), empty_score_markup);
    gtk_label_set_text(GTK_LABEL(state->time_label), "--");
    state->total_steps = pi_benchmark_steps();
    state->last_posted_step = -999; // the first report is always posted
    state->running = 1;
    state->progress = 0.0;
    state->current_run = 1;
    state->run_started_at = g_get_monotonic_time();
    note_benchmark_start(*state->results);
    gtk_widget_queue_draw(state->drawing_area);

    hold_run_widgets(state);
    if (!start_worker(state)) {
        // No worker, no result to wait for: back to idle at once, as before any run.
        release_run_widgets(state);
        state->running = 0;
        gtk_widget_queue_draw(state->drawing_area);
        gtk_header_bar_set_subtitle(GTK_HEADER_BAR(state->header_bar), nullptr);
        describe_start_button(state, start_button_description());
        return false;
    }
    announce_run(state);
    schedule_clock_tick(state);
    return true;
}

// Space and Enter without modifiers, as they press a GTK button.
bool is_activation_key(const GdkEventKey *event) {
    if (event->state & gtk_accelerator_get_default_mod_mask()) {
        return false;
    }
    switch (event->keyval) {
    case GDK_KEY_space:
    case GDK_KEY_KP_Space:
    case GDK_KEY_Return:
    case GDK_KEY_KP_Enter:
    case GDK_KEY_ISO_Enter:
        return true;
    default:
        return false;
    }
}

// WCAG's relative luminance of an sRGB colour.
double luminance(const rgb &colour) {
    auto linear = [](double c) {
        return c <= 0.04045 ? c / 12.92 : std::pow((c + 0.055) / 1.055, 2.4);
    };
    return 0.2126 * linear(colour.red) + 0.7152 * linear(colour.green) +
           0.0722 * linear(colour.blue);
}

double contrast(const rgb &a, const rgb &b) {
    const double la = luminance(a);
    const double lb = luminance(b);
    return (std::max(la, lb) + 0.05) / (std::min(la, lb) + 0.05);
}

// The focus outline's colour: the theme's, where it shows at least 3:1 against all it
// touches (the background, the disc, the ring's track while running); otherwise navy,
// which does against every look of the button. The window keeps its light colours in
// every theme, so a dark theme's light outline, or a faint one, would hardly show.
rgb focus_colour(const GdkRGBA &theme, const rgb &disc, bool running) {
    const rgb on_background = {
        theme.red * theme.alpha + background_colour.red * (1 - theme.alpha),
        theme.green * theme.alpha + background_colour.green * (1 - theme.alpha),
        theme.blue * theme.alpha + background_colour.blue * (1 - theme.alpha)};
    const bool stands_out = contrast(on_background, background_colour) >= 3 &&
                            contrast(on_background, disc) >= 3 &&
                            (!running || contrast(on_background, track_colour) >= 3);
    constexpr rgb navy = {0, 0, 0.501961};
    return stands_out ? on_background : navy;
}

// The theme's focus outline (solid, dashed or dotted) in a colour that stands out,
// drawn as a circle filling the gap of 2 between the disc and the ring.
void draw_focus_ring(cairo_t *cr, GtkWidget *widget, const button_geometry &g, const rgb &disc,
                     bool running) {
    GtkStyleContext *context = gtk_widget_get_style_context(widget);
    GdkRGBA *colour = nullptr;
    GtkBorderStyle style = GTK_BORDER_STYLE_NONE;
    gtk_style_context_get(context, gtk_style_context_get_state(context), "outline-color", &colour,
                          "outline-style", &style, nullptr);
    if (style != GTK_BORDER_STYLE_NONE && style != GTK_BORDER_STYLE_HIDDEN) {
        const double line_width = 2;
        const double radius = g.disc_radius() + 1;
        cairo_save(cr);
        set_source(cr, focus_colour(*colour, disc, running));
        cairo_set_line_width(cr, line_width);
        if (style == GTK_BORDER_STYLE_DASHED || style == GTK_BORDER_STYLE_DOTTED) {
            // Dashes of three widths, or dots a width apart, spaced evenly round the circle.
            const bool dotted = style == GTK_BORDER_STYLE_DOTTED;
            const double period = (dotted ? 3 : 6) * line_width;
            const double count = std::max(1.0, std::round(full_turn * radius / period));
            const double fitted = full_turn * radius / count;
            const double dashes[] = {dotted ? 0 : fitted / 2, dotted ? fitted : fitted / 2};
            cairo_set_dash(cr, dashes, 2, 0);
            cairo_set_line_cap(cr, dotted ? CAIRO_LINE_CAP_ROUND : CAIRO_LINE_CAP_BUTT);
        }
        cairo_arc(cr, g.centre_x, g.centre_y, radius, 0, full_turn);
        cairo_stroke(cr);
        cairo_restore(cr);
    }
    gdk_rgba_free(colour);
}

// --- The START button's widget and what assistive technologies see of it ---

// A drawing area that knows its window's state, so that its accessible can
// report the run. Its accessible is a push button that is busy while a run goes
// and whose one action, "click", starts a run as a click does.
struct start_button {
    GtkDrawingArea parent;
    app_state *state;
};

struct start_button_class {
    GtkDrawingAreaClass parent_class;
};

struct start_button_accessible {
    GtkWidgetAccessible parent;
};

struct start_button_accessible_class {
    GtkWidgetAccessibleClass parent_class;
};

GType start_button_accessible_type();
GType start_button_type();

// The state of the window whose START button this accessible stands for, or
// null once the widget is gone.
app_state *state_of(AtkObject *accessible) {
    GtkWidget *widget = gtk_accessible_get_widget(GTK_ACCESSIBLE(accessible));
    if (!widget || !G_TYPE_CHECK_INSTANCE_TYPE(widget, start_button_type())) {
        return nullptr;
    }
    return reinterpret_cast<start_button *>(widget)->state;
}

AtkStateSet *ref_start_button_states(AtkObject *accessible) {
    auto *parent = ATK_OBJECT_CLASS(
        g_type_class_peek_parent(g_type_class_peek(start_button_accessible_type())));
    AtkStateSet *states = parent->ref_state_set(accessible);
    const app_state *state = state_of(accessible);
    if (state && state->running) {
        atk_state_set_add_state(states, ATK_STATE_BUSY);
    }
    return states;
}

gboolean do_start_button_action(AtkAction *action, int index) {
    app_state *state = state_of(ATK_OBJECT(action));
    return index == 0 && state && start_run(state);
}

int count_start_button_actions(AtkAction *) {
    return 1;
}

const char *name_start_button_action(AtkAction *, int index) {
    return index == 0 ? "click" : nullptr;
}

const char *describe_start_button_action(AtkAction *, int index) {
    return index == 0 ? "Starts the benchmark" : nullptr;
}

void init_start_button_action(gpointer interface, gpointer) {
    auto *action = static_cast<AtkActionIface *>(interface);
    action->do_action = do_start_button_action;
    action->get_n_actions = count_start_button_actions;
    action->get_name = name_start_button_action;
    action->get_description = describe_start_button_action;
}

void init_start_button_accessible_class(gpointer klass, gpointer) {
    ATK_OBJECT_CLASS(klass)->ref_state_set = ref_start_button_states;
}

GType start_button_accessible_type() {
    static const GType type = [] {
        const GType registered = g_type_register_static_simple(
            GTK_TYPE_WIDGET_ACCESSIBLE, "TessaryStartButtonAccessible",
            sizeof(start_button_accessible_class), init_start_button_accessible_class,
            sizeof(start_button_accessible), nullptr, GTypeFlags{});
        const GInterfaceInfo action = {init_start_button_action, nullptr, nullptr};
        g_type_add_interface_static(registered, ATK_TYPE_ACTION, &action);
        return registered;
    }();
    return type;
}

void init_start_button_class(gpointer klass, gpointer) {
    GtkWidgetClass *widget = GTK_WIDGET_CLASS(klass);
    gtk_widget_class_set_accessible_type(widget, start_button_accessible_type());
    gtk_widget_class_set_accessible_role(widget, ATK_ROLE_PUSH_BUTTON);
}

GType start_button_type() {
    static const GType type = g_type_register_static_simple(
        GTK_TYPE_DRAWING_AREA, "TessaryStartButton", sizeof(start_button_class),
        init_start_button_class, sizeof(start_button), nullptr, GTypeFlags{});
    return type;
}

// A closed window's last benchmark can no longer be asked for.
void on_window_destroy(GtkWidget *, gpointer state) {
    forget_last_benchmark(static_cast<app_state *>(state));
}

// The keyboard focus indicator follows the window's "focus-visible": hidden
// until the keyboard is used.
void on_focus_visible_changed(GObject *, GParamSpec *, gpointer area) {
    gtk_widget_queue_draw(GTK_WIDGET(area));
}

GtkWidget *build_start_button(app_state *state) {
    auto *button = static_cast<start_button *>(g_object_new(start_button_type(), nullptr));
    button->state = state;
    state->drawing_area = GTK_WIDGET(button);
    GtkWidget *area = state->drawing_area;
    gtk_widget_set_size_request(area, 160, 160);
    gtk_widget_set_margin_top(area, 16);
    gtk_widget_set_margin_bottom(area, 16);
    gtk_widget_set_can_focus(area, TRUE);
    gtk_widget_add_events(area, GDK_BUTTON_PRESS_MASK | GDK_BUTTON_RELEASE_MASK |
                                    GDK_KEY_PRESS_MASK | GDK_FOCUS_CHANGE_MASK);
    g_signal_connect(area, "draw", G_CALLBACK(on_draw), state);
    g_signal_connect(area, "button-press-event", G_CALLBACK(on_button_press), state);
    g_signal_connect(area, "button-release-event", G_CALLBACK(on_button_release), state);
    g_signal_connect(area, "key-press-event", G_CALLBACK(on_key_press), state);
    atk_object_set_name(gtk_widget_get_accessible(area), start_button_name);
    describe_start_button(state, start_button_description());
    return area;
}

// Captions and values of the system panel are each other's labels for assistive technologies.
void relate_caption(GtkWidget *caption, GtkWidget *value) {
    AtkObject *caption_accessible = gtk_widget_get_accessible(caption);
    AtkObject *value_accessible = gtk_widget_get_accessible(value);
    atk_object_add_relationship(caption_accessible, ATK_RELATION_LABEL_FOR, value_accessible);
    atk_object_add_relationship(value_accessible, ATK_RELATION_LABELLED_BY, caption_accessible);
}

// A result line: its tooltip says what the number is, and a screen reader names it.
void explain_result(GtkWidget *label, const char *name, const std::string &tooltip) {
    gtk_widget_set_tooltip_text(label, tooltip.c_str());
    atk_object_set_name(gtk_widget_get_accessible(label), name);
}

} // namespace

GtkWidget *add_system_row(GtkBox *panel, const char *caption, const char *value) {
    GtkWidget *row = gtk_box_new(GTK_ORIENTATION_HORIZONTAL, 0);
    add_style_class(row, "sysinfo-row");
    pack(GTK_WIDGET(panel), row, 2);

    GtkWidget *caption_label = gtk_label_new(caption);
    gtk_widget_set_halign(caption_label, GTK_ALIGN_START);
    add_style_class(caption_label, "sysinfo-label");
    pack(row, caption_label);

    GtkWidget *value_label = gtk_label_new(value);
    gtk_widget_set_halign(value_label, GTK_ALIGN_END);
    add_style_class(value_label, "sysinfo-value");
    gtk_box_pack_end(GTK_BOX(row), value_label, FALSE, FALSE, 0);
    relate_caption(caption_label, value_label);
    return value_label;
}

GtkWidget *build_system_panel(const system_info *info) {
    GtkWidget *panel = gtk_box_new(GTK_ORIENTATION_VERTICAL, 0);
    gtk_widget_set_name(panel, "sysinfo-box");
    set_margins(panel, 20, 20, 0, 20);
    gtk_widget_set_size_request(panel, -1, 180);

    if (!info->valid) {
        GtkWidget *message = gtk_label_new(info->error_message);
        gtk_widget_set_halign(message, GTK_ALIGN_CENTER);
        gtk_label_set_line_wrap(GTK_LABEL(message), TRUE);
        pack(panel, message);
        return panel;
    }

    for (const system_row &row : system_rows(*info, grouped_count)) {
        GtkWidget *value = add_system_row(GTK_BOX(panel), row.caption, row.value.c_str());
        // Long model and OS texts are ellipsized so that they never widen the window.
        if (row.caption == std::string_view("CPU:") || row.caption == std::string_view("OS:")) {
            gtk_label_set_ellipsize(GTK_LABEL(value), PANGO_ELLIPSIZE_END);
            gtk_label_set_max_width_chars(GTK_LABEL(value), 40);
        }
    }
    return panel;
}

GtkWidget *build_results_panel(app_state *state) {
    GtkWidget *panel = gtk_box_new(GTK_ORIENTATION_VERTICAL, 0);
    gtk_widget_set_name(panel, "results-box");
    set_margins(panel, 20, 20, 16, 16);
    gtk_widget_set_size_request(panel, -1, 100);

    state->score_label = gtk_label_new(nullptr);
    gtk_label_set_markup(GTK_LABEL(state->score_label), empty_score_markup);
    gtk_widget_set_name(state->score_label, "results-title");
    gtk_widget_set_halign(state->score_label, GTK_ALIGN_CENTER);
    gtk_widget_set_margin_bottom(state->score_label, 10);
    explain_result(state->score_label, "Score", score_tooltip());
    pack(panel, state->score_label);

    state->time_label = gtk_label_new("--");
    gtk_widget_set_halign(state->time_label, GTK_ALIGN_CENTER);
    add_style_class(state->time_label, "result-value");
    explain_result(state->time_label, "Processor time", time_tooltip);
    pack(panel, state->time_label);
    return panel;
}

void activate(GtkApplication *app, gpointer) {
    auto *state = static_cast<app_state *>(g_malloc0(sizeof(app_state)));
    state->results = window_results_new();
    get_system_info(&state->sysinfo);
    install_style_sheet();

    state->window = gtk_application_window_new(app);
    GtkWindow *window = GTK_WINDOW(state->window);
    gtk_window_set_default_size(window, window_width, window_height);
    gtk_window_set_resizable(window, FALSE);
    gtk_window_set_position(window, GTK_WIN_POS_CENTER);
    g_signal_connect(window, "destroy", G_CALLBACK(on_window_destroy), state);
    set_window_icon(window);
    gtk_window_set_titlebar(window, build_header_bar(state));
    watch_widget(state->header_bar, &state->results->header_bar);

    GtkWidget *column = gtk_box_new(GTK_ORIENTATION_VERTICAL, 0);
    gtk_container_add(GTK_CONTAINER(window), column);
    pack(column, build_start_button(state));
    state->results_box = build_results_panel(state);
    pack(column, state->results_box);
    state->sysinfo_box = build_system_panel(&state->sysinfo);
    pack(column, state->sysinfo_box);

    const GActionEntry window_actions[] = {
        {"show-menu", on_show_menu, nullptr, nullptr, nullptr, {}}};
    g_action_map_add_action_entries(G_ACTION_MAP(window), window_actions,
                                    G_N_ELEMENTS(window_actions), state);
    g_signal_connect_object(window, "notify::focus-visible", G_CALLBACK(on_focus_visible_changed),
                            state->drawing_area, GConnectFlags{});
    gtk_widget_grab_focus(state->drawing_area);
    gtk_widget_show_all(state->window);
}

void on_startup(GtkApplication *app, gpointer) {
    const GActionEntry app_actions[] = {{"quit", on_quit, nullptr, nullptr, nullptr, {}}};
    g_action_map_add_action_entries(G_ACTION_MAP(app), app_actions, G_N_ELEMENTS(app_actions), app);
    const char *const quit_keys[] = {"<Primary>q", nullptr};
    gtk_application_set_accels_for_action(app, "app.quit", quit_keys);
    const char *const menu_keys[] = {"F10", nullptr};
    gtk_application_set_accels_for_action(app, "win.show-menu", menu_keys);
}

void on_menu_button_clicked(GtkButton *, gpointer user_data) {
    popup_menu(static_cast<app_state *>(user_data));
}

void show_about_dialog(GtkMenuItem *, gpointer user_data) {
    const auto *state = static_cast<const app_state *>(user_data);
    GtkWidget *dialog = gtk_message_dialog_new(GTK_WINDOW(state->window), GTK_DIALOG_MODAL,
                                               GTK_MESSAGE_OTHER, GTK_BUTTONS_OK, "Tessary");
    gtk_message_dialog_format_secondary_text(GTK_MESSAGE_DIALOG(dialog), "%s", about_details);
    gtk_dialog_run(GTK_DIALOG(dialog));
    gtk_widget_destroy(dialog);
}

void show_last_details(GtkMenuItem *, gpointer user_data) {
    auto *state = static_cast<app_state *>(user_data);
    window_results &results = *state->results;
    if (!results.last) {
        return;
    }
    if (results.details) {
        gtk_window_present(GTK_WINDOW(results.details));
        return;
    }
    watch_widget(show_details_dialog(GTK_WINDOW(state->window), *results.last), &results.details);
}

void show_history(GtkMenuItem *, gpointer user_data) {
    auto *state = static_cast<app_state *>(user_data);
    window_results &results = *state->results;
    if (results.history) {
        reload_history_dialog(results.history);
        gtk_window_present(GTK_WINDOW(results.history));
        return;
    }
    watch_widget(show_history_dialog(GTK_WINDOW(state->window)), &results.history);
}

// Background, the progress ring while running, the disc in the colour of its
// state, and the word START centred on the disc by its ink.
gboolean on_draw(GtkWidget *widget, cairo_t *cr, gpointer user_data) {
    const auto *state = static_cast<const app_state *>(user_data);
    const button_geometry g = geometry_of(widget);

    cairo_set_source_rgb(cr, background_colour.red, background_colour.green,
                         background_colour.blue);
    cairo_paint(cr);
    cairo_set_antialias(cr, CAIRO_ANTIALIAS_BEST);

    if (state->running) {
        cairo_set_line_width(cr, 9);
        cairo_set_line_cap(cr, CAIRO_LINE_CAP_ROUND);
        set_source(cr, track_colour);
        cairo_arc(cr, g.centre_x, g.centre_y, g.ring_radius(), 0, full_turn);
        cairo_stroke(cr);
        if (state->progress > 0) {
            // From the top, clockwise on screen.
            set_source(cr, progress_colour);
            cairo_arc(cr, g.centre_x, g.centre_y, g.ring_radius(), -quarter_turn,
                      state->progress * full_turn - quarter_turn);
            cairo_stroke(cr);
        }
    }

    const rgb &disc = state->running   ? running_disc_colour
                      : state->pressed ? pressed_disc_colour
                                       : idle_disc_colour;
    set_source(cr, disc);
    cairo_arc(cr, g.centre_x, g.centre_y, g.disc_radius(), 0, full_turn);
    cairo_fill(cr);
    if (gtk_widget_has_visible_focus(widget)) {
        draw_focus_ring(cr, widget, g, disc, state->running);
    }

    cairo_select_font_face(cr, "Sans", CAIRO_FONT_SLANT_NORMAL, CAIRO_FONT_WEIGHT_NORMAL);
    cairo_set_font_size(cr, 32);
    cairo_set_source_rgb(cr, 1, 1, 1);
    cairo_text_extents_t extents;
    cairo_text_extents(cr, "START", &extents);
    cairo_move_to(cr, g.centre_x - extents.x_bearing - 0.5 * extents.width,
                  g.centre_y - extents.y_bearing - 0.5 * extents.height);
    cairo_show_text(cr, "START");
    return FALSE;
}

gboolean on_button_press(GtkWidget *widget, GdkEventButton *event, gpointer user_data) {
    auto *state = static_cast<app_state *>(user_data);
    if (state->running) {
        return GDK_EVENT_STOP;
    }
    if (inside_disc(widget, event->x, event->y)) {
        state->pressed = 1;
        gtk_widget_queue_draw(widget);
    }
    return GDK_EVENT_STOP;
}

gboolean on_button_release(GtkWidget *widget, GdkEventButton *event, gpointer user_data) {
    auto *state = static_cast<app_state *>(user_data);
    state->pressed = 0;
    gtk_widget_queue_draw(widget);
    if (!state->running && inside_disc(widget, event->x, event->y)) {
        start_run(state);
    }
    return GDK_EVENT_STOP;
}

gboolean on_key_press(GtkWidget *, GdkEventKey *event, gpointer user_data) {
    if (!is_activation_key(event)) {
        return GDK_EVENT_PROPAGATE;
    }
    start_run(static_cast<app_state *>(user_data));
    return GDK_EVENT_STOP;
}

// --- The benchmark worker and the updates it posts to the main loop ---

namespace {

// The benchmark a worker thread runs, for the driver of its runs, which the engine
// calls with its own user data.
struct worker_context {
    app_state *state;
    worker_outcome *outcome; // null when it could not be allocated: runs go untimed
    int runs_started;
};

thread_local worker_context *current_worker = nullptr;

double seconds_since(gint64 start) {
    return static_cast<double>(g_get_monotonic_time() - start) / G_USEC_PER_SEC;
}

void post_run_start(app_state *state, int run) {
    auto *update = static_cast<run_update *>(std::malloc(sizeof(run_update)));
    if (!update) {
        return; // the subtitle catches up with the next run
    }
    *update = {state, run};
    g_idle_add(update_run_ui, update);
}

// One run of the benchmark: the engine's checked computation, its start posted to the
// main loop, its wall-clock time kept with its record.
void timed_run(int digits, pi_result *result, pi_progress_callback callback, void *user_data,
               pi_check *check) {
    worker_context &worker = *current_worker;
    const int run = ++worker.runs_started;
    post_run_start(worker.state, run);
    const gint64 start = g_get_monotonic_time();
    pi_calculate_checked(digits, result, callback, user_data, check);
    if (worker.outcome && run <= pi_benchmark_runs) {
        worker.outcome->runs_done = run;
        worker.outcome->run_wall_seconds[run - 1] = seconds_since(start);
    }
}

} // namespace

void *benchmark_thread(void *cell) {
    app_state *state = *static_cast<app_state **>(cell);
    auto *outcome = static_cast<worker_outcome *>(std::malloc(sizeof(worker_outcome)));
    if (outcome) {
        *outcome = worker_outcome{};
        outcome->state = state;
    }
    worker_context worker{state, outcome, 0};
    current_worker = &worker;
    const gint64 start = g_get_monotonic_time();
    pi_calculate_5x8m_with(&state->result, progress_callback, state, timed_run,
                           outcome ? outcome->runs : nullptr, outcome ? outcome->checks : nullptr);
    if (outcome) {
        outcome->wall_seconds = seconds_since(start);
    }
    current_worker = nullptr;
    // The runs first: the result's callback finds them in the state.
    if (outcome) {
        g_idle_add(update_outcome_ui, outcome);
    }
    g_idle_add(update_results_ui, state);
    std::free(cell);
    return nullptr;
}

// On the worker: posts the first report, the final one and any that is at
// least two steps past the last one posted, so at most one report in two
// reaches the main loop and the ring never moves backwards.
void progress_callback(int step, int, void *user_data, double) {
    auto *state = static_cast<app_state *>(user_data);
    if (step != state->total_steps && steps_since(state->last_posted_step, step) < 2) {
        return;
    }
    state->last_posted_step = step;
    auto *update = static_cast<progress_update *>(std::malloc(sizeof(progress_update)));
    if (!update) {
        return; // a lost report only delays the ring until the next one
    }
    *update = {state, step};
    g_idle_add(update_progress_ui, update);
}

gboolean update_progress_ui(gpointer data) {
    auto *update = static_cast<progress_update *>(data);
    app_state *state = update->state;
    if (state->total_steps > 0) {
        state->progress = std::min(static_cast<double>(update->step) / state->total_steps, 1.0);
        gtk_widget_queue_draw(state->drawing_area);
        show_run_progress(state);
    }
    std::free(update);
    return G_SOURCE_REMOVE;
}

gboolean update_run_ui(gpointer data) {
    auto *update = static_cast<run_update *>(data);
    app_state *state = update->state;
    if (state->running) {
        state->current_run = update->run;
        show_run_progress(state);
    }
    std::free(update);
    return G_SOURCE_REMOVE;
}

// Kept for the window until its next START; a closed window's goes once the result is kept.
gboolean update_outcome_ui(gpointer data) {
    auto *outcome = static_cast<worker_outcome *>(data);
    app_state *state = outcome->state;
    std::free(state->outcome);
    state->outcome = outcome;
    return G_SOURCE_REMOVE;
}

// Shows the score and the processor time of a successful benchmark; a failed
// one leaves both lines at "--" and says why. Either way the button becomes idle
// again and the header bar says when the benchmark ended.
gboolean update_results_ui(gpointer data) {
    auto *state = static_cast<app_state *>(data);
    const pi_result &result = state->result;
    if (result.success) {
        g_autofree char *markup = g_markup_printf_escaped(
            "<span foreground='#000080' size='xx-large' weight='bold'>%s</span>",
            grouped_decimal(result.score, 0).c_str());
        gtk_label_set_markup(GTK_LABEL(state->score_label), markup);
        gtk_label_set_text(GTK_LABEL(state->time_label),
                           (grouped_decimal(result.time_seconds, 3) + " sec").c_str());
    }
    state->running = 0;
    stop_clock(state);
    gtk_widget_queue_draw(state->drawing_area);
    announce_run(state);
    show_run_end(state);
    keep_benchmark(state, state->outcome);
    if (!has_window(state)) {
        std::free(state->outcome);
        state->outcome = nullptr;
    }
    release_run_widgets(state);
    return G_SOURCE_REMOVE;
}
