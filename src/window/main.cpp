#include "window/main.h"

#include "probe/system_rows.h"

#include <gtk/gtk-a11y.h>
#include <pthread.h>

#include <algorithm>
#include <cmath>
#include <cstddef>
#include <cstdio>
#include <cstdlib>
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

extern "C" const char tessary_style_sheet[] =
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
    ".sysinfo-value {  font-family: 'Courier New', monospace;}"
    "messagedialog {  background-color: #f5f5f5;}";

namespace {

constexpr int window_width = 400;
constexpr int window_height = 510;
constexpr char icon_path[] = "/com/tessary/gtk/icon.png";
constexpr char empty_score_markup[] = "<span size='xx-large' weight='bold'>--</span>";
constexpr char score_tooltip[] =
    "Higher is faster. The mean score of the five runs, each computed from the digits of pi "
    "it produced (8,388,608) and the processor time it took.";
constexpr char time_tooltip[] =
    "Processor time of the five runs together, in seconds. It counts only the time the "
    "processor spent on the benchmark, so it can be less than the time on a clock.";
constexpr char start_button_name[] = "Start benchmark";
constexpr char start_button_description[] =
    "Computes 8,388,608 digits of pi five times, then shows the score and the processor time. "
    "Takes a minute or more.";
constexpr char about_details[] = "A cross-platform Pi calculation benchmark\n"
                                 "\n"
                                 "Version " TESSARY_VERSION "\n"
                                 "Copyright \u00a9 2026 the Tessary developers\n"
                                 "\n"
                                 "https://tessary.org";

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

// The sheet applies to every window of the screen. The About dialog's node is
// "messagedialog", which the "window" rule does not reach: it has a rule of its own.
void install_style_sheet() {
    g_autoptr(GtkCssProvider) provider = gtk_css_provider_new();
    gtk_css_provider_load_from_data(provider, tessary_style_sheet, -1, nullptr);
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

    state->menu_button = gtk_button_new_from_icon_name("open-menu-symbolic", GTK_ICON_SIZE_BUTTON);
    gtk_widget_set_tooltip_text(state->menu_button, "Menu");
    gtk_widget_set_can_focus(state->menu_button, FALSE);
    g_signal_connect(state->menu_button, "clicked", G_CALLBACK(on_menu_button_clicked), state);
    gtk_header_bar_pack_end(GTK_HEADER_BAR(header), state->menu_button);
    return header;
}

void on_menu_selection_done(GtkMenuShell *menu, gpointer) {
    // A fresh menu is built on every click; drop this one once it has been used or dismissed.
    gtk_widget_destroy(GTK_WIDGET(menu));
}

// The menu with its one item, hanging from the menu button: its top-right corner
// at the button's bottom-right corner.
GtkMenuShell *popup_menu(app_state *state) {
    GtkWidget *menu = gtk_menu_new();
    GtkWidget *about = gtk_menu_item_new_with_label("About");
    g_signal_connect(about, "activate", G_CALLBACK(show_about_dialog), state);
    gtk_menu_shell_append(GTK_MENU_SHELL(menu), about);
    g_signal_connect(menu, "selection-done", G_CALLBACK(on_menu_selection_done), nullptr);
    gtk_widget_show_all(menu);
    gtk_menu_popup_at_widget(GTK_MENU(menu), state->menu_button, GDK_GRAVITY_SOUTH_EAST,
                             GDK_GRAVITY_NORTH_EAST, nullptr);
    return GTK_MENU_SHELL(menu);
}

// F10: the menu, with its first item selected so that Enter opens About.
void on_show_menu(GSimpleAction *, GVariant *, gpointer user_data) {
    gtk_menu_shell_select_first(popup_menu(static_cast<app_state *>(user_data)), FALSE);
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
// and these three widgets, which a run therefore keeps referenced until its
// result has been shown. Progress updates are posted before the result, at the
// same priority, so they all run while the references are still held.
void hold_run_widgets(const app_state *state) {
    g_object_ref(state->drawing_area);
    g_object_ref(state->score_label);
    g_object_ref(state->time_label);
}

void release_run_widgets(const app_state *state) {
    g_object_unref(state->drawing_area);
    g_object_unref(state->score_label);
    g_object_unref(state->time_label);
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

// What a screen reader says about the button: what it does, or how far the run has got.
void describe_run(const app_state *state) {
    AtkObject *accessible = gtk_widget_get_accessible(state->drawing_area);
    if (!state->running) {
        atk_object_set_description(accessible, start_button_description);
        return;
    }
    char text[64];
    std::snprintf(text, sizeof text, "Benchmark running: %d%% done",
                  static_cast<int>(state->progress * 100));
    atk_object_set_description(accessible, text);
}

// Called when a run starts or ends: the button is busy exactly while a run goes.
void announce_run(const app_state *state) {
    atk_object_notify_state_change(gtk_widget_get_accessible(state->drawing_area), ATK_STATE_BUSY,
                                   state->running);
    describe_run(state);
}

// Starts a benchmark unless one is running: the result labels back to "--", the
// run-control fields set, all before the worker that reads them. True when a
// worker was started.
bool start_run(app_state *state) {
    if (state->running) {
        return false;
    }
    gtk_label_set_markup(GTK_LABEL(state->score_label), empty_score_markup);
    gtk_label_set_text(GTK_LABEL(state->time_label), "--");
    state->total_steps = pi_benchmark_steps();
    state->last_posted_step = -999; // the first report is always posted
    state->running = 1;
    state->progress = 0.0;
    gtk_widget_queue_draw(state->drawing_area);

    hold_run_widgets(state);
    if (!start_worker(state)) {
        // No worker, no result to wait for: back to idle at once.
        release_run_widgets(state);
        state->running = 0;
        gtk_widget_queue_draw(state->drawing_area);
        return false;
    }
    announce_run(state);
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

// The theme's focus outline (colour, width, solid, dashed or dotted), drawn as a
// circle in the gap of 2 between the disc and the ring, so that it touches neither.
void draw_focus_ring(cairo_t *cr, GtkWidget *widget, const button_geometry &g) {
    GtkStyleContext *context = gtk_widget_get_style_context(widget);
    GdkRGBA *colour = nullptr;
    GtkBorderStyle style = GTK_BORDER_STYLE_NONE;
    int width = 0;
    gtk_style_context_get(context, gtk_style_context_get_state(context), "outline-color", &colour,
                          "outline-style", &style, "outline-width", &width, nullptr);
    if (style != GTK_BORDER_STYLE_NONE && style != GTK_BORDER_STYLE_HIDDEN) {
        const double line_width = std::clamp(width, 1, 2); // no wider than the gap
        const double radius = g.disc_radius() + 1;
        cairo_save(cr);
        gdk_cairo_set_source_rgba(cr, colour);
        cairo_set_line_width(cr, line_width);
        if (style == GTK_BORDER_STYLE_DASHED || style == GTK_BORDER_STYLE_DOTTED) {
            // Dashes of three widths, or dots, spaced evenly round the whole circle.
            const bool dotted = style == GTK_BORDER_STYLE_DOTTED;
            const double period = (dotted ? 2 : 6) * line_width;
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
    describe_run(state);
    return area;
}

std::string plain_count(long long count) {
    return std::to_string(count);
}

// Captions and values of the system panel are each other's labels for assistive technologies.
void relate_caption(GtkWidget *caption, GtkWidget *value) {
    AtkObject *caption_accessible = gtk_widget_get_accessible(caption);
    AtkObject *value_accessible = gtk_widget_get_accessible(value);
    atk_object_add_relationship(caption_accessible, ATK_RELATION_LABEL_FOR, value_accessible);
    atk_object_add_relationship(value_accessible, ATK_RELATION_LABELLED_BY, caption_accessible);
}

// A result line: its tooltip says what the number is, and a screen reader names it.
void explain_result(GtkWidget *label, const char *name, const char *tooltip) {
    gtk_widget_set_tooltip_text(label, tooltip);
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

    for (const system_row &row : system_rows(*info, plain_count)) {
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
    explain_result(state->score_label, "Score", score_tooltip);
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
    get_system_info(&state->sysinfo);
    install_style_sheet();

    state->window = gtk_application_window_new(app);
    GtkWindow *window = GTK_WINDOW(state->window);
    gtk_window_set_default_size(window, window_width, window_height);
    gtk_window_set_resizable(window, FALSE);
    gtk_window_set_position(window, GTK_WIN_POS_CENTER);
    set_window_icon(window);
    gtk_window_set_titlebar(window, build_header_bar(state));

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

    set_source(cr, state->running   ? running_disc_colour
                   : state->pressed ? pressed_disc_colour
                                    : idle_disc_colour);
    cairo_arc(cr, g.centre_x, g.centre_y, g.disc_radius(), 0, full_turn);
    cairo_fill(cr);
    if (gtk_widget_has_visible_focus(widget)) {
        draw_focus_ring(cr, widget, g);
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

void *benchmark_thread(void *cell) {
    app_state *state = *static_cast<app_state **>(cell);
    pi_calculate_5x8m(&state->result, progress_callback, state);
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
        describe_run(state);
    }
    std::free(update);
    return G_SOURCE_REMOVE;
}

// Shows the score and the processor time of a successful benchmark; a failed
// one leaves both lines at "--". Either way the button becomes idle again.
gboolean update_results_ui(gpointer data) {
    auto *state = static_cast<app_state *>(data);
    const pi_result &result = state->result;
    if (result.success) {
        char text[512];
        std::snprintf(text, sizeof text, "%.0f", result.score);
        g_autofree char *markup = g_markup_printf_escaped(
            "<span foreground='#000080' size='xx-large' weight='bold'>%s</span>", text);
        gtk_label_set_markup(GTK_LABEL(state->score_label), markup);
        std::snprintf(text, sizeof text, "%.3f sec", result.time_seconds);
        gtk_label_set_text(GTK_LABEL(state->time_label), text);
    }
    state->running = 0;
    gtk_widget_queue_draw(state->drawing_area);
    announce_run(state);
    release_run_widgets(state);
    return G_SOURCE_REMOVE;
}
