// The History of the saved results, in a dialog beside the window: the chart of the
// benchmark's scores, and the list of every result, newest first, whose rows open their
// Details, are saved as JSON or deleted.
#ifndef TESSARY_HISTORY_DIALOG_H
#define TESSARY_HISTORY_DIALOG_H

#include <gtk/gtk.h>

// The responses of the dialog's own buttons.
enum history_response { history_details = 1, history_save = 2, history_delete = 3 };

// A new History dialog, read from the results store now, beside `parent`, shown.
GtkWidget *show_history_dialog(GtkWindow *parent);
// Reads the store again into an open History dialog.
void reload_history_dialog(GtkWidget *dialog);

#endif
