// The build without the results store: nothing is kept, and --history has nothing to read.
#include "cli/saved_results.h"

#include "cli/console.h"
#include "cli/exit_status.h"

namespace {

constexpr char no_store[] = "this build keeps no results";

} // namespace

void save_result(report_record &record, console &out) {
    record.saved = save_outcome{false, 0, no_store};
    out.error(no_store);
}

int history_mode(bool, console &out) {
    out.error(std::string(no_store) + ": --history has nothing to list");
    return out.close(exit_usage);
}

int delete_mode(long long, console &out) {
    out.error(std::string(no_store) + ": --delete has nothing to delete");
    return out.close(exit_usage);
}
