#include "window/details_dialog.h"

#include "report/json_report.h"
#include "report/number_style.h"
#include "report/text_report.h"

#include <algorithm>

namespace {

constexpr char record_key[] = "tessary-report-record";

std::string saved_text(const std::optional<save_outcome> &saved) {
    if (!saved) {
        return "saving\u2026";
    }
    if (saved->saved) {
        return "as result " + grouped(saved->id);
    }
    return "no: " + saved->message;
}

// Why it failed, which the text report leaves to the front end, and when it started, which
// only the report of a successful part tells.
std::string failure_rows(const report_record &record) {
    if (record.success) {
        return "";
    }
    std::string text = text_row("Failed:", record.error_message);
    if (record.single.result.success == 0 && !record.started_at.empty()) {
        text += text_row("Started:", record.started_at);
    }
    return text;
}

std::string version_rows(const report_record &record) {
    const report_versions &versions = record.versions;
    std::string text = text_row("Program:", versions.program + " " + versions.version) +
                       text_row("Engine:", versions.engine);
    if (record.request.runs == 1) {
        text += text_row("Kernels:", versions.kernels); // one computation's report has no head
    }
    if (!versions.kernels_note.empty()) {
        text += text_row("Kernels note:", versions.kernels_note);
    }
    return text;
}

const report_record &record_of(GtkWidget *dialog) {
    return *static_cast<const report_record *>(g_object_get_data(G_OBJECT(dialog), record_key));
}

GtkTextView *text_view_of(GtkWidget *dialog) {
    return GTK_TEXT_VIEW(g_object_get_data(G_OBJECT(dialog), "tessary-text-view"));
}

void show_record(GtkWidget *dialog, const report_record &record) {
    g_object_set_data_full(G_OBJECT(dialog), record_key, new report_record(record),
                           [](gpointer data) { delete static_cast<report_record *>(data); });
    const std::string text = details_text(record);
    gtk_text_buffer_set_text(gtk_text_view_get_buffer(text_view_of(dialog)), text.c_str(), -1);
}

void on_details_response(GtkDialog *dialog, int response, gpointer) {
    GtkWidget *widget = GTK_WIDGET(dialog);
    const report_record &record = record_of(widget);
    if (response == details_copy) {
        const std::string report = text_report(record);
        gtk_clipboard_set_text(gtk_widget_get_clipboard(widget, GDK_SELECTION_CLIPBOARD),
                               report.c_str(), -1);
    } else if (response == details_save) {
        save_report_as(GTK_WINDOW(dialog), json_report(record),
                       report_file_name(record.started_at));
    } else {
        gtk_widget_destroy(widget);
    }
}

// The report in a monospace view, so that its columns line up; selectable, not editable.
GtkWidget *build_text_view(GtkWidget *dialog) {
    GtkWidget *view = gtk_text_view_new();
    gtk_widget_set_name(view, "details-text");
    gtk_text_view_set_monospace(GTK_TEXT_VIEW(view), TRUE);
    gtk_text_view_set_editable(GTK_TEXT_VIEW(view), FALSE);
    gtk_text_view_set_cursor_visible(GTK_TEXT_VIEW(view), FALSE);
    gtk_text_view_set_left_margin(GTK_TEXT_VIEW(view), 12);
    gtk_text_view_set_right_margin(GTK_TEXT_VIEW(view), 12);
    gtk_text_view_set_top_margin(GTK_TEXT_VIEW(view), 8);
    gtk_text_view_set_bottom_margin(GTK_TEXT_VIEW(view), 8);
    atk_object_set_name(gtk_widget_get_accessible(view), "Details");
    g_object_set_data(G_OBJECT(dialog), "tessary-text-view", view);

    GtkWidget *scrolled = gtk_scrolled_window_new(nullptr, nullptr);
    gtk_widget_set_vexpand(scrolled, TRUE);
    gtk_container_add(GTK_CONTAINER(scrolled), view);
    return scrolled;
}

} // namespace

std::string details_text(const report_record &record) {
    const local_numbers in_locale;
    return text_report(record) + failure_rows(record) + "\n" + version_rows(record) +
           text_row("Saved:", saved_text(record.saved));
}

GtkWidget *show_details_dialog(GtkWindow *parent, const report_record &record) {
    GtkWidget *dialog = gtk_dialog_new_with_buttons(
        "Details", parent, GTK_DIALOG_DESTROY_WITH_PARENT, "_Copy", details_copy, "_Save\u2026",
        details_save, "_Close", GTK_RESPONSE_CLOSE, nullptr);
    gtk_window_set_default_size(GTK_WINDOW(dialog), 720, 560);
    GtkWidget *content = gtk_dialog_get_content_area(GTK_DIALOG(dialog));
    gtk_box_pack_start(GTK_BOX(content), build_text_view(dialog), TRUE, TRUE, 0);
    g_signal_connect(dialog, "response", G_CALLBACK(on_details_response), nullptr);
    show_record(dialog, record);
    gtk_widget_show_all(dialog);
    return dialog;
}

void update_details_dialog(GtkWidget *dialog, const report_record &record) {
    show_record(dialog, record);
}

std::string report_file_name(const std::string &started_at) {
    if (started_at.empty()) {
        return "tessary-report.json";
    }
    std::string name = "tessary-" + started_at + ".json";
    std::replace(name.begin(), name.end(), ':', '-'); // a colon is awkward in file names
    return name;
}

bool save_report_as(GtkWindow *parent, const std::string &report, const std::string &name) {
    GtkWidget *chooser = gtk_file_chooser_dialog_new(
        "Save the report", parent, GTK_FILE_CHOOSER_ACTION_SAVE, "_Cancel", GTK_RESPONSE_CANCEL,
        "_Save", GTK_RESPONSE_ACCEPT, nullptr);
    gtk_file_chooser_set_do_overwrite_confirmation(GTK_FILE_CHOOSER(chooser), TRUE);
    gtk_file_chooser_set_current_name(GTK_FILE_CHOOSER(chooser), name.c_str());
    g_autofree char *path = gtk_dialog_run(GTK_DIALOG(chooser)) == GTK_RESPONSE_ACCEPT
                                ? gtk_file_chooser_get_filename(GTK_FILE_CHOOSER(chooser))
                                : nullptr;
    gtk_widget_destroy(chooser);
    return path && write_report_file(parent, path, report);
}

bool write_report_file(GtkWindow *parent, const std::string &path, const std::string &report) {
    g_autoptr(GError) error = nullptr;
    if (g_file_set_contents(path.c_str(), report.data(), static_cast<gssize>(report.size()),
                            &error)) {
        return true;
    }
    GtkWidget *message = gtk_message_dialog_new(parent, GTK_DIALOG_MODAL, GTK_MESSAGE_ERROR,
                                                GTK_BUTTONS_CLOSE, "The report was not saved");
    gtk_message_dialog_format_secondary_text(GTK_MESSAGE_DIALOG(message), "%s", error->message);
    gtk_dialog_run(GTK_DIALOG(message));
    gtk_widget_destroy(message);
    return false;
}
