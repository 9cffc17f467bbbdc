// The window as activate builds it, in a real X server, and the START button's
// painting and hit test.
#include "main_test_doubles.h"
#include "report/json_read.h"
#include "report/json_report.h"
#include "report/text_report.h"
#include "results/report_history.h"
#include "window/details_dialog.h"
#include "window/history_chart.h"
#include "window/history_dialog.h"
#include "window/main.h"
#include "window/window_results.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <clocale>
#include <cmath>
#include <cstdint>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <functional>
#include <iterator>
#include <map>
#include <regex>
#include <sstream>
#include <string>
#include <string_view>
#include <vector>

// For sanitizer builds: fontconfig keeps its caches until exit, and each
// window's state record lives as long as the process by design, so destroying
// the test windows leaves it unreachable. Allocation stacks are unwound fully
// so that they show activate even through GLib's allocator.
extern "C" const char *__lsan_default_suppressions() {
    return "leak:libfontconfig.so\nleak:^activate$\n";
}
extern "C" const char *__asan_default_options() {
    return "fast_unwind_on_malloc=0";
}

namespace {

// Benchmarks the tests finish are saved: into a store in a directory of this process's own,
// never the user's, set before any test runs and removed at exit.
struct private_data_home {
    std::filesystem::path directory;
    private_data_home() {
        g_autofree char *made = g_dir_make_tmp("tessary-data-XXXXXX", nullptr);
        directory = made ? made : "";
        g_setenv("XDG_DATA_HOME", made ? made : "/nonexistent/tessary-test", TRUE);
    }
    ~private_data_home() {
        if (!directory.empty()) {
            std::filesystem::remove_all(directory);
        }
    }
};
const private_data_home data_home;

// Waits for the saves of the benchmarks that a test finished.
bool saves_ended() {
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(10);
    while (window_saves_running() > 0) {
        if (std::chrono::steady_clock::now() > deadline) {
            return false;
        }
        g_main_context_iteration(nullptr, FALSE);
        g_usleep(1000);
    }
    return true;
}

// One registered application per process: registering runs its startup, which
// initialises GTK, and windows can only be added after that.
GtkApplication *test_application() {
    static GtkApplication *app = [] {
        GtkApplication *created =
            gtk_application_new("com.tessary.gtk.test", G_APPLICATION_NON_UNIQUE);
        g_autoptr(GError) error = nullptr;
        EXPECT_TRUE(g_application_register(G_APPLICATION(created), nullptr, &error))
            << (error ? error->message : "");
        on_startup(created, nullptr); // the program's actions and keys
        return created;
    }();
    return app;
}

// Runs the main loop until `done` holds or five seconds have passed. The time is the
// machine's, not the wall clock that the fake runs move on.
bool run_until(const std::function<bool()> &done) {
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(5);
    while (!done()) {
        if (std::chrono::steady_clock::now() > deadline) {
            return false;
        }
        g_main_context_iteration(nullptr, FALSE);
        g_usleep(1000);
    }
    return true;
}

std::vector<GtkWidget *> children(GtkWidget *container) {
    std::vector<GtkWidget *> result;
    GList *list = gtk_container_get_children(GTK_CONTAINER(container));
    for (GList *l = list; l; l = l->next) {
        result.push_back(GTK_WIDGET(l->data));
    }
    g_list_free(list);
    return result;
}

bool has_class(GtkWidget *widget, const char *style_class) {
    return gtk_style_context_has_class(gtk_widget_get_style_context(widget), style_class);
}

struct packing {
    gboolean expand;
    gboolean fill;
    guint padding;
    GtkPackType pack_type;
};

packing packing_of(GtkWidget *child) {
    packing p{};
    gtk_container_child_get(GTK_CONTAINER(gtk_widget_get_parent(child)), child, "expand", &p.expand,
                            "fill", &p.fill, "padding", &p.padding, "pack-type", &p.pack_type,
                            nullptr);
    return p;
}

GtkPackType pack_type_of(GtkWidget *child) {
    GtkPackType type = GTK_PACK_START;
    gtk_container_child_get(GTK_CONTAINER(gtk_widget_get_parent(child)), child, "pack-type", &type,
                            nullptr);
    return type;
}

void expect_margins(GtkWidget *widget, int start, int end, int top, int bottom) {
    EXPECT_EQ(gtk_widget_get_margin_start(widget), start);
    EXPECT_EQ(gtk_widget_get_margin_end(widget), end);
    EXPECT_EQ(gtk_widget_get_margin_top(widget), top);
    EXPECT_EQ(gtk_widget_get_margin_bottom(widget), bottom);
}

void expect_size_request(GtkWidget *widget, int width, int height) {
    int w = 0;
    int h = 0;
    gtk_widget_get_size_request(widget, &w, &h);
    EXPECT_EQ(w, width);
    EXPECT_EQ(h, height);
}

// Owns a g_malloc'ed string for the length of an expression.
struct g_autofree_string {
    explicit g_autofree_string(char *text) : text_(text) {}
    ~g_autofree_string() { g_free(text_); }
    char *text_;
};
std::ostream &operator<<(std::ostream &out, const g_autofree_string &s) {
    return out << s.text_;
}

GdkRGBA style_colour(GtkWidget *widget, const char *property) {
    GtkStyleContext *context = gtk_widget_get_style_context(widget);
    GdkRGBA *colour = nullptr;
    gtk_style_context_get(context, gtk_style_context_get_state(context), property, &colour,
                          nullptr);
    GdkRGBA result = *colour;
    gdk_rgba_free(colour);
    return result;
}

void expect_colour(GtkWidget *widget, const char *property, const char *expected) {
    GdkRGBA want;
    ASSERT_TRUE(gdk_rgba_parse(&want, expected));
    const GdkRGBA got = style_colour(widget, property);
    EXPECT_TRUE(gdk_rgba_equal(&got, &want))
        << property << " is " << g_autofree_string(gdk_rgba_to_string(&got)) << ", want "
        << expected;
}

std::vector<std::string> lines_of(const std::string &text) {
    std::vector<std::string> lines;
    std::istringstream in(text);
    for (std::string line; std::getline(in, line);) {
        lines.push_back(line);
    }
    return lines;
}

std::string label_text(GtkWidget *label) {
    return gtk_label_get_text(GTK_LABEL(label));
}

// The window built by activate, torn down after each test.
class MainWindow : public ::testing::Test {
  protected:
    void SetUp() override {
        GtkApplication *app = test_application();
        ASSERT_EQ(gtk_application_get_windows(app), nullptr);
        style_sheets::reset();
        activate(app, nullptr);
        GList *windows = gtk_application_get_windows(app);
        ASSERT_EQ(g_list_length(windows), 1u);
        window_ = GTK_WIDGET(windows->data);
        const std::vector<GtkWidget *> parts = children(gtk_bin_get_child(GTK_BIN(window_)));
        ASSERT_EQ(parts.size(), 3u);
        area_ = parts[0];
        results_ = parts[1];
        sysinfo_ = parts[2];
        ASSERT_TRUE(run_until([&] { return gtk_widget_get_allocated_width(area_) > 1; }));
    }
    void TearDown() override {
        fake_engine::release(); // a run that a failed test left held
        run_until([] { return fake_engine::finished() == fake_engine::started(); });
        // The last outcome's hand-over starts its save: let it, then wait for the save, which
        // must not outlive the test's data directory.
        run_until([] { return !gtk_events_pending(); });
        EXPECT_TRUE(saves_ended());
        if (window_) {
            gtk_widget_destroy(window_);
        }
        run_until([] { return !gtk_events_pending(); });
    }

    GtkWidget *menu_button() {
        GtkWidget *header = gtk_window_get_titlebar(GTK_WINDOW(window_));
        for (GtkWidget *child : children(header)) {
            if (GTK_IS_BUTTON(child)) {
                return child;
            }
        }
        return nullptr;
    }

    GtkWidget *window_ = nullptr;
    GtkWidget *area_ = nullptr;
    GtkWidget *results_ = nullptr;
    GtkWidget *sysinfo_ = nullptr;
};

TEST_F(MainWindow, IsAFixedSizeWindowWithAHeaderBar) {
    GtkWindow *window = GTK_WINDOW(window_);
    EXPECT_TRUE(GTK_IS_APPLICATION_WINDOW(window));
    int width = 0;
    int height = 0;
    gtk_window_get_default_size(window, &width, &height);
    EXPECT_EQ(width, 400);
    EXPECT_EQ(height, 510);
    EXPECT_FALSE(gtk_window_get_resizable(window));
    GtkWindowPosition position = GTK_WIN_POS_NONE;
    g_object_get(window, "window-position", &position, nullptr);
    EXPECT_EQ(position, GTK_WIN_POS_CENTER);
    EXPECT_EQ(gtk_widget_get_allocated_width(gtk_bin_get_child(GTK_BIN(window))), 400);

    GtkWidget *header = gtk_window_get_titlebar(window);
    ASSERT_TRUE(GTK_IS_HEADER_BAR(header));
    EXPECT_STREQ(gtk_header_bar_get_title(GTK_HEADER_BAR(header)), "Tessary");
    EXPECT_TRUE(gtk_header_bar_get_show_close_button(GTK_HEADER_BAR(header)));

    GtkWidget *button = menu_button();
    ASSERT_NE(button, nullptr);
    EXPECT_EQ(pack_type_of(button), GTK_PACK_END);
    g_autofree char *tooltip = gtk_widget_get_tooltip_text(button);
    EXPECT_STREQ(tooltip, "Menu");
    EXPECT_STREQ(atk_object_get_name(gtk_widget_get_accessible(button)), "Menu");
    EXPECT_TRUE(gtk_widget_get_can_focus(button));
    GtkWidget *image = gtk_button_get_image(GTK_BUTTON(button));
    ASSERT_TRUE(GTK_IS_IMAGE(image));
    const char *icon_name = nullptr;
    GtkIconSize icon_size = GTK_ICON_SIZE_INVALID;
    gtk_image_get_icon_name(GTK_IMAGE(image), &icon_name, &icon_size);
    EXPECT_STREQ(icon_name, "open-menu-symbolic");
    EXPECT_EQ(icon_size, GTK_ICON_SIZE_BUTTON);
}

TEST_F(MainWindow, StacksStartButtonResultsAndSystemPanel) {
    GtkWidget *column = gtk_widget_get_parent(area_);
    EXPECT_EQ(gtk_orientable_get_orientation(GTK_ORIENTABLE(column)), GTK_ORIENTATION_VERTICAL);
    EXPECT_EQ(gtk_box_get_spacing(GTK_BOX(column)), 0);
    for (GtkWidget *part : {area_, results_, sysinfo_}) {
        SCOPED_TRACE(G_OBJECT_TYPE_NAME(part));
        const packing p = packing_of(part);
        EXPECT_FALSE(p.expand);
        EXPECT_FALSE(p.fill);
        EXPECT_EQ(p.padding, 0u);
        EXPECT_EQ(p.pack_type, GTK_PACK_START);
    }

    ASSERT_TRUE(GTK_IS_DRAWING_AREA(area_));
    expect_size_request(area_, 160, 160);
    expect_margins(area_, 0, 0, 16, 16);
    const int events = gtk_widget_get_events(area_);
    EXPECT_TRUE(events & GDK_BUTTON_PRESS_MASK);
    EXPECT_TRUE(events & GDK_BUTTON_RELEASE_MASK);
    EXPECT_TRUE(gtk_widget_get_can_focus(area_));
    EXPECT_EQ(gtk_window_get_focus(GTK_WINDOW(window_)), area_) << "focused when the window opens";
    EXPECT_EQ(gtk_widget_get_allocated_width(area_), 400);
    EXPECT_EQ(gtk_widget_get_allocated_height(area_), 160);

    EXPECT_STREQ(gtk_widget_get_name(results_), "results-box");
    EXPECT_EQ(gtk_orientable_get_orientation(GTK_ORIENTABLE(results_)), GTK_ORIENTATION_VERTICAL);
    expect_margins(results_, 20, 20, 16, 16);
    expect_size_request(results_, -1, 100);
    const std::vector<GtkWidget *> lines = children(results_);
    ASSERT_EQ(lines.size(), 2u);

    GtkWidget *score = lines[0];
    EXPECT_STREQ(gtk_widget_get_name(score), "results-title");
    EXPECT_STREQ(gtk_label_get_label(GTK_LABEL(score)),
                 "<span size='xx-large' weight='bold'>--</span>");
    EXPECT_TRUE(gtk_label_get_use_markup(GTK_LABEL(score)));
    EXPECT_EQ(label_text(score), "--");
    EXPECT_EQ(gtk_widget_get_halign(score), GTK_ALIGN_CENTER);
    expect_margins(score, 0, 0, 0, 10);

    GtkWidget *time = lines[1];
    EXPECT_EQ(label_text(time), "--");
    EXPECT_FALSE(gtk_label_get_use_markup(GTK_LABEL(time)));
    EXPECT_EQ(gtk_widget_get_halign(time), GTK_ALIGN_CENTER);
    EXPECT_TRUE(has_class(time, "result-value"));
    for (GtkWidget *line : lines) {
        EXPECT_FALSE(packing_of(line).expand);
        EXPECT_EQ(packing_of(line).padding, 0u);
    }

    EXPECT_STREQ(gtk_widget_get_name(sysinfo_), "sysinfo-box");
    expect_margins(sysinfo_, 20, 20, 0, 20);
    expect_size_request(sysinfo_, -1, 180);
}

TEST_F(MainWindow, SystemPanelShowsThisMachine) {
    system_info info;
    get_system_info(&info);
    std::vector<std::pair<std::string, std::string>> expected = {
        {"CPU:", info.cpu_model},
        {"Cores:", std::to_string(info.physical_cores) + " cores (" +
                       std::to_string(info.logical_cores) + " logical)"},
        {"Memory:", std::to_string(info.memory_mb) + " MB"},
        {"OS:", std::string(info.os_name) + " " + info.kernel_release},
        {"Architecture:", info.architecture},
    };
    if (info.cpu_mhz > 0) {
        expected.insert(expected.begin() + 2,
                        {"Frequency:", std::to_string(info.cpu_mhz) + " MHz"});
    }
    const std::vector<GtkWidget *> rows = children(sysinfo_);
    ASSERT_EQ(rows.size(), expected.size());
    for (std::size_t i = 0; i < rows.size(); ++i) {
        SCOPED_TRACE(expected[i].first);
        const std::vector<GtkWidget *> labels = children(rows[i]);
        ASSERT_EQ(labels.size(), 2u);
        EXPECT_EQ(label_text(labels[0]), expected[i].first);
        EXPECT_EQ(label_text(labels[1]), expected[i].second);
    }
}

// The selectors of a sheet written as rules "selector {  name: value;  name: value;}"
// with nothing between them; empty when any part of the text has another form.
std::vector<std::string> selectors_of(const std::string &sheet) {
    // A value neither starts nor ends with a blank.
    static const std::regex rule(R"(([^ {}]+) \{(?:  [a-z-]+: [^ ;{}](?:[^;{}]*[^ ;{}])?;)+\})");
    std::vector<std::string> selectors;
    std::size_t consumed = 0;
    for (std::sregex_iterator match(sheet.begin(), sheet.end(), rule), end; match != end; ++match) {
        if (static_cast<std::size_t>(match->position()) != consumed) {
            return {};
        }
        consumed += match->length();
        selectors.push_back((*match)[1]);
    }
    return consumed == sheet.size() ? selectors : std::vector<std::string>{};
}

double style_number(GtkWidget *widget, const char *property) {
    GtkStyleContext *context = gtk_widget_get_style_context(widget);
    GValue value = G_VALUE_INIT;
    gtk_style_context_get_property(context, property, gtk_style_context_get_state(context), &value);
    const double number = G_VALUE_HOLDS_INT(&value)    ? g_value_get_int(&value)
                          : G_VALUE_HOLDS_ENUM(&value) ? g_value_get_enum(&value)
                                                       : g_value_get_double(&value);
    g_value_unset(&value);
    return number;
}

std::string font_family(GtkWidget *widget) {
    PangoFontDescription *font = nullptr;
    GtkStyleContext *context = gtk_widget_get_style_context(widget);
    gtk_style_context_get(context, gtk_style_context_get_state(context), "font", &font, nullptr);
    const std::string family = pango_font_description_get_family(font);
    pango_font_description_free(font);
    return family;
}

// The look the sheet gives a widget, in the properties its rules set.
void expect_look(GtkWidget *widget, const char *background, const char *colour,
                 double font_size = 0, int weight = 0) {
    if (background) {
        expect_colour(widget, "background-color", background);
    }
    if (colour) {
        expect_colour(widget, "color", colour);
    }
    if (font_size > 0) {
        EXPECT_DOUBLE_EQ(style_number(widget, "font-size"), font_size);
    }
    if (weight > 0) {
        EXPECT_EQ(style_number(widget, "font-weight"), weight);
    }
}

// A panel's rule: grey, a thin dark border, round corners, padding 16.
void expect_panel_look(GtkWidget *panel) {
    SCOPED_TRACE(gtk_widget_get_name(panel));
    expect_look(panel, "#D3D3D3", nullptr);
    expect_colour(panel, "border-top-color", "#3C3C3C");
    EXPECT_EQ(style_number(panel, "border-radius"), 16);
    GtkStyleContext *context = gtk_widget_get_style_context(panel);
    GtkBorder padding;
    gtk_style_context_get_padding(context, gtk_style_context_get_state(context), &padding);
    EXPECT_EQ(padding.left, 16);
    EXPECT_EQ(padding.top, 16);
}

// The sheet that activate loads, taken from its call of gtk_css_provider_load_from_data:
// eleven rules in one fixed form and order, each seen by its effect on a widget that
// carries its selector. Three of them match nothing in the window; they are tried on
// widgets of their own.
TEST_F(MainWindow, StyleSheetIsInstalledForTheScreen) {
    const std::vector<std::string> sheets = style_sheets::loaded();
    ASSERT_EQ(sheets.size(), 1u) << "activate loads one sheet";
    EXPECT_EQ(
        selectors_of(sheets[0]),
        (std::vector<std::string>{"window", "#title", "#results-box", "#results-title",
                                  ".result-row", ".result-label", ".result-value", "#sysinfo-box",
                                  ".sysinfo-row", ".sysinfo-label", ".sysinfo-value"}))
        << sheets[0];

    expect_look(window_, "#f5f5f5", nullptr);
    expect_panel_look(results_);
    expect_panel_look(sysinfo_);
    // A border half a pixel wide: on screen its pixels are half border colour, half grey.
    for (GtkWidget *panel : {results_, sysinfo_}) {
        GtkAllocation box;
        gtk_widget_get_allocation(panel, &box);
        int edge = -1;
        EXPECT_TRUE(run_until([&] {
            g_autoptr(GdkPixbuf) shot = gdk_pixbuf_get_from_window(
                gtk_widget_get_window(panel), box.x, box.y + box.height / 2, 1, 1);
            edge = shot ? gdk_pixbuf_get_pixels(shot)[0] : -1;
            return std::abs(edge - (0x3C + 0xD3) / 2) <= 12;
        })) << gtk_widget_get_name(panel)
            << " edge " << edge;
    }
    GtkWidget *score = children(results_)[0];
    GtkWidget *time = children(results_)[1];
    expect_look(score, nullptr, "#000000", 20, PANGO_WEIGHT_BOLD);
    expect_look(time, nullptr, "#000000");
    GtkWidget *first_row = children(sysinfo_)[0];
    GtkWidget *caption = children(first_row)[0];
    GtkWidget *value = children(first_row)[1];
    expect_look(first_row, nullptr, "#000000", 12);
    expect_look(caption, nullptr, "#808080", 0, 600);
    for (GtkWidget *monospaced : {time, value}) {
        EXPECT_EQ(font_family(monospaced), "Courier New,monospace");
    }

    // The rules that no widget of the window matches.
    GtkWidget *column = gtk_bin_get_child(GTK_BIN(window_));
    GtkWidget *title = gtk_label_new("Title");
    gtk_widget_set_name(title, "title");
    GtkWidget *result_row = gtk_label_new("Row");
    gtk_style_context_add_class(gtk_widget_get_style_context(result_row), "result-row");
    GtkWidget *result_label = gtk_label_new("Label");
    gtk_style_context_add_class(gtk_widget_get_style_context(result_label), "result-label");
    for (GtkWidget *extra : {title, result_row, result_label}) {
        gtk_box_pack_start(GTK_BOX(column), extra, FALSE, FALSE, 0);
    }
    expect_look(title, nullptr, "#2c3e50", 32, PANGO_WEIGHT_BOLD);
    GtkStyleContext *context = gtk_widget_get_style_context(title);
    GtkBorder padding;
    gtk_style_context_get_padding(context, gtk_style_context_get_state(context), &padding);
    EXPECT_EQ(padding.top, 20);
    EXPECT_EQ(padding.left, 20);
    expect_look(result_row, nullptr, "#000000", 14);
    expect_look(result_label, nullptr, "#000000", 0, 600);
}

TEST_F(MainWindow, IconComesFromTheCompressedResource) {
    guint32 flags = 0;
    gsize size = 0;
    ASSERT_TRUE(g_resources_get_info("/com/tessary/gtk/icon.png", G_RESOURCE_LOOKUP_FLAGS_NONE,
                                     &size, &flags, nullptr));
    EXPECT_TRUE(flags & G_RESOURCE_FLAGS_COMPRESSED);
    g_auto(GStrv) entries =
        g_resources_enumerate_children("/com/tessary/gtk/", G_RESOURCE_LOOKUP_FLAGS_NONE, nullptr);
    ASSERT_NE(entries, nullptr);
    EXPECT_EQ(g_strv_length(entries), 1u);
    EXPECT_STREQ(entries[0], "icon.png");

    // The bundle carries data/icon.png byte for byte.
    std::ifstream file(TESSARY_SOURCE_DIR "/data/icon.png", std::ios::binary);
    const std::string png((std::istreambuf_iterator<char>(file)), {});
    g_autoptr(GBytes) bundled =
        g_resources_lookup_data("/com/tessary/gtk/icon.png", G_RESOURCE_LOOKUP_FLAGS_NONE, nullptr);
    ASSERT_NE(bundled, nullptr);
    gsize length = 0;
    const auto *data = static_cast<const char *>(g_bytes_get_data(bundled, &length));
    EXPECT_EQ(std::string(data, length), png);

    GdkPixbuf *icon = gtk_window_get_icon(GTK_WINDOW(window_));
    ASSERT_NE(icon, nullptr);
    EXPECT_EQ(gdk_pixbuf_get_width(icon), 256);
    EXPECT_EQ(gdk_pixbuf_get_height(icon), 256);
    EXPECT_TRUE(gdk_pixbuf_get_has_alpha(icon));
    GList *defaults = gtk_window_get_default_icon_list();
    EXPECT_EQ(g_list_length(defaults), 1u);
    g_list_free(defaults);
}

// Finds a toplevel window of the given type, or the popup window holding a menu.
GtkWidget *find_toplevel(const std::function<bool(GtkWidget *)> &wanted) {
    GList *toplevels = gtk_window_list_toplevels();
    GtkWidget *found = nullptr;
    for (GList *l = toplevels; l && !found; l = l->next) {
        if (gtk_widget_get_visible(GTK_WIDGET(l->data)) && wanted(GTK_WIDGET(l->data))) {
            found = GTK_WIDGET(l->data);
        }
    }
    g_list_free(toplevels);
    return found;
}

GtkWidget *visible_menu() {
    GtkWidget *popup = find_toplevel([](GtkWidget *w) {
        GtkWidget *child = gtk_bin_get_child(GTK_BIN(w));
        return child && GTK_IS_MENU(child);
    });
    return popup ? gtk_bin_get_child(GTK_BIN(popup)) : nullptr;
}

// What the About dialog showed while it was up.
struct about_seen {
    bool shown = false;
    std::string text;
    std::string secondary;
    GtkMessageType type = GTK_MESSAGE_INFO;
    bool modal = false;
    GtkWindow *parent = nullptr;
    std::vector<std::string> buttons;
    GtkWidget *dialog = nullptr; // cleared when the dialog is destroyed
};

// Polls for the About dialog, records it and presses OK.
gboolean answer_about_dialog(gpointer data) {
    auto *seen = static_cast<about_seen *>(data);
    GtkWidget *dialog = find_toplevel([](GtkWidget *w) { return GTK_IS_MESSAGE_DIALOG(w); });
    if (!dialog || !gtk_widget_get_mapped(dialog)) {
        return G_SOURCE_CONTINUE;
    }
    seen->shown = true;
    g_autofree char *text = nullptr;
    g_autofree char *secondary = nullptr;
    g_object_get(dialog, "text", &text, "secondary-text", &secondary, "message-type", &seen->type,
                 nullptr);
    seen->text = text ? text : "";
    seen->secondary = secondary ? secondary : "";
    seen->modal = gtk_window_get_modal(GTK_WINDOW(dialog));
    seen->parent = gtk_window_get_transient_for(GTK_WINDOW(dialog));
    if (GtkWidget *ok = gtk_dialog_get_widget_for_response(GTK_DIALOG(dialog), GTK_RESPONSE_OK)) {
        for (GtkWidget *button : children(gtk_widget_get_parent(ok))) {
            seen->buttons.push_back(gtk_button_get_label(GTK_BUTTON(button)));
        }
    }
    seen->dialog = dialog;
    g_object_add_weak_pointer(G_OBJECT(dialog), reinterpret_cast<gpointer *>(&seen->dialog));
    gtk_dialog_response(GTK_DIALOG(dialog), GTK_RESPONSE_OK);
    return G_SOURCE_REMOVE;
}

TEST_F(MainWindow, MenuButtonOpensAboutDialog) {
    GtkWidget *button = menu_button();
    gtk_button_clicked(GTK_BUTTON(button));
    GtkWidget *menu = nullptr;
    ASSERT_TRUE(run_until([&] {
        menu = visible_menu();
        return menu && gtk_widget_get_mapped(menu);
    }));

    // The menu hangs from the button's bottom-right corner.
    GtkAllocation allocation;
    gtk_widget_get_allocation(button, &allocation);
    int button_x = 0;
    int button_y = 0;
    gdk_window_get_origin(gtk_widget_get_window(button), &button_x, &button_y);
    int menu_x = 0;
    int menu_y = 0;
    gdk_window_get_origin(gtk_widget_get_window(gtk_widget_get_toplevel(menu)), &menu_x, &menu_y);
    EXPECT_EQ(menu_x + gtk_widget_get_allocated_width(gtk_widget_get_toplevel(menu)),
              button_x + allocation.x + allocation.width);
    EXPECT_EQ(menu_y, button_y + allocation.y + allocation.height);

    // Details, History, a separator, About; Details waits for a benchmark.
    const std::vector<GtkWidget *> items = children(menu);
    ASSERT_EQ(items.size(), 4u);
    EXPECT_TRUE(GTK_IS_SEPARATOR_MENU_ITEM(items[2]));
    std::vector<std::string> labels;
    for (GtkWidget *item : {items[0], items[1], items[3]}) {
        labels.push_back(gtk_menu_item_get_label(GTK_MENU_ITEM(item)));
    }
    EXPECT_EQ(labels, (std::vector<std::string>{"Details", "History", "About"}));
    EXPECT_FALSE(gtk_widget_is_sensitive(items[0]));
    EXPECT_TRUE(gtk_widget_is_sensitive(items[1]));
    GtkWidget *about = items[3];
    // Shown, not an empty sliver: the item is on screen and the menu holds it.
    EXPECT_TRUE(gtk_widget_get_mapped(about));
    EXPECT_GE(gtk_widget_get_allocated_height(about), 20);
    EXPECT_GE(gtk_widget_get_allocated_height(gtk_widget_get_toplevel(menu)),
              gtk_widget_get_allocated_height(about));

    GtkWidget *menu_alive = menu;
    g_object_add_weak_pointer(G_OBJECT(menu), reinterpret_cast<gpointer *>(&menu_alive));
    about_seen seen;
    const guint poll = g_timeout_add(20, answer_about_dialog, &seen);
    gtk_menu_shell_activate_item(GTK_MENU_SHELL(menu), about, TRUE);
    if (!seen.shown) {
        g_source_remove(poll);
    }

    ASSERT_TRUE(seen.shown);
    EXPECT_EQ(seen.dialog, nullptr) << "the dialog is destroyed once it returns";
    EXPECT_EQ(menu_alive, nullptr) << "a used menu is destroyed";
    EXPECT_EQ(seen.text, "Tessary");
    EXPECT_EQ(seen.type, GTK_MESSAGE_OTHER);
    EXPECT_TRUE(seen.modal);
    EXPECT_EQ(seen.parent, GTK_WINDOW(window_));
    EXPECT_EQ(seen.buttons, std::vector<std::string>{"_OK"});
    const std::vector<std::string> lines = lines_of(seen.secondary);
    ASSERT_EQ(lines.size(), 6u) << seen.secondary;
    EXPECT_EQ(lines[0], "A cross-platform Pi calculation benchmark");
    EXPECT_EQ(lines[1], "");
    EXPECT_EQ(lines[2], "Version " TESSARY_PROJECT_VERSION);
    EXPECT_NE(lines[3].find("Tessary"), std::string::npos);
    EXPECT_EQ(lines[4], "");
    EXPECT_NE(lines[5].find("tessary"), std::string::npos);
}

// --- The system panel, built from given records ---

struct panel_rows {
    std::vector<std::string> captions;
    std::vector<std::string> values;
    std::vector<GtkWidget *> value_labels;
};

class SystemPanel : public ::testing::Test {
  protected:
    void SetUp() override {
        test_application();
        info_ = system_info{};
        std::snprintf(info_.cpu_model, sizeof info_.cpu_model, "AMD Ryzen 7 5800X");
        info_.physical_cores = 8;
        info_.logical_cores = 16;
        info_.cpu_mhz = 3800;
        info_.memory_mb = 32011;
        std::snprintf(info_.os_name, sizeof info_.os_name, "Fedora Linux 41");
        std::snprintf(info_.kernel_release, sizeof info_.kernel_release, "6.11.4");
        std::snprintf(info_.architecture, sizeof info_.architecture, "x86_64");
        info_.valid = 1;
    }
    void TearDown() override {
        for (GtkWidget *panel : panels_) {
            g_object_unref(panel);
        }
    }

    GtkWidget *build() {
        GtkWidget *panel = g_object_ref_sink(build_system_panel(&info_));
        panels_.push_back(panel);
        return panel;
    }

    panel_rows rows() {
        panel_rows result;
        for (GtkWidget *row : children(build())) {
            const std::vector<GtkWidget *> labels = children(row);
            EXPECT_EQ(labels.size(), 2u);
            result.captions.push_back(label_text(labels.at(0)));
            result.values.push_back(label_text(labels.at(1)));
            result.value_labels.push_back(labels.at(1));
        }
        return result;
    }

    system_info info_;
    std::vector<GtkWidget *> panels_;
};

using strings = std::vector<std::string>;

TEST_F(SystemPanel, HasSixRowsWithAClockAndFiveWithout) {
    const panel_rows six = rows();
    EXPECT_EQ(six.captions,
              (strings{"CPU:", "Cores:", "Frequency:", "Memory:", "OS:", "Architecture:"}));
    EXPECT_EQ(six.values, (strings{"AMD Ryzen 7 5800X", "8 cores (16 logical)", "3800 MHz",
                                   "32011 MB", "Fedora Linux 41 6.11.4", "x86_64"}));

    info_.cpu_mhz = 0;
    EXPECT_EQ(rows().captions, (strings{"CPU:", "Cores:", "Memory:", "OS:", "Architecture:"}));
    info_.cpu_mhz = -5;
    EXPECT_EQ(rows().captions.size(), 5u);
}

TEST_F(SystemPanel, ShowsOddValuesAsTheyAre) {
    info_.os_name[0] = '\0';
    info_.kernel_release[0] = '\0';
    info_.architecture[0] = '\0';
    info_.physical_cores = -1;
    info_.logical_cores = -1;
    info_.memory_mb = INT64_MAX;
    const panel_rows r = rows();
    EXPECT_EQ(r.values, (strings{"AMD Ryzen 7 5800X", "-1 cores (-1 logical)", "3800 MHz",
                                 "9223372036854775807 MB", " ", ""}));
}

TEST_F(SystemPanel, RowsPutCaptionsLeftAndValuesRight) {
    GtkWidget *panel = build();
    for (GtkWidget *row : children(panel)) {
        EXPECT_TRUE(has_class(row, "sysinfo-row"));
        EXPECT_EQ(gtk_orientable_get_orientation(GTK_ORIENTABLE(row)), GTK_ORIENTATION_HORIZONTAL);
        const packing row_packing = packing_of(row);
        EXPECT_FALSE(row_packing.expand);
        EXPECT_FALSE(row_packing.fill);
        EXPECT_EQ(row_packing.padding, 2u);

        const std::vector<GtkWidget *> labels = children(row);
        ASSERT_EQ(labels.size(), 2u);
        SCOPED_TRACE(label_text(labels[0]));
        EXPECT_TRUE(has_class(labels[0], "sysinfo-label"));
        EXPECT_EQ(gtk_widget_get_halign(labels[0]), GTK_ALIGN_START);
        EXPECT_EQ(packing_of(labels[0]).pack_type, GTK_PACK_START);
        EXPECT_TRUE(has_class(labels[1], "sysinfo-value"));
        EXPECT_EQ(gtk_widget_get_halign(labels[1]), GTK_ALIGN_END);
        EXPECT_EQ(packing_of(labels[1]).pack_type, GTK_PACK_END);
        for (GtkWidget *label : labels) {
            EXPECT_FALSE(packing_of(label).expand);
            EXPECT_EQ(packing_of(label).padding, 0u);
        }
    }
}

TEST_F(SystemPanel, EllipsizesLongModelAndOsTexts) {
    const panel_rows r = rows();
    for (std::size_t i = 0; i < r.captions.size(); ++i) {
        SCOPED_TRACE(r.captions[i]);
        GtkLabel *value = GTK_LABEL(r.value_labels[i]);
        const bool long_text = r.captions[i] == "CPU:" || r.captions[i] == "OS:";
        EXPECT_EQ(gtk_label_get_ellipsize(value),
                  long_text ? PANGO_ELLIPSIZE_END : PANGO_ELLIPSIZE_NONE);
        EXPECT_EQ(gtk_label_get_max_width_chars(value), long_text ? 40 : -1);
    }

    // However long the texts, the panel asks for the same width.
    auto natural_width = [&](int model_length, int os_length) {
        std::snprintf(info_.cpu_model, sizeof info_.cpu_model, "%s",
                      std::string(model_length, 'W').c_str());
        std::snprintf(info_.os_name, sizeof info_.os_name, "%s",
                      std::string(os_length, 'W').c_str());
        int minimum = 0;
        int natural = 0;
        GtkWidget *panel = build();
        gtk_widget_show_all(panel);
        gtk_widget_get_preferred_width(panel, &minimum, &natural);
        return natural;
    };
    const int wide = natural_width(60, 50);
    EXPECT_EQ(natural_width(127, 63), wide);
    EXPECT_LT(natural_width(10, 10), wide);
}

TEST_F(SystemPanel, ShowsTheErrorMessageWhenTheProbeFailed) {
    info_.valid = 0;
    std::snprintf(info_.error_message, sizeof info_.error_message, "No system information");
    const std::vector<GtkWidget *> content = children(build());
    ASSERT_EQ(content.size(), 1u);
    ASSERT_TRUE(GTK_IS_LABEL(content[0]));
    EXPECT_EQ(label_text(content[0]), "No system information");
    EXPECT_EQ(gtk_widget_get_halign(content[0]), GTK_ALIGN_CENTER);
    EXPECT_TRUE(gtk_label_get_line_wrap(GTK_LABEL(content[0])));
}

// --- The START button ---

struct pixel {
    int red, green, blue;
};

// Sizes of the records that cross between the threads. A run's start is as large as
// a progress report: a benchmark of five runs posts five more of that size.
constexpr std::size_t cell_size = sizeof(app_state *);
constexpr std::size_t record_size = sizeof(progress_update);
constexpr std::size_t outcome_size = sizeof(worker_outcome);
static_assert(cell_size != record_size && sizeof(run_update) == record_size);
constexpr int runs_started = pi_benchmark_runs;

// True once every run has shown its result and every record has been freed.
bool runs_ended(const app_state &state) {
    return !state.running && fake_engine::finished() == fake_engine::started() &&
           heap_records::live(cell_size) == 0 && heap_records::live(record_size) == 0;
}

// Dispatches whatever the main loop has ready.
void drain_main_loop() {
    for (int i = 0; i < 1000 && g_main_context_pending(nullptr); ++i) {
        g_main_context_iteration(nullptr, FALSE);
    }
}

// Counts GTK and GLib warnings and criticals while it lives.
class log_watch {
  public:
    log_watch() {
        for (const char *domain : domains) {
            handlers_.push_back(g_log_set_handler(
                domain, GLogLevelFlags(G_LOG_LEVEL_WARNING | G_LOG_LEVEL_CRITICAL),
                [](const char *domain, GLogLevelFlags, const char *message, gpointer self) {
                    ADD_FAILURE() << domain << ": " << message;
                    ++static_cast<log_watch *>(self)->count;
                },
                this));
        }
    }
    ~log_watch() {
        for (std::size_t i = 0; i < handlers_.size(); ++i) {
            g_log_remove_handler(domains[i], handlers_[i]);
        }
    }
    int count = 0;

  private:
    static constexpr const char *domains[] = {"Gtk", "Gdk", "GLib", "GLib-GObject"};
    std::vector<guint> handlers_;
};

// Paints the button at 400 x 160, the size it has in the window: centre (200, 80),
// disc radius 69, ring band from radius 71 to 80. The state has its own result
// labels and header bar, but no window; runs use the fake engine, whose runs by
// default fail at once.
class StartButton : public ::testing::Test {
  protected:
    static constexpr int width = 400;
    static constexpr int height = 160;

    void SetUp() override {
        test_application();
        fake_engine::set_script({});
        heap_records::reset();
        window_ = gtk_offscreen_window_new();
        state_.drawing_area = gtk_drawing_area_new();
        gtk_widget_set_size_request(state_.drawing_area, width, height);
        gtk_container_add(GTK_CONTAINER(window_), state_.drawing_area);
        gtk_widget_show_all(window_);
        ASSERT_TRUE(run_until(
            [&] { return gtk_widget_get_allocated_width(state_.drawing_area) == width; }));
        ASSERT_EQ(gtk_widget_get_allocated_height(state_.drawing_area), height);
        surface_ = cairo_image_surface_create(CAIRO_FORMAT_ARGB32, width, height);
        state_.score_label = GTK_WIDGET(g_object_ref_sink(gtk_label_new(nullptr)));
        gtk_label_set_markup(GTK_LABEL(state_.score_label), dashes_markup);
        state_.time_label = GTK_WIDGET(g_object_ref_sink(gtk_label_new("--")));
        state_.header_bar = GTK_WIDGET(g_object_ref_sink(gtk_header_bar_new()));
        state_.results = window_results_new();
        watch_widget(state_.header_bar, &state_.results->header_bar);
    }
    void TearDown() override {
        fake_engine::release();
        EXPECT_TRUE(run_until([&] { return runs_ended(state_); })) << "a run did not end";
        EXPECT_TRUE(saves_ended());
        if (state_.results->details) {
            gtk_widget_destroy(state_.results->details);
        }
        if (state_.failure_dialog) {
            gtk_widget_destroy(state_.failure_dialog);
        }
        std::free(state_.outcome);
        g_object_unref(state_.score_label);
        g_object_unref(state_.time_label);
        g_object_unref(state_.header_bar);
        window_results_free(state_.results);
        cairo_surface_destroy(surface_);
        gtk_widget_destroy(window_);
    }

    static constexpr char dashes_markup[] = "<span size='xx-large' weight='bold'>--</span>";

    // A click on the centre of the disc.
    void click() {
        press(200, 80);
        release(200, 80);
    }

    // Clicks START and waits until the run has shown its result.
    void run_benchmark(fake_engine::script script) {
        fake_engine::set_script(std::move(script));
        click();
        ASSERT_EQ(state_.running, 1);
        ASSERT_TRUE(run_until([&] { return runs_ended(state_); }));
    }

    std::string score_markup() const { return gtk_label_get_label(GTK_LABEL(state_.score_label)); }
    std::string time_text() const { return label_text(state_.time_label); }

    void paint() {
        cairo_t *cr = cairo_create(surface_);
        EXPECT_FALSE(on_draw(state_.drawing_area, cr, &state_));
        cairo_destroy(cr);
        cairo_surface_flush(surface_);
    }

    pixel at(int x, int y) const {
        const unsigned char *row =
            cairo_image_surface_get_data(surface_) + y * cairo_image_surface_get_stride(surface_);
        const uint32_t argb = reinterpret_cast<const uint32_t *>(row)[x];
        EXPECT_EQ(argb >> 24, 255u) << "opaque at " << x << "," << y;
        return {static_cast<int>(argb >> 16 & 255), static_cast<int>(argb >> 8 & 255),
                static_cast<int>(argb & 255)};
    }

    void expect_colour_at(int x, int y, pixel want, int tolerance = 1) const {
        const pixel got = at(x, y);
        EXPECT_TRUE(std::abs(got.red - want.red) <= tolerance &&
                    std::abs(got.green - want.green) <= tolerance &&
                    std::abs(got.blue - want.blue) <= tolerance)
            << "at " << x << "," << y << ": " << got.red << "," << got.green << "," << got.blue
            << ", want " << want.red << "," << want.green << "," << want.blue;
    }

    struct box {
        int left = width, right = -1, top = height, bottom = -1;
    };

    // The bounding box of the pixels that `ink` accepts.
    box ink_box(const std::function<bool(int x, int y, pixel p)> &ink) const {
        box b;
        for (int y = 0; y < height; ++y) {
            for (int x = 0; x < width; ++x) {
                if (ink(x, y, at(x, y))) {
                    b.left = std::min(b.left, x);
                    b.right = std::max(b.right, x);
                    b.top = std::min(b.top, y);
                    b.bottom = std::max(b.bottom, y);
                }
            }
        }
        return b;
    }

    // The ink box of the pure white pixels must be centred on the disc.
    void expect_label_centred() const {
        const box b = ink_box(
            [](int, int, pixel p) { return p.red == 255 && p.green == 255 && p.blue == 255; });
        ASSERT_GE(b.right, 0) << "no white label";
        EXPECT_GT(b.right - b.left, 40);
        EXPECT_NEAR((b.left + b.right + 1) / 2.0, 200, 1.5);
        EXPECT_NEAR((b.top + b.bottom + 1) / 2.0, 80, 1.5);
    }

    bool press(double x, double y) { return send(GDK_BUTTON_PRESS, x, y); }
    bool release(double x, double y) { return send(GDK_BUTTON_RELEASE, x, y); }

    app_state state_{};

  private:
    bool send(GdkEventType type, double x, double y) {
        GdkEventButton event{};
        event.type = type;
        event.x = x;
        event.y = y;
        event.button = 1;
        return type == GDK_BUTTON_PRESS ? on_button_press(state_.drawing_area, &event, &state_)
                                        : on_button_release(state_.drawing_area, &event, &state_);
    }

    GtkWidget *window_ = nullptr;
    cairo_surface_t *surface_ = nullptr;
};

constexpr pixel background = {245, 245, 245};
constexpr pixel track = {204, 204, 204};
constexpr pixel green = {76, 175, 80};
constexpr pixel grey_disc = {150, 150, 150};
constexpr pixel pressed_disc = {45, 120, 210};
constexpr pixel idle_disc = {66, 135, 245};

TEST_F(StartButton, IdleIsABlueDiscWithoutRing) {
    state_.progress = 0.5; // a finished run's progress shows no ring
    paint();
    for (auto [x, y] : {std::pair{0, 0}, {399, 159}, {0, 80}, {200, 4}, {275, 80}, {125, 80}}) {
        SCOPED_TRACE(testing::Message() << x << "," << y);
        expect_colour_at(x, y, background);
    }
    expect_colour_at(200, 14, idle_disc);
    expect_colour_at(140, 80, idle_disc);
    expect_colour_at(200, 146, idle_disc);
    expect_label_centred();
}

TEST_F(StartButton, PressedDiscIsDarkBlue) {
    state_.pressed = 1;
    paint();
    expect_colour_at(140, 80, pressed_disc);
    expect_colour_at(200, 4, background);
    expect_label_centred();
}

TEST_F(StartButton, RunningDrawsAGreyDiscAndTheProgressRing) {
    state_.running = 1;
    state_.pressed = 1; // running wins
    struct Case {
        double progress;
        pixel top, right, bottom_left, left;
    };
    const Case cases[] = {
        {0.0, track, track, track, track},
        {0.5, green, green, track, track},
        {1.0, green, green, green, green},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.progress);
        state_.progress = c.progress;
        paint();
        expect_colour_at(200, 4, c.top);
        expect_colour_at(275, 80, c.right);
        expect_colour_at(200 - 53, 80 + 53, c.bottom_left); // radius 75 at 135 degrees
        expect_colour_at(125, 80, c.left);
        expect_colour_at(0, 0, background);
        expect_colour_at(200, 69 + 80 - 3, grey_disc);
        expect_colour_at(140, 80, grey_disc);
        expect_label_centred();
    }
    // Half way the arc ends at the bottom of the ring with a round cap.
    state_.progress = 0.5;
    paint();
    expect_colour_at(202, 155, green);
    expect_colour_at(194, 155, track);
    state_.running = 0; // no worker to end this run
}

// The ring's band, from radius 71 to 80, seen along the radii to the right and
// left, and the round caps that end the progress arc at the top and, half way,
// at the bottom (half-discs of radius 4.5 about the ends of its centre line).
TEST_F(StartButton, RingIsABandOfNineWithRoundCaps) {
    state_.running = 1;
    state_.progress = 0.5;
    paint();
    const struct {
        int x, y;
        pixel want;
    } samples[] = {
        {268, 80, grey_disc},  {269, 80, background}, {270, 80, background}, {271, 80, green},
        {279, 80, green},      {280, 80, background}, {131, 80, grey_disc},  {130, 80, background},
        {129, 80, background}, {128, 80, track},      {120, 80, track},      {119, 80, background},
        {197, 155, green},     {196, 151, track},     {197, 4, green},       {196, 8, track},
    };
    // A band half a pixel off or thinner blends the edge pixels half and half;
    // antialiasing alone leaves them within 4 of their colours.
    for (const auto &s : samples) {
        SCOPED_TRACE(testing::Message() << s.x << "," << s.y);
        expect_colour_at(s.x, s.y, s.want, 4);
    }
    state_.running = 0; // no worker to end this run
}

// "START" in cairo's "Sans" at 32, upright and regular: its ink, everything on
// the disc that is not disc colour, has the size that cairo gives for that font.
TEST_F(StartButton, LabelIsSansThirtyTwo) {
    cairo_surface_t *scratch = cairo_image_surface_create(CAIRO_FORMAT_ARGB32, 1, 1);
    cairo_t *cr = cairo_create(scratch);
    cairo_select_font_face(cr, "Sans", CAIRO_FONT_SLANT_NORMAL, CAIRO_FONT_WEIGHT_NORMAL);
    cairo_set_font_size(cr, 32);
    cairo_text_extents_t want;
    cairo_text_extents(cr, "START", &want);
    cairo_destroy(cr);
    cairo_surface_destroy(scratch);

    for (int running : {0, 1}) {
        SCOPED_TRACE(running ? "running" : "idle");
        state_.running = running;
        paint();
        const pixel disc = running ? grey_disc : idle_disc;
        const box b = ink_box([&](int x, int y, pixel p) {
            const bool inner = (x - 200) * (x - 200) + (y - 80) * (y - 80) < 60 * 60;
            return inner && (std::abs(p.red - disc.red) > 8 || std::abs(p.blue - disc.blue) > 8);
        });
        const int ink_width = b.right - b.left + 1;
        const int ink_height = b.bottom - b.top + 1;
        EXPECT_GE(ink_width, want.width - 0.5);
        EXPECT_LE(ink_width, want.width + 2);
        EXPECT_GE(ink_height, want.height - 0.5);
        EXPECT_LE(ink_height, want.height + 2);
    }
    state_.running = 0;
}

TEST_F(StartButton, HitTestIsTheDiscIncludingItsEdge) {
    struct Case {
        double x, y;
        bool inside;
    };
    const Case cases[] = {
        {200, 80, true},  {269, 80, true},     {131, 80, true},    {200, 11, true},
        {200, 149, true}, {269.01, 80, false}, {200, 10.9, false}, {275, 80, false},
        {0, 0, false},    {399, 159, false},   {249, 129, false},  {248, 128, true},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(testing::Message() << c.x << "," << c.y);
        state_.pressed = 0;
        EXPECT_TRUE(press(c.x, c.y));
        EXPECT_EQ(state_.pressed, c.inside ? 1 : 0);
        EXPECT_TRUE(release(0, 0)); // in the corner, so no run starts
        EXPECT_EQ(state_.pressed, 0);
        EXPECT_EQ(state_.running, 0);
    }
    drain_main_loop();
    EXPECT_EQ(fake_engine::started(), 0);
}

TEST_F(StartButton, ReleaseAnywhereClearsThePressedLook) {
    EXPECT_TRUE(press(200, 80));
    EXPECT_EQ(state_.pressed, 1);
    EXPECT_TRUE(release(5, 5)); // dragged out of the disc
    EXPECT_EQ(state_.pressed, 0);
    EXPECT_EQ(state_.running, 0);
    paint();
    expect_colour_at(140, 80, idle_disc);
}

TEST_F(StartButton, IgnoresPressesWhileRunning) {
    state_.running = 1;
    EXPECT_TRUE(press(200, 80));
    EXPECT_EQ(state_.pressed, 0);
    state_.pressed = 1;
    EXPECT_TRUE(release(200, 80));
    EXPECT_EQ(state_.pressed, 0);
    EXPECT_EQ(state_.running, 1);
    drain_main_loop();
    EXPECT_EQ(fake_engine::started(), 0);
    state_.running = 0; // no worker to end this run
}

// Emits a button event's signal on the START button; true when it was handled.
bool emit_button(GtkWidget *area, const char *signal, GdkEventType type, double x, double y) {
    GdkEventButton event{};
    event.type = type;
    event.x = x;
    event.y = y;
    gboolean handled = FALSE;
    g_signal_emit_by_name(area, signal, &event, &handled);
    return handled;
}

// The handlers are connected: events on the window's own button reach its state.
TEST_F(MainWindow, StartButtonAnswersItsSignals) {
    cairo_surface_t *surface = cairo_image_surface_create(CAIRO_FORMAT_ARGB32, 400, 160);
    auto disc_colour = [&] {
        cairo_t *cr = cairo_create(surface);
        gtk_widget_draw(area_, cr);
        cairo_destroy(cr);
        cairo_surface_flush(surface);
        const auto *row =
            cairo_image_surface_get_data(surface) + 80 * cairo_image_surface_get_stride(surface);
        return reinterpret_cast<const uint32_t *>(row)[140] & 0xffffff;
    };
    auto send = [&](const char *signal, GdkEventType type, double x, double y) {
        return emit_button(area_, signal, type, x, y);
    };
    EXPECT_EQ(disc_colour(), 0x4287f5u);
    EXPECT_TRUE(send("button-press-event", GDK_BUTTON_PRESS, 200, 80));
    EXPECT_EQ(disc_colour(), 0x2d78d2u);
    EXPECT_TRUE(send("button-release-event", GDK_BUTTON_RELEASE, 0, 0));
    EXPECT_EQ(disc_colour(), 0x4287f5u);
    EXPECT_TRUE(send("button-press-event", GDK_BUTTON_PRESS, 0, 0));
    EXPECT_EQ(disc_colour(), 0x4287f5u);
    cairo_surface_destroy(surface);
}

// --- Starting a run, the worker and the updates it posts ---

std::vector<int> steps_from(int first, int last) {
    std::vector<int> steps;
    for (int step = first; step <= last; ++step) {
        steps.push_back(step);
    }
    return steps;
}

pi_result success(double score, double seconds) {
    pi_result result{};
    result.success = 1;
    result.digits = 8388608;
    result.score = score;
    result.time_seconds = seconds;
    return result;
}

// Five runs of 19 steps that each score `score`; the first takes all `seconds`, so
// that the benchmark's sum is exactly `seconds`.
fake_engine::script succeeding(double score, double seconds) {
    fake_engine::script script;
    for (int run = 0; run < pi_benchmark_runs; ++run) {
        script.runs.push_back({.steps = 19, .result = success(score, run == 0 ? seconds : 0)});
    }
    return script;
}

fake_engine::script held(fake_engine::script script) {
    script.hold = true;
    return script;
}

TEST_F(StartButton, ReleaseOnTheDiscEdgeStartsARun) {
    gtk_label_set_markup(GTK_LABEL(state_.score_label), "<b>123</b>");
    gtk_label_set_text(GTK_LABEL(state_.time_label), "1.000 sec");
    state_.progress = 0.7; // left over from an earlier run
    fake_engine::set_script({.hold = true});

    EXPECT_TRUE(press(269, 80)); // distance 69, the disc radius
    EXPECT_EQ(state_.pressed, 1);
    EXPECT_TRUE(release(269, 80));
    EXPECT_EQ(state_.pressed, 0);
    EXPECT_EQ(state_.running, 1);
    EXPECT_EQ(state_.progress, 0.0);
    EXPECT_EQ(state_.total_steps, 95);
    EXPECT_EQ(state_.last_posted_step, -999);
    EXPECT_EQ(score_markup(), dashes_markup);
    EXPECT_EQ(time_text(), "--");
    paint();
    expect_colour_at(140, 80, grey_disc);
    expect_colour_at(200, 4, track);

    // The engine runs on a thread of its own, filling the state's result.
    ASSERT_TRUE(run_until([] { return fake_engine::started() == 1; }));
    const fake_engine::call call = fake_engine::last_call();
    EXPECT_EQ(call.result, &state_.result);
    EXPECT_EQ(call.user_data, &state_);
    EXPECT_NE(call.thread, std::this_thread::get_id());
}

TEST_F(StartButton, TheReleaseAloneDecidesWhetherARunStarts) {
    EXPECT_TRUE(press(2, 2));
    EXPECT_EQ(state_.pressed, 0);
    EXPECT_TRUE(release(200, 80));
    EXPECT_EQ(state_.running, 1);
    ASSERT_TRUE(run_until([&] { return runs_ended(state_); }));

    EXPECT_TRUE(press(200, 80));
    EXPECT_TRUE(release(270, 80)); // just off the disc
    EXPECT_EQ(state_.running, 0);
    drain_main_loop();
    EXPECT_EQ(fake_engine::started(), 1);
}

// Each report is followed by a turn of the main loop, so the ring's value after
// every posted step can be read.
TEST_F(StartButton, ProgressPostsEverySecondStepAndTheLast) {
    struct Case {
        const char *name;
        int total_steps;
        std::vector<int> steps;
        std::vector<int> posted;
        std::vector<double> ring; // progress after each posted step
    };
    std::vector<Case> cases = {
        {"a full benchmark", 95, steps_from(1, 95), {}, {}},
        {"the final step right after a posted one", 95, {92, 94, 95}, {92, 94, 95}, {}},
        {"a step lower than the last posted one", 95, {10, 9, 11, 12}, {10, 12}, {}},
        {"steps beyond the total", 95, {96, 200}, {96, 200}, {1.0, 1.0}},
        {"no total", 0, {1, 3}, {1, 3}, {0.0, 0.0}},
    };
    for (int step = 1; step <= 95; step += 2) {
        cases[0].posted.push_back(step);
    }
    for (Case &c : cases) {
        if (c.ring.empty()) {
            for (int step : c.posted) {
                c.ring.push_back(step / 95.0);
            }
        }
    }
    for (const Case &c : cases) {
        SCOPED_TRACE(c.name);
        heap_records::reset();
        state_.running = 1;
        state_.total_steps = c.total_steps;
        state_.last_posted_step = -999;
        state_.progress = 0.0;
        std::vector<int> posted;
        std::vector<double> ring;
        for (int step : c.steps) {
            const int records = heap_records::allocated(record_size);
            progress_callback(step, 4 * step, &state_, 0.25);
            drain_main_loop();
            if (heap_records::allocated(record_size) > records) {
                posted.push_back(step);
                ring.push_back(state_.progress);
            }
        }
        EXPECT_EQ(posted, c.posted);
        EXPECT_EQ(ring, c.ring);
        EXPECT_EQ(heap_records::live(record_size), 0);
    }
    state_.running = 0;
}

TEST_F(StartButton, ShowsTheScoreInNavyAndTheTimeWithThreeDecimals) {
    struct Case {
        double score;
        double seconds;
        const char *score_text;
        const char *time_text;
    };
    const Case cases[] = {
        {987, 65.4321, "987", "65.432 sec"},
        {1234567, 0.0004, "1234567", "0.000 sec"},
        {0, 1234.5675, "0", "1234.568 sec"},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.score_text);
        heap_records::reset();
        run_benchmark(succeeding(c.score, c.seconds));
        EXPECT_EQ(score_markup(),
                  std::string("<span foreground='#000080' size='xx-large' weight='bold'>") +
                      c.score_text + "</span>");
        EXPECT_EQ(label_text(state_.score_label), c.score_text);
        EXPECT_EQ(time_text(), c.time_text);
        EXPECT_EQ(state_.progress, 1.0);
        EXPECT_EQ(heap_records::allocated(cell_size), 1);
        EXPECT_EQ(heap_records::allocated(record_size), 48 + runs_started);
    }
    paint();
    expect_colour_at(140, 80, idle_disc);
    expect_colour_at(200, 4, background);
}

TEST_F(StartButton, AFailedBenchmarkLeavesDashesAndAnIdleButton) {
    run_benchmark(succeeding(987, 65.4321));
    ASSERT_EQ(time_text(), "65.432 sec");

    run_benchmark({}); // every run fails for want of memory
    EXPECT_EQ(score_markup(), dashes_markup);
    EXPECT_EQ(time_text(), "--");
    paint();
    expect_colour_at(140, 80, idle_disc);
    expect_colour_at(275, 80, background);
}

TEST_F(StartButton, ASecondRunCannotStartWhileOneIsGoing) {
    fake_engine::set_script(held(succeeding(1, 1)));
    click();
    ASSERT_TRUE(run_until([] { return fake_engine::started() == 1; }));
    for (int i = 0; i < 3; ++i) {
        EXPECT_TRUE(press(200, 80));
        EXPECT_EQ(state_.pressed, 0);
        EXPECT_TRUE(release(200, 80));
        EXPECT_EQ(state_.running, 1);
        drain_main_loop();
    }
    EXPECT_EQ(heap_records::allocated(cell_size), 1);
    EXPECT_EQ(fake_engine::started(), 1);

    fake_engine::release();
    ASSERT_TRUE(run_until([&] { return runs_ended(state_); }));
    EXPECT_EQ(fake_engine::started(), 1);
    click();
    EXPECT_EQ(state_.running, 1);
    ASSERT_TRUE(run_until([&] { return runs_ended(state_); }));
    EXPECT_EQ(fake_engine::started(), 2);
}

TEST_F(StartButton, AWorkerThatCannotStartLeavesTheButtonIdle) {
    const guint score_refs = G_OBJECT(state_.score_label)->ref_count;
    const guint area_refs = G_OBJECT(state_.drawing_area)->ref_count;
    const struct {
        const char *name;
        void (*refuse)();
        int cells;
    } failures[] = {
        {"no heap cell", [] { heap_records::refuse_next(cell_size); }, 0},
        {"no thread", [] { worker_start::refuse_next(); }, 1},
    };
    for (const auto &failure : failures) {
        SCOPED_TRACE(failure.name);
        heap_records::reset();
        failure.refuse();
        click();
        EXPECT_EQ(state_.running, 0);
        EXPECT_EQ(score_markup(), dashes_markup);
        EXPECT_EQ(heap_records::allocated(cell_size), failure.cells);
        EXPECT_EQ(heap_records::live(cell_size), 0);
        EXPECT_EQ(G_OBJECT(state_.score_label)->ref_count, score_refs);
        EXPECT_EQ(G_OBJECT(state_.drawing_area)->ref_count, area_refs);
        paint();
        expect_colour_at(140, 80, idle_disc);
        drain_main_loop();
        EXPECT_EQ(fake_engine::started(), 0);
    }

    run_benchmark(succeeding(42, 1)); // the next click works
    EXPECT_EQ(time_text(), "1.000 sec");
}

// Set on an object's data, so that the flag goes up when the object is finalized.
void watch_finalization(GtkWidget *widget, bool *finalized) {
    *finalized = false;
    g_object_set_data_full(G_OBJECT(widget), "test-finalized", finalized,
                           [](gpointer flag) { *static_cast<bool *>(flag) = true; });
}

// Another window keeps the application going while the window of a running
// benchmark is closed: the run's updates still arrive, on widgets kept alive
// until its result, and the other window goes on working.
TEST_F(MainWindow, ARunOutlivesItsWindow) {
    log_watch warnings;
    fake_engine::set_script(held(succeeding(987, 65.4321)));
    heap_records::reset();
    GtkApplication *app = test_application();
    activate(app, nullptr);
    GtkWidget *second = nullptr;
    for (GList *l = gtk_application_get_windows(app); l; l = l->next) {
        if (l->data != window_) {
            second = GTK_WIDGET(l->data);
        }
    }
    ASSERT_NE(second, nullptr);
    GtkWidget *second_area = children(gtk_bin_get_child(GTK_BIN(second)))[0];
    ASSERT_TRUE(run_until([&] { return gtk_widget_get_allocated_width(second_area) > 1; }));

    auto click = [](GtkWidget *area) {
        for (auto [signal, type] : {std::pair{"button-press-event", GDK_BUTTON_PRESS},
                                    {"button-release-event", GDK_BUTTON_RELEASE}}) {
            GdkEventButton event{};
            event.type = type;
            event.x = 200;
            event.y = 80;
            gboolean handled = FALSE;
            g_signal_emit_by_name(area, signal, &event, &handled);
        }
    };
    click(area_);
    ASSERT_TRUE(run_until([] { return fake_engine::started() == 1; }));
    auto *first_state = static_cast<app_state *>(fake_engine::last_call().user_data);
    ASSERT_EQ(first_state->drawing_area, area_);
    ASSERT_EQ(first_state->running, 1);

    bool area_gone = false;
    bool score_gone = false;
    bool time_gone = false;
    watch_finalization(first_state->drawing_area, &area_gone);
    watch_finalization(first_state->score_label, &score_gone);
    watch_finalization(first_state->time_label, &time_gone);
    gtk_widget_destroy(window_);
    window_ = second; // torn down by the fixture
    drain_main_loop();
    EXPECT_FALSE(area_gone || score_gone || time_gone);

    fake_engine::release();
    ASSERT_TRUE(run_until([&] { return runs_ended(*first_state); }));
    EXPECT_EQ(first_state->progress, 1.0);
    EXPECT_EQ(heap_records::allocated(record_size), 48 + runs_started);
    EXPECT_TRUE(area_gone && score_gone && time_gone) << "the run let go of its widgets";
    EXPECT_EQ(heap_records::live(outcome_size), 0) << "a closed window keeps no outcome";

    fake_engine::set_script(succeeding(1000, 2));
    click(second_area);
    GtkWidget *second_results = children(gtk_bin_get_child(GTK_BIN(second)))[1];
    GtkWidget *second_time = children(second_results)[1];
    EXPECT_TRUE(run_until([&] { return label_text(second_time) == "2.000 sec"; }));
    EXPECT_TRUE(run_until([&] { return fake_engine::finished() == 1; }));
    EXPECT_EQ(warnings.count, 0);
}

// --- The keyboard, assistive technologies, and what reaches the screen ---

// One pixel of the START button as the X server shows it: what was last drawn
// there, not what on_draw would paint now.
pixel on_screen(GtkWidget *area, int x, int y) {
    g_autoptr(GdkPixbuf) shot = gdk_pixbuf_get_from_window(gtk_widget_get_window(area), x, y, 1, 1);
    if (!shot) {
        return {-1, -1, -1};
    }
    const guchar *p = gdk_pixbuf_get_pixels(shot);
    return {p[0], p[1], p[2]};
}

bool near(pixel got, pixel want) {
    return std::abs(got.red - want.red) <= 1 && std::abs(got.green - want.green) <= 1 &&
           std::abs(got.blue - want.blue) <= 1;
}

// Waits until the screen shows `want` at (x, y) of the START button.
bool screen_shows(GtkWidget *area, int x, int y, pixel want) {
    return run_until([&] { return near(on_screen(area, x, y), want); });
}

// Pixels of the gap between the disc and the ring (centres 69.6 to 70.4 from
// the centre) whose colour on the screen `wanted` accepts.
int gap_pixels(GtkWidget *area, const std::function<bool(const guchar *rgb)> &wanted) {
    g_autoptr(GdkPixbuf) shot =
        gdk_pixbuf_get_from_window(gtk_widget_get_window(area), 0, 0, 400, 160);
    const guchar *pixels = gdk_pixbuf_get_pixels(shot);
    const int stride = gdk_pixbuf_get_rowstride(shot);
    const int channels = gdk_pixbuf_get_n_channels(shot);
    int count = 0;
    for (int y = 0; y < 160; ++y) {
        for (int x = 0; x < 400; ++x) {
            const double distance = std::hypot(x + 0.5 - 200, y + 0.5 - 80);
            count +=
                distance >= 69.6 && distance <= 70.4 && wanted(pixels + y * stride + x * channels);
        }
    }
    return count;
}

// Those that show anything but the background.
int focus_ring_pixels(GtkWidget *area) {
    return gap_pixels(area, [](const guchar *p) {
        return std::abs(p[0] - 245) > 8 || std::abs(p[1] - 245) > 8 || std::abs(p[2] - 245) > 8;
    });
}

// Pixels of that gap in which red clearly dominates.
int red_gap_pixels(GtkWidget *area) {
    return gap_pixels(area, [](const guchar *p) { return p[0] > p[1] + 40 && p[0] > p[2] + 40; });
}

// Keys and clicks enter GTK's event queue as the X server's do, so that GTK
// handles them whole: accelerators, focus, "focus-visible" and grabs.
void put_event(GdkEvent *event, GdkWindow *window, GdkDevice *device) {
    event->any.window = GDK_WINDOW(g_object_ref(window));
    event->any.send_event = FALSE;
    gdk_event_set_device(event, device);
    gdk_event_put(event);
    gdk_event_free(event);
}

GdkSeat *default_seat() {
    return gdk_display_get_default_seat(gdk_display_get_default());
}

void type_key(GtkWidget *window, guint keyval, GdkModifierType modifiers = GdkModifierType{}) {
    g_autofree GdkKeymapKey *keys = nullptr;
    int n_keys = 0;
    ASSERT_TRUE(gdk_keymap_get_entries_for_keyval(
        gdk_keymap_get_for_display(gdk_display_get_default()), keyval, &keys, &n_keys));
    for (GdkEventType type : {GDK_KEY_PRESS, GDK_KEY_RELEASE}) {
        GdkEvent *event = gdk_event_new(type);
        event->key.time = GDK_CURRENT_TIME;
        event->key.state = modifiers;
        event->key.keyval = keyval;
        event->key.string = g_strdup("");
        event->key.hardware_keycode = keys[0].keycode;
        event->key.group = keys[0].group;
        put_event(event, gtk_widget_get_window(window), gdk_seat_get_keyboard(default_seat()));
    }
}

void click_at(GtkWidget *area, int x, int y) {
    for (GdkEventType type : {GDK_BUTTON_PRESS, GDK_BUTTON_RELEASE}) {
        GdkEvent *event = gdk_event_new(type);
        event->button.time = GDK_CURRENT_TIME;
        event->button.x = x;
        event->button.y = y;
        event->button.button = 1;
        event->button.state = type == GDK_BUTTON_RELEASE ? GDK_BUTTON1_MASK : 0;
        put_event(event, gtk_widget_get_window(area), gdk_seat_get_pointer(default_seat()));
    }
}

// The window in front with the keyboard focus on START, as it opens for a user.
void focus(GtkWidget *window, GtkWidget *area) {
    gtk_window_present(GTK_WINDOW(window));
    ASSERT_TRUE(run_until(
        [&] { return gtk_window_is_active(GTK_WINDOW(window)) && gtk_widget_has_focus(area); }));
}

// The state record of the window whose run the fake engine is in.
app_state *running_state() {
    EXPECT_TRUE(run_until([] { return fake_engine::started() == 1; }));
    return static_cast<app_state *>(fake_engine::last_call().user_data);
}

TEST_F(MainWindow, SpaceOrEnterOnTheFocusedButtonStartsARun) {
    focus(window_, area_);
    fake_engine::set_script(held(succeeding(1, 1)));
    heap_records::reset();
    // The Tab chain: START, the menu button, START again.
    type_key(window_, GDK_KEY_Tab);
    ASSERT_TRUE(run_until([&] { return gtk_window_get_focus_visible(GTK_WINDOW(window_)); }));
    EXPECT_TRUE(run_until([&] { return gtk_widget_has_focus(menu_button()); }));
    type_key(window_, GDK_KEY_Tab);
    EXPECT_TRUE(run_until([&] { return gtk_widget_has_focus(area_); }));
    EXPECT_EQ(fake_engine::started(), 0);

    type_key(window_, GDK_KEY_space);
    app_state *state = running_state();
    ASSERT_NE(state, nullptr);
    EXPECT_EQ(state->drawing_area, area_);
    EXPECT_EQ(state->running, 1);
    for (guint key : {GDK_KEY_space, GDK_KEY_Return, GDK_KEY_KP_Enter}) {
        type_key(window_, key);
    }
    drain_main_loop();
    EXPECT_EQ(fake_engine::started(), 1) << "a second run started";
    EXPECT_EQ(heap_records::allocated(cell_size), 1);
    fake_engine::release();
    ASSERT_TRUE(run_until([&] { return runs_ended(*state); }));

    fake_engine::set_script(succeeding(987, 65.4321));
    type_key(window_, GDK_KEY_Return);
    EXPECT_TRUE(run_until([&] { return label_text(state->time_label) == "65.432 sec"; }));
    EXPECT_EQ(fake_engine::started(), 1);

    // With a modifier the keys are not START's: Ctrl+Space starts nothing.
    fake_engine::set_script(held(succeeding(1, 1)));
    type_key(window_, GDK_KEY_space, GDK_CONTROL_MASK);
    drain_main_loop();
    EXPECT_EQ(state->running, 0);
}

// A pointer user never sees the focus indicator, idle or during a run; the
// first key shows it, in the gap between disc and ring, which stay as they were.
TEST_F(MainWindow, FocusIndicatorShowsOnlyAfterKeyboardUse) {
    focus(window_, area_);
    fake_engine::set_script({.hold = true});
    click_at(area_, 200, 80);
    ASSERT_TRUE(screen_shows(area_, 140, 80, grey_disc));
    EXPECT_EQ(focus_ring_pixels(area_), 0);
    fake_engine::release();
    ASSERT_TRUE(screen_shows(area_, 140, 80, idle_disc));
    EXPECT_EQ(focus_ring_pixels(area_), 0);
    EXPECT_TRUE(gtk_widget_has_focus(area_));

    type_key(window_, GDK_KEY_Shift_L); // a key that changes nothing else
    EXPECT_TRUE(run_until([&] { return focus_ring_pixels(area_) > 100; }));

    fake_engine::set_script({.hold = true});
    type_key(window_, GDK_KEY_space);
    ASSERT_TRUE(screen_shows(area_, 140, 80, grey_disc));
    EXPECT_GT(focus_ring_pixels(area_), 100);
    for (int x : {268, 131}) {
        EXPECT_TRUE(near(on_screen(area_, x, 80), grey_disc)) << x;
    }
    for (int x : {271, 279, 128, 120}) {
        EXPECT_TRUE(near(on_screen(area_, x, 80), track)) << x;
    }
    fake_engine::release();
    EXPECT_TRUE(screen_shows(area_, 140, 80, idle_disc));
    EXPECT_GT(focus_ring_pixels(area_), 100);
}

// The outline takes the theme's style, and its colour where that stands out: here a
// dark red one, solid all round the gap, dashed or dotted over part of it.
TEST_F(MainWindow, FocusIndicatorFollowsTheTheme) {
    focus(window_, area_);
    type_key(window_, GDK_KEY_Shift_L);
    const struct {
        const char *style;
        int least, most; // red pixels of the gap's 316
    } themes[] = {{"solid", 300, 316}, {"dashed", 150, 210}, {"dotted", 95, 145}};
    for (const auto &theme : themes) {
        SCOPED_TRACE(theme.style);
        g_autoptr(GtkCssProvider) provider = gtk_css_provider_new();
        const std::string css = std::string("* { outline-color: #800000; outline-width: 1px; "
                                            "outline-style: ") +
                                theme.style + "; }";
        ASSERT_TRUE(gtk_css_provider_load_from_data(provider, css.c_str(), -1, nullptr));
        GtkStyleContext *context = gtk_widget_get_style_context(area_);
        gtk_style_context_add_provider(context, GTK_STYLE_PROVIDER(provider),
                                       GTK_STYLE_PROVIDER_PRIORITY_USER);
        gtk_widget_queue_draw(area_);
        int red = 0;
        EXPECT_TRUE(run_until([&] {
            red = red_gap_pixels(area_);
            return red >= theme.least && red <= theme.most;
        })) << red
            << " red pixels";
        gtk_style_context_remove_provider(context, GTK_STYLE_PROVIDER(provider));
    }
}

// Each change of the button's look is redrawn: a press, a release that starts
// nothing, the start of a run, a progress report and the result.
TEST_F(MainWindow, EveryChangeOfTheButtonReachesTheScreen) {
    auto send = [&](const char *signal, GdkEventType type, double x, double y) {
        return emit_button(area_, signal, type, x, y);
    };
    ASSERT_TRUE(screen_shows(area_, 140, 80, idle_disc));
    send("button-press-event", GDK_BUTTON_PRESS, 200, 80);
    EXPECT_TRUE(screen_shows(area_, 140, 80, pressed_disc)) << "the press";
    send("button-release-event", GDK_BUTTON_RELEASE, 5, 5);
    EXPECT_TRUE(screen_shows(area_, 140, 80, idle_disc)) << "a release outside the disc";

    fake_engine::set_script({.hold = true});
    send("button-press-event", GDK_BUTTON_PRESS, 200, 80);
    send("button-release-event", GDK_BUTTON_RELEASE, 200, 80);
    EXPECT_TRUE(screen_shows(area_, 140, 80, grey_disc)) << "the start";
    EXPECT_TRUE(screen_shows(area_, 279, 80, track));
    app_state *state = running_state();
    ASSERT_NE(state, nullptr);
    progress_callback(48, 0, state, 0.0); // half way
    EXPECT_TRUE(screen_shows(area_, 279, 80, green)) << "a progress report";
    fake_engine::release();
    EXPECT_TRUE(screen_shows(area_, 140, 80, idle_disc)) << "the result";
    EXPECT_TRUE(screen_shows(area_, 279, 80, background));
}

void record_busy_changes(AtkObject *accessible, std::vector<bool> *changes) {
    g_signal_connect(accessible, "state-change::busy",
                     G_CALLBACK(+[](AtkObject *, const char *, gboolean busy, gpointer seen) {
                         static_cast<std::vector<bool> *>(seen)->push_back(busy);
                     }),
                     changes);
}

bool has_state(AtkObject *accessible, AtkStateType type) {
    AtkStateSet *states = atk_object_ref_state_set(accessible);
    const bool found = atk_state_set_contains_state(states, type);
    g_object_unref(states);
    return found;
}

bool matches(const std::string &text, const std::string &pattern) {
    return std::regex_match(text, std::regex(pattern));
}

// START is a push button named "Start benchmark" whose "click" starts a run;
// while the run goes it is busy and its description says how far it has got,
// and afterwards when the last benchmark ended.
TEST_F(MainWindow, StartButtonIsAPushButtonForScreenReaders) {
    focus(window_, area_);
    AtkObject *button = gtk_widget_get_accessible(area_);
    EXPECT_EQ(atk_object_get_role(button), ATK_ROLE_PUSH_BUTTON);
    EXPECT_STREQ(atk_object_get_name(button), "Start benchmark");
    const std::string idle_description = atk_object_get_description(button);
    EXPECT_EQ(idle_description.find("Computes 8388608 digits of pi five times"), 0u)
        << idle_description;
    EXPECT_TRUE(has_state(button, ATK_STATE_FOCUSABLE));
    EXPECT_FALSE(has_state(button, ATK_STATE_BUSY));
    ASSERT_TRUE(ATK_IS_ACTION(button));
    AtkAction *action = ATK_ACTION(button);
    ASSERT_EQ(atk_action_get_n_actions(action), 1);
    EXPECT_STREQ(atk_action_get_name(action, 0), "click");

    std::vector<bool> busy_changes;
    record_busy_changes(button, &busy_changes);
    fake_engine::set_script(held(succeeding(1, 1)));
    EXPECT_TRUE(atk_action_do_action(action, 0));
    app_state *state = running_state();
    ASSERT_NE(state, nullptr);
    EXPECT_TRUE(has_state(button, ATK_STATE_BUSY));
    EXPECT_EQ(busy_changes, std::vector<bool>{true});
    const std::string running = "Benchmark running: run 1 of 5, 0:0[0-9] elapsed, ";
    EXPECT_TRUE(matches(atk_object_get_description(button), running + "0% done"))
        << atk_object_get_description(button);
    EXPECT_FALSE(atk_action_do_action(action, 0)) << "a second run started";

    for (auto [step, percent] : {std::pair{1, "1"}, {48, "50"}, {95, "100"}}) {
        progress_callback(step, 0, state, 0.0);
        drain_main_loop();
        EXPECT_TRUE(matches(atk_object_get_description(button), running + percent + "% done"))
            << atk_object_get_description(button);
    }
    fake_engine::release();
    ASSERT_TRUE(run_until([&] { return !state->running; }));
    EXPECT_FALSE(has_state(button, ATK_STATE_BUSY));
    EXPECT_EQ(busy_changes, (std::vector<bool>{true, false}));
    EXPECT_TRUE(matches(atk_object_get_description(button),
                        idle_description + " The last benchmark finished at [0-9:]{8}\\."))
        << atk_object_get_description(button);
    EXPECT_EQ(fake_engine::started(), 1);
}

// The result lines say what their numbers are, and each system value is
// labelled by its caption.
TEST_F(MainWindow, ResultsAndSystemValuesAreNamedForScreenReaders) {
    const std::vector<GtkWidget *> lines = children(results_);
    const struct {
        GtkWidget *label;
        const char *name;
        std::vector<std::string> tooltip_says;
    } results[] = {
        {lines[0], "Score", {"Higher is faster", "five runs", "processor time"}},
        {lines[1], "Processor time", {"Processor time of the five runs", "clock"}},
    };
    for (const auto &r : results) {
        SCOPED_TRACE(r.name);
        EXPECT_STREQ(atk_object_get_name(gtk_widget_get_accessible(r.label)), r.name);
        g_autofree char *tooltip = gtk_widget_get_tooltip_text(r.label);
        ASSERT_NE(tooltip, nullptr);
        for (const std::string &words : r.tooltip_says) {
            EXPECT_NE(std::string(tooltip).find(words), std::string::npos) << tooltip;
        }
    }

    auto only_target = [](AtkObject *source, AtkRelationType type) -> AtkObject * {
        AtkRelationSet *relations = atk_object_ref_relation_set(source);
        AtkRelation *relation = atk_relation_set_get_relation_by_type(relations, type);
        GPtrArray *targets = relation ? atk_relation_get_target(relation) : nullptr;
        AtkObject *target =
            targets && targets->len == 1 ? ATK_OBJECT(g_ptr_array_index(targets, 0)) : nullptr;
        g_object_unref(relations);
        return target;
    };
    const std::vector<GtkWidget *> rows = children(sysinfo_);
    ASSERT_GE(rows.size(), 5u);
    for (GtkWidget *row : rows) {
        const std::vector<GtkWidget *> labels = children(row);
        SCOPED_TRACE(label_text(labels[0]));
        AtkObject *caption = gtk_widget_get_accessible(labels[0]);
        AtkObject *value = gtk_widget_get_accessible(labels[1]);
        EXPECT_EQ(only_target(value, ATK_RELATION_LABELLED_BY), caption);
        EXPECT_EQ(only_target(caption, ATK_RELATION_LABEL_FOR), value);
    }
}

// The menu button is the Tab order's second stop: Space on it opens the menu, Escape
// closes it.
TEST_F(MainWindow, TabAndSpaceOpenTheMenu) {
    focus(window_, area_);
    type_key(window_, GDK_KEY_Tab);
    ASSERT_TRUE(run_until([&] { return gtk_widget_has_focus(menu_button()); }));
    type_key(window_, GDK_KEY_space);
    GtkWidget *menu = nullptr;
    ASSERT_TRUE(run_until([&] {
        menu = visible_menu();
        return menu && gtk_widget_get_mapped(menu);
    }));
    type_key(gtk_widget_get_toplevel(menu), GDK_KEY_Escape);
    EXPECT_TRUE(run_until([] { return visible_menu() == nullptr; }));
}

std::string selected_label(GtkWidget *menu) {
    GtkWidget *selected = gtk_menu_shell_get_selected_item(GTK_MENU_SHELL(menu));
    return selected ? gtk_menu_item_get_label(GTK_MENU_ITEM(selected)) : "";
}

// F10 opens the menu with its first usable item selected (History, before any benchmark);
// Down goes on to About, and Enter opens the dialog.
TEST_F(MainWindow, F10AndEnterOpenTheAboutDialog) {
    focus(window_, area_);
    type_key(window_, GDK_KEY_F10);
    GtkWidget *menu = nullptr;
    ASSERT_TRUE(run_until([&] {
        menu = visible_menu();
        return menu && gtk_widget_get_mapped(menu);
    }));
    EXPECT_EQ(selected_label(menu), "History");
    type_key(gtk_widget_get_toplevel(menu), GDK_KEY_Down);
    ASSERT_TRUE(run_until([&] { return selected_label(menu) == "About"; }));

    about_seen seen;
    const guint poll = g_timeout_add(20, answer_about_dialog, &seen);
    type_key(gtk_widget_get_toplevel(menu), GDK_KEY_Return);
    EXPECT_TRUE(run_until([&] { return seen.shown && !seen.dialog; }));
    if (!seen.shown) {
        g_source_remove(poll);
    }
    EXPECT_EQ(seen.text, "Tessary");
}

// --- Failures, the run in words, and the outcome of the runs ---

// What standard error received through g_printerr while it lives.
class printerr_capture {
  public:
    printerr_capture() {
        text_ = &captured_;
        previous_ = g_set_printerr_handler([](const char *text) { *text_ += text; });
    }
    ~printerr_capture() {
        g_set_printerr_handler(previous_);
        text_ = nullptr;
    }
    const std::string &text() const { return captured_; }

  private:
    static inline std::string *text_ = nullptr;
    std::string captured_;
    GPrintFunc previous_;
};

// The names of an accessible and all below it: what a screen reader can read out.
void collect_names(AtkObject *accessible, std::vector<std::string> *names) {
    if (const char *name = atk_object_get_name(accessible)) {
        names->push_back(name);
    }
    for (int i = 0; i < atk_object_get_n_accessible_children(accessible); ++i) {
        AtkObject *child = atk_object_ref_accessible_child(accessible, i);
        collect_names(child, names);
        g_object_unref(child);
    }
}

GtkWidget *visible_message_dialog() {
    return find_toplevel([](GtkWidget *w) { return GTK_IS_MESSAGE_DIALOG(w); });
}

std::string subtitle_of(GtkWidget *window) {
    const char *subtitle =
        gtk_header_bar_get_subtitle(GTK_HEADER_BAR(gtk_window_get_titlebar(GTK_WINDOW(window))));
    return subtitle ? subtitle : "";
}

// The seconds since START that the subtitle shows during run `run`, or -1.
int seconds_in_run(GtkWidget *window, int run) {
    static const std::regex progress("Run ([1-5]) of 5 \u00b7 ([0-9]+):([0-9]{2})");
    const std::string subtitle = subtitle_of(window);
    std::smatch parts;
    if (!std::regex_match(subtitle, parts, progress) || std::stoi(parts[1]) != run) {
        return -1;
    }
    return std::stoi(parts[2]) * 60 + std::stoi(parts[3]);
}

pi_result failed_run(const char *message) {
    pi_result result{};
    result.digits = 8388608;
    result.time_seconds = 10;
    std::snprintf(result.error_message, sizeof result.error_message, "%s", message);
    return result;
}

// A run that computed digits of pi wrong from `digit` on, in the engine's words.
fake_engine::run_script wrong_run(int digit, const char *message) {
    return {.steps = 19,
            .result = failed_run(message),
            .check = {.verified_digits = digit - 1,
                      .first_wrong_digit = digit,
                      .unchecked_digits = 0,
                      .arithmetic_error = 1}};
}

fake_engine::run_script good_run(double score, double seconds) {
    return {.steps = 19, .result = success(score, seconds)};
}

// A failed benchmark's message names the run and the first wrong digit, or each run's own
// reason; it is a dialog that screen readers announce, on standard error too, and in
// START's description; both result lines stay "--". The next START closes it.
TEST_F(MainWindow, AFailureSaysWhyUntilTheNextStart) {
    const fake_engine::run_script no_memory{.result = failed_run("Memory allocation failed")};
    const struct {
        const char *name;
        std::vector<fake_engine::run_script> runs;
        std::string message;
    } failures[] = {
        {"a wrong digit in run 3",
         {good_run(900, 10), good_run(900, 10),
          wrong_run(5731204, "Computed digits of pi are wrong from digit 5,731,204: the machine "
                             "made an arithmetic error")},
         "Benchmark run 3 computed wrong digits of pi from digit 5731204: the machine made an "
         "arithmetic error"},
        {"no memory for any run",
         {},
         "All 5 benchmark runs failed\nRun 1: Memory allocation failed\nRun 2: Memory allocation "
         "failed\nRun 3: Memory allocation failed\nRun 4: Memory allocation failed\nRun 5: Memory "
         "allocation failed"},
        {"no memory for run 2, wrong digits somewhere in run 4",
         {good_run(900, 10), no_memory, good_run(900, 10),
          wrong_run(1, "Computed digits of pi are wrong somewhere in digits 1 to 3,072: the "
                       "machine made an arithmetic error")},
         "Benchmark run 4 computed wrong digits of pi somewhere in digits 1 to 3072: the machine "
         "made an arithmetic error\nRun 2: Memory allocation failed"},
    };
    focus(window_, area_);
    AtkObject *button = gtk_widget_get_accessible(area_);
    GtkWidget *last_dialog = nullptr; // cleared when it is finalized
    for (const auto &failure : failures) {
        SCOPED_TRACE(failure.name);
        fake_engine::set_script({.runs = failure.runs});
        printerr_capture printed;
        click_at(area_, 200, 80);
        GtkWidget *dialog = nullptr;
        ASSERT_TRUE(run_until([&] { return !last_dialog && (dialog = visible_message_dialog()); }))
            << "START closes the last failure's message, and this one's is shown";

        g_autofree char *text = nullptr;
        g_autofree char *secondary = nullptr;
        GtkMessageType type = GTK_MESSAGE_OTHER;
        g_object_get(dialog, "text", &text, "secondary-text", &secondary, "message-type", &type,
                     nullptr);
        EXPECT_STREQ(text, "The benchmark failed");
        EXPECT_EQ(secondary, failure.message);
        EXPECT_EQ(type, GTK_MESSAGE_ERROR);
        EXPECT_EQ(gtk_window_get_transient_for(GTK_WINDOW(dialog)), GTK_WINDOW(window_));
        EXPECT_FALSE(gtk_window_get_modal(GTK_WINDOW(dialog))) << "the window stays usable";

        AtkObject *alert = gtk_widget_get_accessible(dialog);
        EXPECT_EQ(atk_object_get_role(alert), ATK_ROLE_ALERT);
        std::vector<std::string> spoken;
        collect_names(alert, &spoken);
        EXPECT_NE(std::find(spoken.begin(), spoken.end(), failure.message), spoken.end());
        const std::string description = atk_object_get_description(button);
        EXPECT_NE(description.find("The last benchmark failed at "), std::string::npos);
        EXPECT_NE(description.find(failure.message), std::string::npos) << description;

        std::string lines;
        for (const std::string &line : lines_of(failure.message)) {
            lines += "tessary: " + line + "\n";
        }
        EXPECT_EQ(printed.text(), lines);
        EXPECT_TRUE(matches(subtitle_of(window_), "Failed at [0-9:]{8}")) << subtitle_of(window_);
        EXPECT_EQ(label_text(children(results_)[0]), "--");
        EXPECT_EQ(label_text(children(results_)[1]), "--");
        last_dialog = dialog;
        g_object_add_weak_pointer(G_OBJECT(dialog), reinterpret_cast<gpointer *>(&last_dialog));
    }

    gtk_dialog_response(GTK_DIALOG(last_dialog), GTK_RESPONSE_CLOSE);
    EXPECT_TRUE(run_until([&] { return !last_dialog; })) << "Close closes it";
    fake_engine::set_script(held(succeeding(1, 1)));
    click_at(area_, 200, 80);
    EXPECT_TRUE(run_until([&] { return subtitle_of(window_).starts_with("Run 1 of 5"); }))
        << subtitle_of(window_);
}

// While a benchmark runs the subtitle names the run and the time since START, ticking
// each second between reports too; afterwards it says when the result came. The runs'
// records, checks and wall-clock times reach the state, each in its run's place.
TEST_F(MainWindow, SubtitleCountsTheRunsAndTheirTime) {
    std::vector<std::string> subtitles;
    GtkWidget *header = gtk_window_get_titlebar(GTK_WINDOW(window_));
    g_signal_connect(header, "notify::subtitle",
                     G_CALLBACK(+[](GObject *bar, GParamSpec *, gpointer seen) {
                         auto *list = static_cast<std::vector<std::string> *>(seen);
                         const char *now = gtk_header_bar_get_subtitle(GTK_HEADER_BAR(bar));
                         if (now && (list->empty() || list->back() != now)) {
                             list->push_back(now);
                         }
                     }),
                     &subtitles);
    fake_engine::script script;
    for (int run = 1; run <= 5; ++run) {
        script.runs.push_back(
            {.steps = 19, .result = success(900 + run, 10 + run), .wall_seconds = 1.0 * run});
    }
    script.hold_in_run = 3;
    fake_engine::set_script(script);
    heap_records::reset();
    click_at(area_, 200, 80);
    app_state *state = running_state();
    ASSERT_NE(state, nullptr);
    // Runs 1 and 2 took 1 and 2 seconds, and the machine a moment.
    int seconds = -1;
    EXPECT_TRUE(run_until([&] { return (seconds = seconds_in_run(window_, 3)) >= 3; }))
        << subtitle_of(window_);
    EXPECT_LT(seconds, 10);
    // Run 3 goes on without a report: only the clock moves the subtitle on.
    const int before = seconds;
    EXPECT_TRUE(run_until([&] { return (seconds = seconds_in_run(window_, 3)) > before; }))
        << subtitle_of(window_);
    fake_engine::advance_clock(60);
    const int ticked = seconds;
    EXPECT_TRUE(run_until([&] { return seconds_in_run(window_, 3) >= ticked + 60; }))
        << subtitle_of(window_);
    fake_engine::release();
    ASSERT_TRUE(run_until([&] { return runs_ended(*state); }));

    std::vector<std::string> runs;
    for (const std::string &subtitle : subtitles) {
        const std::string run = subtitle.substr(0, subtitle.find(" \u00b7"));
        if (runs.empty() || runs.back() != run) {
            runs.push_back(run);
        }
    }
    ASSERT_FALSE(runs.empty());
    EXPECT_TRUE(matches(runs.back(), "Finished at [0-9:]{8}")) << runs.back();
    runs.pop_back();
    EXPECT_EQ(runs,
              (strings{"Run 1 of 5", "Run 2 of 5", "Run 3 of 5", "Run 4 of 5", "Run 5 of 5"}));

    const worker_outcome *outcome = state->outcome;
    ASSERT_NE(outcome, nullptr);
    EXPECT_EQ(outcome->state, state);
    EXPECT_EQ(outcome->runs_done, 5);
    // Run 3 also lasted while the test waited for the clock, a few seconds.
    const double wall[] = {1, 2, 63, 4, 5};
    for (int run = 0; run < 5; ++run) {
        SCOPED_TRACE(run + 1);
        EXPECT_EQ(outcome->runs[run].score, 901 + run);
        EXPECT_EQ(outcome->runs[run].time_seconds, 11 + run);
        EXPECT_GE(outcome->run_wall_seconds[run], wall[run]);
        EXPECT_LT(outcome->run_wall_seconds[run], wall[run] + (run == 2 ? 30 : 0.9));
    }
    EXPECT_EQ(heap_records::live(outcome_size), 1);

    // START lets the last outcome go. A wrong run ends the benchmark: its check is
    // handed over, and no run after it.
    fake_engine::set_script(
        {.runs = {good_run(900, 10), wrong_run(77, "Computed digits of pi are wrong from digit "
                                                   "77: the machine made an arithmetic error")},
         .hold = true});
    click_at(area_, 200, 80);
    ASSERT_TRUE(run_until([] { return fake_engine::started() == 1; }));
    EXPECT_EQ(state->outcome, nullptr);
    fake_engine::release();
    ASSERT_TRUE(run_until(
        [&] { return fake_engine::finished() == 1 && runs_ended(*state) && state->outcome; }));
    EXPECT_EQ(state->outcome->runs_done, 2);
    EXPECT_EQ(state->outcome->checks[1].first_wrong_digit, 77);
    EXPECT_EQ(state->outcome->runs[2].digits, 0) << "run 3 never started";
    EXPECT_EQ(heap_records::live(outcome_size), 1) << "the last outcome was freed";
}

// --- The window in light and dark themes, measured from its pixels ---

// WCAG's contrast ratio of two 8-bit sRGB colours.
double contrast_ratio(const guchar *a, const guchar *b) {
    auto luminance = [](const guchar *p) {
        double sum = 0;
        const double weights[] = {0.2126, 0.7152, 0.0722};
        for (int i = 0; i < 3; ++i) {
            const double c = p[i] / 255.0;
            sum += weights[i] * (c <= 0.04045 ? c / 12.92 : std::pow((c + 0.055) / 1.055, 2.4));
        }
        return sum;
    };
    const double la = luminance(a);
    const double lb = luminance(b);
    return (std::max(la, lb) + 0.05) / (std::min(la, lb) + 0.05);
}

// Switches GTK to Adwaita's light or dark variant while it lives.
class adwaita_variant {
  public:
    explicit adwaita_variant(bool dark) {
        g_object_set(gtk_settings_get_default(), "gtk-theme-name", "Adwaita",
                     "gtk-application-prefer-dark-theme", dark, nullptr);
    }
    ~adwaita_variant() {
        g_object_set(gtk_settings_get_default(), "gtk-application-prefer-dark-theme", FALSE,
                     nullptr);
    }
};

// The text of a widget against its background, as drawn: the most common colour of
// its area is the background, the pixel that differs most from it the ink.
struct text_contrast {
    double ratio = 0;
    double background_luminance = 0;
};

text_contrast measure_text(GtkWidget *text) {
    int x0 = 0;
    int y0 = 0;
    gtk_widget_translate_coordinates(text, gtk_widget_get_toplevel(text), 0, 0, &x0, &y0);
    const int w = gtk_widget_get_allocated_width(text);
    const int h = gtk_widget_get_allocated_height(text);
    g_autoptr(GdkPixbuf) shot =
        gdk_pixbuf_get_from_window(gtk_widget_get_window(text), x0, y0, w, h);
    text_contrast found;
    if (!shot) {
        return found;
    }
    const guchar *pixels = gdk_pixbuf_get_pixels(shot);
    const int stride = gdk_pixbuf_get_rowstride(shot);
    const int channels = gdk_pixbuf_get_n_channels(shot);
    auto at = [&](int x, int y) { return pixels + y * stride + x * channels; };
    std::map<uint32_t, int> counts;
    for (int y = 0; y < h; ++y) {
        for (int x = 0; x < w; ++x) {
            const guchar *p = at(x, y);
            ++counts[p[0] << 16 | p[1] << 8 | p[2]];
        }
    }
    const uint32_t common = std::max_element(counts.begin(), counts.end(), [](auto &a, auto &b) {
                                return a.second < b.second;
                            })->first;
    const guchar background[] = {guchar(common >> 16), guchar(common >> 8 & 255),
                                 guchar(common & 255)};
    for (int y = 0; y < h; ++y) {
        for (int x = 0; x < w; ++x) {
            found.ratio = std::max(found.ratio, contrast_ratio(at(x, y), background));
        }
    }
    const guchar black[] = {0, 0, 0};
    found.background_luminance = (contrast_ratio(background, black) * 0.05) - 0.05;
    return found;
}

// Measures the About dialog's two texts once it is up, then presses OK.
struct about_contrast {
    std::vector<text_contrast> texts;
    GtkWidget *dialog = nullptr;
    bool drawn = false; // a new window shows what was on screen before until it is drawn
    bool done = false;
};

gboolean measure_about_dialog(gpointer data) {
    auto *seen = static_cast<about_contrast *>(data);
    GtkWidget *dialog = visible_message_dialog();
    if (!dialog) {
        return G_SOURCE_CONTINUE;
    }
    if (dialog != seen->dialog) {
        seen->dialog = dialog;
        g_signal_connect_after(dialog, "draw",
                               G_CALLBACK(+[](GtkWidget *, cairo_t *, gpointer data) {
                                   static_cast<about_contrast *>(data)->drawn = true;
                                   return FALSE;
                               }),
                               seen);
        gtk_widget_queue_draw(dialog); // it may have been drawn before this poll
    }
    if (!seen->drawn) {
        return G_SOURCE_CONTINUE;
    }
    gdk_display_sync(gdk_display_get_default());
    GtkWidget *area = gtk_message_dialog_get_message_area(GTK_MESSAGE_DIALOG(dialog));
    for (GtkWidget *label : children(area)) {
        if (gtk_widget_get_visible(label)) {
            seen->texts.push_back(measure_text(label));
        }
    }
    seen->done = true;
    gtk_dialog_response(GTK_DIALOG(dialog), GTK_RESPONSE_OK);
    return G_SOURCE_REMOVE;
}

// About's texts read well (4.5:1, WCAG's level for text) on the theme's own background,
// light or dark.
TEST_F(MainWindow, AboutReadsWellInLightAndDarkThemes) {
    for (bool dark : {false, true}) {
        SCOPED_TRACE(dark ? "dark" : "light");
        adwaita_variant theme(dark);
        about_contrast seen;
        const guint poll = g_timeout_add(50, measure_about_dialog, &seen);
        gtk_button_clicked(GTK_BUTTON(menu_button()));
        GtkWidget *menu = nullptr;
        ASSERT_TRUE(run_until([&] {
            menu = visible_menu();
            return menu && gtk_widget_get_mapped(menu);
        }));
        gtk_menu_shell_activate_item(GTK_MENU_SHELL(menu), children(menu).back(), TRUE);
        if (!seen.done) {
            g_source_remove(poll);
        }
        ASSERT_EQ(seen.texts.size(), 2u) << "primary and secondary text";
        for (const text_contrast &text : seen.texts) {
            EXPECT_GE(text.ratio, 4.5);
            if (dark) {
                EXPECT_LT(text.background_luminance, 0.2) << "a dark dialog in a dark theme";
            } else {
                EXPECT_GT(text.background_luminance, 0.6);
            }
        }
    }
}

// Once the keyboard has been used, START's outline changes the gap around the disc by
// at least 3:1 (WCAG's focus appearance) and stands 3:1 apart from the disc, in light
// and dark themes; the theme's own outline is faint or light in both.
TEST_F(MainWindow, FocusOutlineStandsOutInLightAndDarkThemes) {
    for (bool dark : {false, true}) {
        SCOPED_TRACE(dark ? "dark" : "light");
        adwaita_variant theme(dark);
        gtk_window_set_focus_visible(GTK_WINDOW(window_), FALSE);
        focus(window_, area_);
        ASSERT_TRUE(run_until([&] { return focus_ring_pixels(area_) == 0; }));
        g_autoptr(GdkPixbuf) before =
            gdk_pixbuf_get_from_window(gtk_widget_get_window(area_), 0, 0, 400, 160);
        type_key(window_, GDK_KEY_Shift_L);
        ASSERT_TRUE(run_until([&] { return focus_ring_pixels(area_) > 100; }));
        g_autoptr(GdkPixbuf) after =
            gdk_pixbuf_get_from_window(gtk_widget_get_window(area_), 0, 0, 400, 160);

        const int stride = gdk_pixbuf_get_rowstride(after);
        const int channels = gdk_pixbuf_get_n_channels(after);
        const guchar disc[] = {66, 135, 245};
        int standing_out = 0;
        for (int y = 0; y < 160; ++y) {
            for (int x = 0; x < 400; ++x) {
                const double distance = std::hypot(x + 0.5 - 200, y + 0.5 - 80);
                if (distance < 69.6 || distance > 70.4) {
                    continue;
                }
                const guchar *now = gdk_pixbuf_get_pixels(after) + y * stride + x * channels;
                const guchar *was = gdk_pixbuf_get_pixels(before) + y * stride + x * channels;
                standing_out += contrast_ratio(now, was) >= 3 && contrast_ratio(now, disc) >= 3;
            }
        }
        // A dashed outline, Adwaita's style, covers about half of the gap's 316 pixels.
        EXPECT_GE(standing_out, 120);
    }
}

// --- Numbers in the user's locale ---

// A German locale: the system's, or one that localedef makes in a directory of this
// process's own, removed at exit. The name is empty when neither can be had.
struct german_locale {
    std::string name;
    std::filesystem::path directory;
    ~german_locale() {
        if (!directory.empty()) {
            std::filesystem::remove_all(directory);
        }
    }
};

german_locale find_or_make_german_locale() {
    for (const char *name : {"de_DE.UTF-8", "de_DE.utf8"}) {
        if (std::setlocale(LC_ALL, name)) {
            std::setlocale(LC_ALL, "C");
            return {name, {}};
        }
    }
    g_autofree char *directory = g_dir_make_tmp("tessary-locale-XXXXXX", nullptr);
    if (!directory) {
        return {};
    }
    // glibc looks the locale up under its normalised name.
    const std::string command =
        std::string("localedef -i de_DE -f UTF-8 '") + directory + "/de_DE.utf8' >/dev/null 2>&1";
    [[maybe_unused]] const int status = std::system(command.c_str()); // warnings exit 1
    g_setenv("LOCPATH", directory, TRUE);
    const bool made = std::setlocale(LC_ALL, "de_DE.UTF-8") != nullptr;
    std::setlocale(LC_ALL, "C");
    return {made ? "de_DE.UTF-8" : "", directory};
}

const std::string &german() {
    static const german_locale locale = find_or_make_german_locale();
    return locale.name;
}

// The process in a locale while it lives; back to C after.
class scoped_locale {
  public:
    explicit scoped_locale(const std::string &name) { std::setlocale(LC_ALL, name.c_str()); }
    ~scoped_locale() { std::setlocale(LC_ALL, "C"); }
};

// In German every number in the window is German: the score and the time, the tooltips,
// the system panel, a failure's message and START's description. The C locale's texts are
// those that the other tests check.
TEST_F(StartButton, NumbersFollowTheLocale) {
    if (german().empty()) {
        GTEST_SKIP() << "SKIPPED: no German locale, and localedef (package locales) made none";
    }
    scoped_locale in_german(german());

    run_benchmark(succeeding(1234567, 25.645));
    EXPECT_EQ(label_text(state_.score_label), "1.234.567");
    EXPECT_EQ(time_text(), "25,645 sec");
    // Details too; what Copy and Save… give stays tessary-cli's.
    ASSERT_TRUE(saves_ended());
    const report_record &record = *state_.results->last;
    const std::vector<std::string> shown = lines_of(details_text(record));
    for (const std::string wanted :
         {"Score:            1.234.567", "Processor time:   25,645 sec",
          "Run 1: 25,645 sec processor, < 0,001 sec wall, score 1.234.567, too few digits to "
          "verify"}) {
        EXPECT_NE(std::find(shown.begin(), shown.end(), wanted), shown.end()) << wanted;
    }
    EXPECT_NE(text_report(record).find("Score:            1,234,567\n"), std::string::npos);
    EXPECT_NE(json_report(record).find("\"time_seconds\":25.645"), std::string::npos);
    // The comparison with the earlier results is tessary-cli's words, in any locale.
    run_benchmark(succeeding(1000000, 30));
    ASSERT_TRUE(saves_ended());
    const std::string &comparison = state_.results->last->comparison;
    EXPECT_TRUE(matches(comparison, "Score 1000000: [0-9]+\\.[0-9] % (above|below) your .*"))
        << comparison;

    app_state panel_state{};
    GtkWidget *results = GTK_WIDGET(g_object_ref_sink(build_results_panel(&panel_state)));
    g_autofree char *tooltip = gtk_widget_get_tooltip_text(panel_state.score_label);
    EXPECT_NE(std::string(tooltip).find("(8.388.608)"), std::string::npos) << tooltip;
    g_object_unref(results);

    system_info info{};
    info.valid = 1;
    info.physical_cores = 8;
    info.logical_cores = 16;
    info.cpu_mhz = 3800;
    info.memory_mb = 32011;
    GtkWidget *panel = GTK_WIDGET(g_object_ref_sink(build_system_panel(&info)));
    strings values;
    for (GtkWidget *row : children(panel)) {
        values.push_back(label_text(children(row)[1]));
    }
    EXPECT_EQ(values, (strings{"", "8 cores (16 logical)", "3.800 MHz", "32.011 MB", " ", ""}));
    g_object_unref(panel);

    run_benchmark(
        {.runs = {wrong_run(5731204, "Computed digits of pi are wrong from digit "
                                     "5,731,204: the machine made an arithmetic error")}});
    ASSERT_NE(state_.failure_dialog, nullptr);
    g_autofree char *secondary = nullptr;
    g_object_get(state_.failure_dialog, "secondary-text", &secondary, nullptr);
    EXPECT_STREQ(secondary, "Benchmark run 1 computed wrong digits of pi from digit 5.731.204: "
                            "the machine made an arithmetic error");
    const std::string description =
        atk_object_get_description(gtk_widget_get_accessible(state_.drawing_area));
    EXPECT_EQ(description.find("Computes 8.388.608 digits"), 0u) << description;
}

// --- Details, the saved results and their History ---

// The store that the window saves into, emptied.
std::string fresh_store() {
    std::string why;
    const std::string path = default_results_path(why);
    EXPECT_FALSE(path.empty()) << why;
    std::filesystem::remove_all(std::filesystem::path(path).parent_path());
    return path;
}

std::vector<results_row> stored_rows(const std::string &path) {
    results_row *rows = nullptr;
    size_t count = 0;
    results_message message{};
    EXPECT_EQ(results_list(path.c_str(), &rows, &count, &message), 1) << message.text;
    std::vector<results_row> copy(rows, rows + count);
    std::free(rows);
    return copy;
}

std::string stored_report(const std::string &path, int64_t id) {
    results_message message{};
    char *report = results_report(path.c_str(), id, &message);
    EXPECT_NE(report, nullptr) << message.text;
    std::string text = report ? report : "";
    std::free(report);
    return text;
}

std::string file_text(const std::filesystem::path &path) {
    std::ifstream in(path);
    return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
}

// The first widget named `name` in `root`, internal children included.
GtkWidget *find_named(GtkWidget *root, const char *name) {
    if (std::string_view(gtk_widget_get_name(root)) == name) {
        return root;
    }
    if (!GTK_IS_CONTAINER(root)) {
        return nullptr;
    }
    std::vector<GtkWidget *> inner;
    gtk_container_forall(
        GTK_CONTAINER(root),
        [](GtkWidget *child, gpointer list) {
            static_cast<std::vector<GtkWidget *> *>(list)->push_back(child);
        },
        &inner);
    for (GtkWidget *child : inner) {
        if (GtkWidget *found = find_named(child, name)) {
            return found;
        }
    }
    return nullptr;
}

GtkWidget *dialog_titled(const char *title) {
    return find_toplevel([&](GtkWidget *w) {
        const char *now = gtk_window_get_title(GTK_WINDOW(w));
        return GTK_IS_DIALOG(w) && now && std::string_view(now) == title;
    });
}

std::string shown_text(GtkWidget *details) {
    GtkTextBuffer *buffer =
        gtk_text_view_get_buffer(GTK_TEXT_VIEW(find_named(details, "details-text")));
    GtkTextIter start;
    GtkTextIter end;
    gtk_text_buffer_get_bounds(buffer, &start, &end);
    g_autofree char *text = gtk_text_buffer_get_text(buffer, &start, &end, FALSE);
    return text;
}

// Answers the dialog that `wanted` accepts, each time a timeout that the nested main loop
// running it dispatches finds it mapped (a file chooser may check its file first and ignore
// an answer), with the number of answers given before; removed when it lives no longer.
class dialog_answer {
  public:
    using answer_function = std::function<void(GtkWidget *, int)>;
    dialog_answer(std::function<bool(GtkWidget *)> wanted, answer_function answer)
        : wanted_(std::move(wanted)), answer_(std::move(answer)) {
        source_ = g_timeout_add(20, poll, this);
    }
    ~dialog_answer() { g_source_remove(source_); }
    dialog_answer(const dialog_answer &) = delete;
    dialog_answer &operator=(const dialog_answer &) = delete;
    int answers = 0;

  private:
    static gboolean poll(gpointer data) {
        auto *self = static_cast<dialog_answer *>(data);
        GtkWidget *dialog = find_toplevel(self->wanted_);
        if (dialog && gtk_widget_get_mapped(dialog)) {
            self->answer_(dialog, self->answers++);
        }
        return G_SOURCE_CONTINUE;
    }
    std::function<bool(GtkWidget *)> wanted_;
    answer_function answer_;
    guint source_ = 0;
};

// Saves into `path` through the file chooser.
dialog_answer::answer_function choose_file(const std::filesystem::path &path) {
    return [path](GtkWidget *chooser, int answers) {
        if (answers == 0) {
            gtk_file_chooser_set_current_folder(GTK_FILE_CHOOSER(chooser),
                                                path.parent_path().c_str());
            gtk_file_chooser_set_current_name(GTK_FILE_CHOOSER(chooser), path.filename().c_str());
        }
        gtk_dialog_response(GTK_DIALOG(chooser), GTK_RESPONSE_ACCEPT);
    };
}

bool is_file_chooser(GtkWidget *widget) {
    return GTK_IS_FILE_CHOOSER_DIALOG(widget);
}

bool is_message(GtkWidget *widget) {
    return GTK_IS_MESSAGE_DIALOG(widget);
}

// Records a message dialog's primary text, then answers it with `response`.
dialog_answer::answer_function answer_message(std::string *text, int response) {
    return [text, response](GtkWidget *dialog, int) {
        g_autofree char *primary = nullptr;
        g_object_get(dialog, "text", &primary, nullptr);
        *text = primary ? primary : "";
        gtk_dialog_response(GTK_DIALOG(dialog), response);
    };
}

// Where the tests write the pictures of the dialogs: TESSARY_SCREENSHOTS, or nowhere.
void screenshot(GtkWidget *window, const std::string &name) {
    const char *directory = g_getenv("TESSARY_SCREENSHOTS");
    if (!directory) {
        return;
    }
    run_until([] { return !gtk_events_pending(); });
    gdk_display_sync(gdk_display_get_default());
    g_usleep(200000);
    run_until([] { return !gtk_events_pending(); });
    GdkWindow *surface = gtk_widget_get_window(window);
    g_autoptr(GdkPixbuf) shot = gdk_pixbuf_get_from_window(
        surface, 0, 0, gdk_window_get_width(surface), gdk_window_get_height(surface));
    ASSERT_NE(shot, nullptr);
    const std::string path = std::string(directory) + "/" + name + ".png";
    EXPECT_TRUE(gdk_pixbuf_save(shot, path.c_str(), "png", nullptr, nullptr)) << path;
}

// Five runs whose every figure differs from every other run's: run r (1 to 5) takes
// 10 + 1.25 r processor seconds and 20 + 1.5 r on the wall clock, scores 800 + 3 r and
// verifies 8,388,600 + r digits.
fake_engine::script distinct_runs() {
    fake_engine::script script;
    for (int run = 1; run <= 5; ++run) {
        script.runs.push_back({.steps = 19,
                               .result = success(800 + 3 * run, 10 + 1.25 * run),
                               .check = {8388600 + run, 0, 0, 0},
                               .wall_seconds = 20 + 1.5 * run});
    }
    return script;
}

class WindowResults : public MainWindow {
  protected:
    void SetUp() override {
        store_ = fresh_store();
        MainWindow::SetUp();
    }
    void TearDown() override {
        for (const char *title : {"Details", "History"}) {
            while (GtkWidget *dialog = dialog_titled(title)) {
                gtk_widget_destroy(dialog);
            }
        }
        MainWindow::TearDown();
    }

    // The state of the window, found through a benchmark of `script` that it finishes.
    app_state *finish_benchmark(fake_engine::script script) {
        fake_engine::set_script(std::move(script));
        click_at(area_, 200, 80);
        app_state *state = running_state();
        EXPECT_TRUE(run_until([&] { return state && runs_ended(*state); }));
        EXPECT_TRUE(saves_ended());
        return state;
    }

    // Activates the menu item labelled `label`.
    void choose(const char *label) {
        gtk_button_clicked(GTK_BUTTON(menu_button()));
        GtkWidget *menu = nullptr;
        ASSERT_TRUE(
            run_until([&] { return (menu = visible_menu()) && gtk_widget_get_mapped(menu); }));
        for (GtkWidget *item : children(menu)) {
            if (!GTK_IS_SEPARATOR_MENU_ITEM(item) &&
                gtk_menu_item_get_label(GTK_MENU_ITEM(item)) == std::string_view(label)) {
                ASSERT_TRUE(gtk_widget_is_sensitive(item)) << label;
                gtk_menu_shell_activate_item(GTK_MENU_SHELL(menu), item, TRUE);
                return;
            }
        }
        ADD_FAILURE() << "no menu item " << label;
    }

    GtkWidget *open(const char *title) {
        choose(title);
        GtkWidget *dialog = nullptr;
        EXPECT_TRUE(run_until([&] { return (dialog = dialog_titled(title)); })) << title;
        return dialog;
    }

    std::string store_;
};

// "Run 3: 13.750 sec processor, 24.500 sec wall, score 809, 8,388,603 verified", the count
// grouped as tessary-cli does, or not, as the C locale writes it.
std::string run_line(int run, bool grouped) {
    char line[160];
    std::snprintf(line, sizeof line,
                  "Run %d: %.3f sec processor, %.3f sec wall, score %d, %s6%02d verified", run,
                  10 + 1.25 * run, 20 + 1.5 * run, 800 + 3 * run, grouped ? "8,388," : "8388", run);
    return line;
}

// The figures that Details shows are each run's own, their spread over all five, the totals,
// the versions and the save; Copy gives tessary-cli's text report of the record; Save… writes
// its JSON report, the runs in it; a failed write says so.
TEST_F(WindowResults, DetailsShowsCopiesAndSavesTheLastBenchmark) {
    app_state *state = finish_benchmark(distinct_runs());
    ASSERT_NE(state, nullptr);
    ASSERT_TRUE(state->results->last.has_value());
    const report_record &record = *state->results->last;
    GtkWidget *details = open("Details");
    ASSERT_NE(details, nullptr);
    EXPECT_EQ(gtk_window_get_transient_for(GTK_WINDOW(details)), GTK_WINDOW(window_));
    EXPECT_FALSE(gtk_window_get_modal(GTK_WINDOW(details)));
    const std::string text = shown_text(details);
    const std::vector<std::string> lines = lines_of(text);
    for (int run = 1; run <= 5; ++run) {
        EXPECT_NE(std::find(lines.begin(), lines.end(), run_line(run, false)), lines.end())
            << run_line(run, false) << "\nin\n"
            << text;
    }
    // Processor times 11.25 to 16.25: median 13.75, (16.25 - 11.25) / 13.75 = 36.4 %.
    const std::vector<std::string> rows = {
        "Spread:           11.250 / 13.750 / 16.250 sec min / median / max (36.4 %)",
        "Processor time:   68.750 sec",
        "Score:            809",
        "Program:          tessary " TESSARY_PROJECT_VERSION,
        "Engine:           " + std::string(pi_get_version()),
        "Kernels:          " + std::string(pi_simd_path()),
        "Started:          " + record.started_at,
        "Saved:            as result " + std::to_string(record.saved->id)};
    for (const std::string &wanted : rows) {
        EXPECT_NE(std::find(lines.begin(), lines.end(), wanted), lines.end()) << wanted << "\nin\n"
                                                                              << text;
    }
    EXPECT_TRUE(matches(record.started_at, "20[0-9]{2}-[0-9]{2}-[0-9]{2}T[0-9:]{8}Z"));
    ASSERT_TRUE(record.conditions.has_value());
    EXPECT_GT(record.conditions->processors, 0);

    gtk_dialog_response(GTK_DIALOG(details), details_copy);
    g_autofree char *copied =
        gtk_clipboard_wait_for_text(gtk_clipboard_get(GDK_SELECTION_CLIPBOARD));
    ASSERT_NE(copied, nullptr);
    EXPECT_EQ(copied, text_report(record));
    EXPECT_NE(std::string(copied).find(run_line(3, true)), std::string::npos) << copied;
    screenshot(details, "details-light");
    {
        adwaita_variant dark(true);
        screenshot(details, "details-dark");
    }

    const std::filesystem::path saved = data_home.directory / "saved report.json";
    {
        const dialog_answer chooser(is_file_chooser, choose_file(saved));
        gtk_dialog_response(GTK_DIALOG(details), details_save);
        EXPECT_GT(chooser.answers, 0);
    }
    const std::string report = file_text(saved);
    EXPECT_EQ(report, json_report(record));
    std::string why;
    const std::optional<report_record> read = report_from_json(report, why);
    ASSERT_TRUE(read) << why;
    ASSERT_EQ(read->single.runs.size(), 5u);
    for (int run = 1; run <= 5; ++run) {
        EXPECT_EQ(read->single.runs[run - 1].result.time_seconds, 10 + 1.25 * run);
        EXPECT_EQ(read->single.runs[run - 1].wall_seconds >= 20 + 1.5 * run, true);
    }

    std::string said;
    const dialog_answer error(is_message, answer_message(&said, GTK_RESPONSE_CLOSE));
    EXPECT_FALSE(
        write_report_file(GTK_WINDOW(details), "/nonexistent/tessary/report.json", report));
    EXPECT_EQ(said, "The report was not saved");
}

// Every finished benchmark lands in the store, a failed one too, newest first; its saved
// report has its runs.
TEST_F(WindowResults, EveryFinishedBenchmarkIsSaved) {
    app_state *state = finish_benchmark(distinct_runs());
    ASSERT_NE(state, nullptr);
    const report_record first = *state->results->last;
    finish_benchmark({.runs = {good_run(900, 10), wrong_run(77, "Computed digits of pi are wrong "
                                                                "from digit 77: the machine made "
                                                                "an arithmetic error")}});
    const std::vector<results_row> rows = stored_rows(store_);
    ASSERT_EQ(rows.size(), 2u);
    EXPECT_EQ(rows[0].success, 0);
    EXPECT_EQ(rows[0].id, state->results->last->saved->id);
    EXPECT_EQ(std::string(rows[0].error_message), state->results->last->error_message);
    EXPECT_EQ(rows[1].success, 1);
    EXPECT_EQ(rows[1].score, 809);
    EXPECT_EQ(rows[1].id, first.saved->id);
    std::string why;
    const std::optional<report_record> saved =
        report_from_json(stored_report(store_, rows[1].id), why);
    ASSERT_TRUE(saved) << why;
    EXPECT_EQ(saved->single.runs.size(), 5u);
    EXPECT_EQ(saved->started_at, first.started_at);
    // The failed one's Details tell its finished run and the failing run's message.
    GtkWidget *details = open("Details");
    ASSERT_NE(details, nullptr);
    const std::string text = shown_text(details);
    EXPECT_NE(text.find("Run 1: 10.000 sec processor"), std::string::npos) << text;
    EXPECT_NE(text.find("Run 2: FAILED: Computed digits of pi are wrong from digit 77"),
              std::string::npos)
        << text;
    EXPECT_NE(text.find("Failed:           Benchmark run 2 computed wrong digits"),
              std::string::npos)
        << text;
}

// A store that cannot be written loses nothing shown: the result stays, the subtitle says it
// was not saved, and Details why.
TEST_F(WindowResults, AFailedSaveIsSaidAndTheResultStays) {
    const std::filesystem::path blocker = data_home.directory / "not a directory";
    std::ofstream(blocker) << "x";
    g_setenv("XDG_DATA_HOME", blocker.c_str(), TRUE);
    printerr_capture printed;
    app_state *state = finish_benchmark(succeeding(987, 65.4321));
    g_setenv("XDG_DATA_HOME", data_home.directory.c_str(), TRUE);
    ASSERT_NE(state, nullptr);
    EXPECT_EQ(label_text(children(results_)[1]), "65.432 sec");
    EXPECT_TRUE(matches(subtitle_of(window_), "Finished at [0-9:]{8} \u00b7 not saved"))
        << subtitle_of(window_);
    ASSERT_TRUE(state->results->last->saved.has_value());
    const save_outcome &saved = *state->results->last->saved;
    EXPECT_FALSE(saved.saved);
    EXPECT_NE(printed.text().find("tessary: The result was not saved: " + saved.message),
              std::string::npos)
        << printed.text();
    GtkWidget *details = open("Details");
    ASSERT_NE(details, nullptr);
    EXPECT_NE(shown_text(details).find("Saved:            no: " + saved.message),
              std::string::npos);
}

// Results as a store holds them: benchmarks of this version and kernels and of another
// version, a multi-core one, a failed one and a single computation.
struct seeded_result {
    const char *recorded_at;
    const char *version;
    int runs;
    int digits;
    double score;
    double multi_core_score; // 0: one thread
    bool success;
};

int64_t seed(const std::string &store, const seeded_result &seeded) {
    report_record record;
    record.versions = running_versions("tessary-cli");
    record.versions.version = seeded.version;
    record.request = {seeded.digits, seeded.runs, seeded.multi_core_score > 0 ? 2 : 1};
    record.started_at = seeded.recorded_at;
    for (int run = 1; run <= seeded.runs; ++run) {
        computation_record computation;
        computation.run = run;
        computation.finish_order = run;
        computation.result = success(seeded.score, 1.5);
        computation.result.digits = seeded.digits;
        record.single.runs.push_back(computation);
    }
    record.single.result = success(seeded.score, 7.5);
    record.single.result.digits = seeded.digits;
    if (!seeded.success) {
        record.single.result = failed_run("Benchmark run 1 failed");
    }
    if (seeded.multi_core_score > 0) {
        record.multi_core.emplace();
        record.multi_core->per_thread.resize(2);
    }
    summarise(record);
    if (record.multi_core) {
        record.multi_core->score = seeded.multi_core_score;
        record.multi_core->error_message.clear();
        record.success = true;
    }
    const results_row row = results_row_of(record);
    int64_t id = 0;
    results_message message{};
    EXPECT_EQ(results_save(store.c_str(), &row, json_report(record).c_str(), &id, &message), 1)
        << message.text;
    return id;
}

const std::string this_version = TESSARY_PROJECT_VERSION;

// Oldest first.
std::vector<int64_t> seed_history(const std::string &store) {
    const seeded_result results[] = {
        {"2026-11-01T10:00:00Z", "0.9.0", 5, pi_benchmark_digits, 480, 0, true},
        {"2026-11-02T10:00:00Z", this_version.c_str(), 5, pi_benchmark_digits, 500, 0, true},
        {"2026-11-03T10:00:00Z", this_version.c_str(), 1, 1000, 90000, 0, true},
        {"2026-11-04T10:00:00Z", this_version.c_str(), 5, pi_benchmark_digits, 0, 0, false},
        {"2026-11-05T10:00:00Z", this_version.c_str(), 5, pi_benchmark_digits, 510, 1900, true},
        {"2026-11-06T10:00:00Z", this_version.c_str(), 5, pi_benchmark_digits, 505, 0, true},
    };
    std::vector<int64_t> ids;
    for (const seeded_result &result : results) {
        ids.push_back(seed(store, result));
    }
    return ids;
}

// The chart has the successful five-run benchmarks in time order, hollow when another
// version measured them, the newest highlighted; neither a single computation nor a
// failure.
TEST(HistoryChart, ChartsTheBenchmarksOfTheStoreInTimeOrder) {
    const std::string store = fresh_store();
    const std::vector<int64_t> ids = seed_history(store);
    const std::vector<results_row> rows = stored_rows(store);
    const std::vector<chart_point> points =
        chart_points(rows.data(), rows.size(), this_version, pi_simd_path());
    std::vector<int64_t> charted;
    std::vector<double> scores;
    for (const chart_point &p : points) {
        charted.push_back(p.id);
        scores.push_back(p.score);
    }
    EXPECT_EQ(charted, (std::vector<int64_t>{ids[0], ids[1], ids[4], ids[5]}));
    EXPECT_EQ(scores, (std::vector<double>{480, 500, 510, 505}));
    ASSERT_EQ(points.size(), 4u);
    EXPECT_FALSE(points[0].comparable);
    EXPECT_TRUE(points[1].comparable && points[2].comparable && points[3].comparable);
    EXPECT_EQ(points[2].multi_core_score, 1900);
    EXPECT_EQ(points[1].multi_core_score, 0);
    EXPECT_TRUE(points[3].latest);
    EXPECT_FALSE(points[0].latest || points[1].latest || points[2].latest);
    EXPECT_FALSE(chart_points(rows.data(), rows.size(), this_version, "other")[1].comparable);
}

std::vector<std::string> listed(GtkWidget *history, int column) {
    GtkTreeModel *model =
        gtk_tree_view_get_model(GTK_TREE_VIEW(find_named(history, "history-list")));
    std::vector<std::string> values;
    GtkTreeIter iter;
    for (bool more = gtk_tree_model_get_iter_first(model, &iter); more;
         more = gtk_tree_model_iter_next(model, &iter)) {
        g_autofree char *value = nullptr;
        gtk_tree_model_get(model, &iter, column, &value, -1);
        values.push_back(value ? value : "");
    }
    return values;
}

void select_rows(GtkWidget *history, std::initializer_list<int> indices) {
    GtkTreeView *list = GTK_TREE_VIEW(find_named(history, "history-list"));
    GtkTreeSelection *selection = gtk_tree_view_get_selection(list);
    gtk_tree_selection_unselect_all(selection);
    for (const int index : indices) {
        GtkTreePath *path = gtk_tree_path_new_from_indices(index, -1);
        gtk_tree_selection_select_path(selection, path);
        gtk_tree_path_free(path);
    }
}

// Pixels of the chart in the single-core series' blue.
int blue_chart_pixels(GtkWidget *chart) {
    GtkAllocation at;
    gtk_widget_get_allocation(chart, &at);
    g_autoptr(GdkPixbuf) area =
        gdk_pixbuf_get_from_window(gtk_widget_get_window(chart), at.x, at.y, at.width, at.height);
    if (!area) {
        return 0;
    }
    const guchar *pixels = gdk_pixbuf_get_pixels(area);
    const int stride = gdk_pixbuf_get_rowstride(area);
    const int channels = gdk_pixbuf_get_n_channels(area);
    int count = 0;
    for (int y = 0; y < at.height; ++y) {
        for (int x = 0; x < at.width; ++x) {
            const guchar *p = pixels + y * stride + x * channels;
            count +=
                std::abs(p[0] - 53) < 12 && std::abs(p[1] - 132) < 12 && std::abs(p[2] - 228) < 12;
        }
    }
    return count;
}

// History lists the store newest first and charts it; a row opens the Details of its saved
// report; Save… writes that report; Delete removes exactly the selected rows once confirmed.
TEST_F(WindowResults, HistoryListsChartsOpensSavesAndDeletes) {
    const std::vector<int64_t> ids = seed_history(store_);
    GtkWidget *history = open("History");
    ASSERT_NE(history, nullptr);
    EXPECT_EQ(listed(history, 1).size(), 6u);
    EXPECT_EQ(listed(history, 2),
              (std::vector<std::string>{"505", "510", "--", "90000", "500", "480"}));
    const std::vector<std::string> outcomes = listed(history, 6);
    EXPECT_EQ(outcomes[2], "Failed: Benchmark run 1 failed");
    EXPECT_EQ(outcomes[3], "Verified, 1000 digits");
    EXPECT_EQ(outcomes[0], "Verified");
    EXPECT_EQ(listed(history, 5)[5], "0.9.0");
    EXPECT_FALSE(gtk_widget_get_visible(find_named(history, "history-message")));
    GtkWidget *chart = find_named(history, "history-chart");
    ASSERT_TRUE(gtk_widget_get_visible(chart));
    EXPECT_TRUE(run_until([&] { return blue_chart_pixels(chart) > 50; }));
    screenshot(history, "history-light");
    {
        adwaita_variant dark(true);
        screenshot(history, "history-dark");
    }

    select_rows(history, {1});
    EXPECT_TRUE(gtk_dialog_get_widget_for_response(GTK_DIALOG(history), history_details) &&
                gtk_widget_is_sensitive(
                    gtk_dialog_get_widget_for_response(GTK_DIALOG(history), history_details)));
    gtk_dialog_response(GTK_DIALOG(history), history_details);
    GtkWidget *details = nullptr;
    ASSERT_TRUE(run_until([&] { return (details = dialog_titled("Details")); }));
    const std::string text = shown_text(details);
    EXPECT_NE(text.find("Multi-core score: 1900 (2 threads)"), std::string::npos) << text;
    EXPECT_NE(text.find("Saved:            as result " + std::to_string(ids[4])),
              std::string::npos);
    EXPECT_NE(text.find("Compared:         Score 510: 2.0 % above your earlier result (500)"),
              std::string::npos)
        << text;
    gtk_widget_destroy(details);

    const std::filesystem::path saved = data_home.directory / "history.json";
    {
        const dialog_answer chooser(is_file_chooser, choose_file(saved));
        gtk_dialog_response(GTK_DIALOG(history), history_save);
        EXPECT_GT(chooser.answers, 0);
    }
    EXPECT_EQ(file_text(saved), stored_report(store_, ids[4]));

    // Rows 0 and 3 are the newest benchmark and the single computation.
    select_rows(history, {0, 3});
    {
        std::string asked;
        const dialog_answer cancel(is_message, answer_message(&asked, GTK_RESPONSE_CANCEL));
        gtk_dialog_response(GTK_DIALOG(history), history_delete);
        EXPECT_EQ(asked, "Delete the 2 selected results?");
    }
    EXPECT_EQ(stored_rows(store_).size(), 6u) << "Cancel deletes nothing";
    {
        std::string asked;
        const dialog_answer confirm(is_message, answer_message(&asked, GTK_RESPONSE_ACCEPT));
        gtk_dialog_response(GTK_DIALOG(history), history_delete);
    }
    std::vector<int64_t> kept;
    for (const results_row &row : stored_rows(store_)) {
        kept.push_back(row.id);
    }
    EXPECT_EQ(kept, (std::vector<int64_t>{ids[4], ids[3], ids[1], ids[0]}));
    EXPECT_EQ(listed(history, 2), (std::vector<std::string>{"510", "--", "500", "480"}));
}

// An empty store and one that cannot be read say so in the dialog.
TEST_F(WindowResults, HistorySaysWhenThereIsNothingToShow) {
    GtkWidget *history = open("History");
    ASSERT_NE(history, nullptr);
    GtkWidget *message = find_named(history, "history-message");
    EXPECT_TRUE(gtk_widget_get_visible(message));
    EXPECT_EQ(label_text(message),
              "No results yet: every benchmark is kept here once it has finished.");
    EXPECT_FALSE(gtk_widget_get_visible(find_named(history, "history-chart")));
    gtk_widget_destroy(history);

    const std::filesystem::path blocker = data_home.directory / "not a directory";
    std::ofstream(blocker) << "x";
    g_setenv("XDG_DATA_HOME", blocker.c_str(), TRUE);
    history = open("History");
    g_setenv("XDG_DATA_HOME", data_home.directory.c_str(), TRUE);
    ASSERT_NE(history, nullptr);
    message = find_named(history, "history-message");
    EXPECT_TRUE(gtk_widget_get_visible(message));
    EXPECT_EQ(label_text(message).find("The results could not be read: "), 0u)
        << label_text(message);
    EXPECT_TRUE(listed(history, 1).empty());
}

} // namespace
