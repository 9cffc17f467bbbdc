// Reports kept in the results store, as both front ends keep them: the row the store indexes
// for a report record, the save, and the comparison with the user's earlier results.
#ifndef TESSARY_REPORT_HISTORY_H
#define TESSARY_REPORT_HISTORY_H

#include "report/report_record.h"
#include "results/results_store.h"

#include <string>

// The store's columns for a record: its request, outcome and single-core summary.
results_row results_row_of(const report_record &record);

// The store of this user, or an empty text with the reason in `why`.
std::string default_results_path(std::string &why);

// Puts `record` beside the comparable results already in the store at `path`
// (record.comparison, empty when there are none or the store cannot be read), then saves its
// JSON report there, as written before the save (without the comparison and the save), and
// records the outcome in record.saved. Nothing of the measurement changes.
void compare_and_save(const std::string &path, report_record &record);

#endif
