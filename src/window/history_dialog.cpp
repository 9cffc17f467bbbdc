#include "window/history_dialog.h"

#include "report/json_read.h"
#include "report/number_style.h"
#include "results/report_history.h"
#include "window/details_dialog.h"
#include "window/history_chart.h"

#include <cmath>
#include <cstdlib>
#include <memory>
#include <string>
#include <vector>

namespace {

enum column {
    id_column,
    date_column,
    score_column,
    time_column,
    kernels_column,
    version_column,
    outcome_column,
    column_count
};

struct history_view {
    GtkWidget *dialog = nullptr;
    GtkWidget *message = nullptr;
    GtkWidget *chart = nullptr;
    GtkWidget *list = nullptr;
    GtkListStore *store = nullptr;
    std::string path;              // empty when this user has no store
    std::vector<results_row> rows; // newest first
    std::vector<chart_point> points;
};

constexpr char view_key[] = "tessary-history-view";

history_view &view_of(GtkWidget *dialog) {
    return *static_cast<history_view *>(g_object_get_data(G_OBJECT(dialog), view_key));
}

struct free_deleter {
    void operator()(void *p) const noexcept { std::free(p); }
};

void say(GtkWindow *parent, const char *what, const std::string &why) {
    GtkWidget *message = gtk_message_dialog_new(parent, GTK_DIALOG_MODAL, GTK_MESSAGE_ERROR,
                                                GTK_BUTTONS_CLOSE, "%s", what);
    gtk_message_dialog_format_secondary_text(GTK_MESSAGE_DIALOG(message), "%s", why.c_str());
    gtk_dialog_run(GTK_DIALOG(message));
    gtk_widget_destroy(message);
}

// "2026-12-09 21:55", in local time.
std::string local_date(const char *recorded_at) {
    g_autoptr(GDateTime) utc = g_date_time_new_from_iso8601(recorded_at, nullptr);
    if (!utc) {
        return recorded_at;
    }
    g_autoptr(GDateTime) local = g_date_time_to_local(utc);
    g_autofree char *text = g_date_time_format(local, "%Y-%m-%d %H:%M");
    return text ? text : recorded_at;
}

std::string outcome_text(const results_row &row) {
    if (row.success == 0) {
        return std::string("Failed: ") + row.error_message;
    }
    return is_benchmark_row(row) ? "Verified"
                                 : "Verified, " + counted(row.digits, "digit", "digits");
}

void add_row(GtkListStore *store, const results_row &row) {
    const local_numbers in_locale;
    const bool ok = row.success != 0;
    const std::string score = ok ? grouped(std::llround(row.score)) : "--";
    const std::string time = ok ? seconds_text(row.time_seconds) : "--";
    GtkTreeIter iter;
    gtk_list_store_append(store, &iter);
    gtk_list_store_set(store, &iter, id_column, static_cast<gint64>(row.id), date_column,
                       local_date(row.recorded_at).c_str(), score_column, score.c_str(),
                       time_column, time.c_str(), kernels_column, row.simd_path, version_column,
                       row.version, outcome_column, outcome_text(row).c_str(), -1);
}

void show_message(history_view &view, const std::string &text) {
    gtk_label_set_text(GTK_LABEL(view.message), text.c_str());
    gtk_widget_set_visible(view.message, !text.empty());
}

// The rows of the store, or why there are none.
std::string read_rows(history_view &view) {
    view.rows.clear();
    std::string why;
    view.path = default_results_path(why);
    if (view.path.empty()) {
        return "There is no results store: " + why;
    }
    results_row *rows = nullptr;
    size_t count = 0;
    results_message message{};
    if (results_list(view.path.c_str(), &rows, &count, &message) == 0) {
        return std::string("The results could not be read: ") + message.text;
    }
    const std::unique_ptr<results_row, free_deleter> owned(rows);
    view.rows.assign(rows, rows + count);
    if (count == 0) {
        return "No results yet: every benchmark is kept here once it has finished.";
    }
    return message.text;
}

void load(history_view &view) {
    show_message(view, read_rows(view));
    const report_versions current = running_versions("tessary");
    view.points =
        chart_points(view.rows.data(), view.rows.size(), current.version, current.kernels);
    gtk_widget_set_visible(view.chart, !view.points.empty());
    gtk_widget_queue_draw(view.chart);
    gtk_list_store_clear(view.store);
    for (const results_row &row : view.rows) {
        add_row(view.store, row);
    }
}

std::vector<int64_t> selected_ids(const history_view &view) {
    std::vector<int64_t> ids;
    GtkTreeModel *model = nullptr;
    GtkTreeSelection *selection = gtk_tree_view_get_selection(GTK_TREE_VIEW(view.list));
    GList *paths = gtk_tree_selection_get_selected_rows(selection, &model);
    for (GList *p = paths; p; p = p->next) {
        GtkTreeIter iter;
        gint64 id = 0;
        if (gtk_tree_model_get_iter(model, &iter, static_cast<GtkTreePath *>(p->data))) {
            gtk_tree_model_get(model, &iter, id_column, &id, -1);
            ids.push_back(id);
        }
    }
    g_list_free_full(paths, reinterpret_cast<GDestroyNotify>(gtk_tree_path_free));
    return ids;
}

const results_row *row_of(const history_view &view, int64_t id) {
    for (const results_row &row : view.rows) {
        if (row.id == id) {
            return &row;
        }
    }
    return nullptr;
}

// The saved JSON report of result `id`, or empty with the reason said.
std::string saved_report(const history_view &view, int64_t id) {
    results_message message{};
    const std::unique_ptr<char, free_deleter> report(
        results_report(view.path.c_str(), id, &message));
    if (!report) {
        say(GTK_WINDOW(view.dialog), "The result could not be read", message.text);
        return "";
    }
    return report.get();
}

// The saved report's Details, beside the earlier comparable results as they were listed.
void open_details(history_view &view, int64_t id) {
    const results_row *row = row_of(view, id);
    const std::string report = row ? saved_report(view, id) : "";
    if (report.empty()) {
        return;
    }
    std::string why;
    std::optional<report_record> record = report_from_json(report, why);
    if (!record) {
        say(GTK_WINDOW(view.dialog), "The result could not be read", why);
        return;
    }
    record->saved = save_outcome{true, id, ""};
    results_comparison comparison{};
    if (results_compare(row, view.rows.data(), view.rows.size(), &comparison) > 0) {
        record->comparison = comparison.text;
    }
    show_details_dialog(GTK_WINDOW(view.dialog), *record);
}

void save_selected(history_view &view, int64_t id) {
    const results_row *row = row_of(view, id);
    const std::string report = row ? saved_report(view, id) : "";
    if (!report.empty()) {
        save_report_as(GTK_WINDOW(view.dialog), report, report_file_name(row->recorded_at));
    }
}

bool confirm_delete(GtkWindow *parent, std::size_t count) {
    const std::string question = count == 1
                                     ? "Delete the selected result?"
                                     : "Delete the " + std::to_string(count) + " selected results?";
    GtkWidget *confirm = gtk_message_dialog_new(parent, GTK_DIALOG_MODAL, GTK_MESSAGE_QUESTION,
                                                GTK_BUTTONS_NONE, "%s", question.c_str());
    gtk_message_dialog_format_secondary_text(GTK_MESSAGE_DIALOG(confirm),
                                             "They are removed from the results store for good.");
    gtk_dialog_add_buttons(GTK_DIALOG(confirm), "_Cancel", GTK_RESPONSE_CANCEL, "_Delete",
                           GTK_RESPONSE_ACCEPT, nullptr);
    GtkWidget *delete_button =
        gtk_dialog_get_widget_for_response(GTK_DIALOG(confirm), GTK_RESPONSE_ACCEPT);
    gtk_style_context_add_class(gtk_widget_get_style_context(delete_button), "destructive-action");
    gtk_dialog_set_default_response(GTK_DIALOG(confirm), GTK_RESPONSE_CANCEL);
    const bool confirmed = gtk_dialog_run(GTK_DIALOG(confirm)) == GTK_RESPONSE_ACCEPT;
    gtk_widget_destroy(confirm);
    return confirmed;
}

void delete_selected(history_view &view, const std::vector<int64_t> &ids) {
    if (!confirm_delete(GTK_WINDOW(view.dialog), ids.size())) {
        return;
    }
    std::string failures;
    for (const int64_t id : ids) {
        results_message message{};
        if (results_delete(view.path.c_str(), id, &message) == 0) {
            if (!failures.empty()) {
                failures += '\n';
            }
            failures += message.text;
        }
    }
    load(view);
    if (!failures.empty()) {
        say(GTK_WINDOW(view.dialog), "Not every result was deleted", failures);
    }
}

void update_buttons(GtkTreeSelection *selection, gpointer data) {
    auto *dialog = GTK_DIALOG(data);
    const int selected = gtk_tree_selection_count_selected_rows(selection);
    gtk_dialog_set_response_sensitive(dialog, history_details, selected == 1);
    gtk_dialog_set_response_sensitive(dialog, history_save, selected == 1);
    gtk_dialog_set_response_sensitive(dialog, history_delete, selected > 0);
}

void on_history_response(GtkDialog *dialog, int response, gpointer) {
    history_view &view = view_of(GTK_WIDGET(dialog));
    const std::vector<int64_t> ids = selected_ids(view);
    switch (response) {
    case history_details:
        if (ids.size() == 1) {
            open_details(view, ids[0]);
        }
        break;
    case history_save:
        if (ids.size() == 1) {
            save_selected(view, ids[0]);
        }
        break;
    case history_delete:
        if (!ids.empty()) {
            delete_selected(view, ids);
        }
        break;
    default:
        gtk_widget_destroy(GTK_WIDGET(dialog));
    }
}

void on_row_activated(GtkTreeView *list, GtkTreePath *path, GtkTreeViewColumn *, gpointer data) {
    GtkTreeIter iter;
    gint64 id = 0;
    GtkTreeModel *model = gtk_tree_view_get_model(list);
    if (gtk_tree_model_get_iter(model, &iter, path)) {
        gtk_tree_model_get(model, &iter, id_column, &id, -1);
        open_details(*static_cast<history_view *>(data), id);
    }
}

gboolean on_draw_chart(GtkWidget *chart, cairo_t *cr, gpointer data) {
    GtkStyleContext *context = gtk_widget_get_style_context(chart);
    GdkRGBA ink;
    gtk_style_context_get_color(context, gtk_style_context_get_state(context), &ink);
    draw_history_chart(cr, gtk_widget_get_allocated_width(chart),
                       gtk_widget_get_allocated_height(chart),
                       static_cast<history_view *>(data)->points, ink);
    return FALSE;
}

GtkWidget *build_list(history_view &view) {
    view.store = gtk_list_store_new(column_count, G_TYPE_INT64, G_TYPE_STRING, G_TYPE_STRING,
                                    G_TYPE_STRING, G_TYPE_STRING, G_TYPE_STRING, G_TYPE_STRING);
    view.list = gtk_tree_view_new_with_model(GTK_TREE_MODEL(view.store));
    g_object_unref(view.store); // the view holds it
    gtk_widget_set_name(view.list, "history-list");
    const struct {
        const char *title;
        column source;
        float alignment;
    } columns[] = {{"Date", date_column, 0},       {"Score", score_column, 1},
                   {"Time", time_column, 1},       {"Kernels", kernels_column, 0},
                   {"Version", version_column, 0}, {"Outcome", outcome_column, 0}};
    for (const auto &c : columns) {
        GtkCellRenderer *cell = gtk_cell_renderer_text_new();
        g_object_set(cell, "xalign", c.alignment, nullptr);
        GtkTreeViewColumn *shown =
            gtk_tree_view_column_new_with_attributes(c.title, cell, "text", c.source, nullptr);
        gtk_tree_view_column_set_alignment(shown, c.alignment);
        gtk_tree_view_append_column(GTK_TREE_VIEW(view.list), shown);
    }
    GtkTreeSelection *selection = gtk_tree_view_get_selection(GTK_TREE_VIEW(view.list));
    gtk_tree_selection_set_mode(selection, GTK_SELECTION_MULTIPLE);
    g_signal_connect(selection, "changed", G_CALLBACK(update_buttons), view.dialog);
    g_signal_connect(view.list, "row-activated", G_CALLBACK(on_row_activated), &view);

    GtkWidget *scrolled = gtk_scrolled_window_new(nullptr, nullptr);
    gtk_scrolled_window_set_min_content_height(GTK_SCROLLED_WINDOW(scrolled), 200);
    gtk_scrolled_window_set_shadow_type(GTK_SCROLLED_WINDOW(scrolled), GTK_SHADOW_IN);
    gtk_widget_set_vexpand(scrolled, TRUE);
    gtk_container_add(GTK_CONTAINER(scrolled), view.list);
    return scrolled;
}

GtkWidget *build_content(history_view &view) {
    GtkWidget *column = gtk_box_new(GTK_ORIENTATION_VERTICAL, 12);
    gtk_container_set_border_width(GTK_CONTAINER(column), 12);
    view.message = gtk_label_new(nullptr);
    gtk_widget_set_name(view.message, "history-message");
    gtk_label_set_line_wrap(GTK_LABEL(view.message), TRUE);
    gtk_label_set_xalign(GTK_LABEL(view.message), 0);
    gtk_box_pack_start(GTK_BOX(column), view.message, FALSE, FALSE, 0);

    view.chart = gtk_drawing_area_new();
    gtk_widget_set_name(view.chart, "history-chart");
    gtk_widget_set_size_request(view.chart, 640, 240);
    atk_object_set_name(gtk_widget_get_accessible(view.chart), "Chart of the benchmark's scores");
    g_signal_connect(view.chart, "draw", G_CALLBACK(on_draw_chart), &view);
    gtk_box_pack_start(GTK_BOX(column), view.chart, FALSE, FALSE, 0);
    gtk_box_pack_start(GTK_BOX(column), build_list(view), TRUE, TRUE, 0);
    return column;
}

} // namespace

GtkWidget *show_history_dialog(GtkWindow *parent) {
    GtkWidget *dialog =
        gtk_dialog_new_with_buttons("History", parent, GTK_DIALOG_DESTROY_WITH_PARENT, "_Details",
                                    history_details, "_Save\u2026", history_save, "De_lete",
                                    history_delete, "_Close", GTK_RESPONSE_CLOSE, nullptr);
    gtk_window_set_default_size(GTK_WINDOW(dialog), 720, 620);
    auto *view = new history_view;
    view->dialog = dialog;
    g_object_set_data_full(G_OBJECT(dialog), view_key, view,
                           [](gpointer data) { delete static_cast<history_view *>(data); });
    GtkWidget *content = gtk_dialog_get_content_area(GTK_DIALOG(dialog));
    gtk_box_pack_start(GTK_BOX(content), build_content(*view), TRUE, TRUE, 0);
    g_signal_connect(dialog, "response", G_CALLBACK(on_history_response), nullptr);
    gtk_widget_show_all(dialog);
    load(*view);
    update_buttons(gtk_tree_view_get_selection(GTK_TREE_VIEW(view->list)), dialog);
    return dialog;
}

void reload_history_dialog(GtkWidget *dialog) {
    load(view_of(dialog));
}
