#include "cli/saved_results.h"

#include "cli/console.h"
#include "results/report_history.h"

#include <new>

void save_result(report_record &record, console &out) {
    std::string why;
    const std::string path = default_results_path(why);
    if (path.empty()) {
        record.saved = save_outcome{false, 0, "result not saved: " + why};
    } else {
        try {
            compare_and_save(path, record);
        } catch (const std::bad_alloc &) {
            // The result matters more than its copy: it is still reported in full.
            record.comparison.clear();
            record.saved = save_outcome{false, 0, "result not saved: Memory allocation failed"};
        }
    }
    // Why it was not saved, or what the store found.
    if (!record.saved->message.empty()) {
        out.error(record.saved->message);
    }
}
