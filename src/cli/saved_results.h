// tessary-cli's side of the results store: the save of each result, --history and --delete.
// A build without the store (the engine-only build) keeps nothing and says so.
#ifndef TESSARY_CLI_SAVED_RESULTS_H
#define TESSARY_CLI_SAVED_RESULTS_H

#include "report/report_record.h"

class console;

// Puts `record` beside the user's earlier comparable results (record.comparison) and saves
// it (record.saved). A failed save is one line on standard error; it changes nothing else.
void save_result(report_record &record, console &out);

// --history: the saved results, newest first, a line each or (`json`) as a JSON array of
// their reports. Returns the exit status.
int history_mode(bool json, console &out);

// --delete ID. Returns the exit status.
int delete_mode(long long id, console &out);

#endif
