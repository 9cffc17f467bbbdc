// The Details of one benchmark or computation, in a dialog beside the window: the text report
// with the user's numbers, the versions and the save. "Copy" puts the text report that
// tessary-cli prints on the clipboard, "Save…" writes the JSON report.
#ifndef TESSARY_DETAILS_DIALOG_H
#define TESSARY_DETAILS_DIALOG_H

#include "report/report_record.h"

#include <gtk/gtk.h>

#include <string>

// The responses of the dialog's own buttons.
enum details_response { details_copy = 1, details_save = 2 };

// What the dialog shows of `record`, in the user's locale.
std::string details_text(const report_record &record);

// A new Details dialog for `record`, beside `parent`, shown.
GtkWidget *show_details_dialog(GtkWindow *parent, const report_record &record);
// Shows `record` in an open Details dialog instead of its own.
void update_details_dialog(GtkWidget *dialog, const report_record &record);

// "tessary-2026-12-09T20-55-12Z.json" for a report started then.
std::string report_file_name(const std::string &started_at);
// Asks for a file, modal for `parent`, and writes `report` there. True when written.
bool save_report_as(GtkWindow *parent, const std::string &report, const std::string &name);
// Writes `report` to `path`; a failed write is said in a message dialog. True when written.
bool write_report_file(GtkWindow *parent, const std::string &path, const std::string &report);

#endif
