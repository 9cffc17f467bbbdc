#include "probe/run_conditions.h"

#include "probe/text_file.h"

#include <unistd.h>

#include <cstdio>
#include <cstring>

namespace {

// /proc/loadavg: "0.16 0.83 0.79 1/125 23077", the averages over 1, 5 and 15 minutes, then the
// runnable and all scheduling entities, then the last process id. The count includes the
// process that reads the file.
void read_load(const char *path, run_conditions &conditions) {
    probe::unique_file file = probe::open_text(path);
    double load = 0;
    int runnable = 0;
    if (file && std::fscanf(file.get(), "%lf %*f %*f %d/", &load, &runnable) == 2 && load >= 0) {
        conditions.load_average = load;
        conditions.runnable = runnable > 0 ? runnable - 1 : 0;
    }
}

// The first word of a one-line file.
template <std::size_t size> void read_word(const char *path, char (&word)[size]) {
    probe::unique_file file = probe::open_text(path);
    char format[16];
    std::snprintf(format, sizeof format, "%%%zus", size - 1);
    if (!file || std::fscanf(file.get(), format, word) != 1) {
        word[0] = '\0';
    }
}

// "always [madvise] never": the mode in brackets.
void read_huge_page_mode(const char *path, run_conditions &conditions) {
    probe::unique_file file = probe::open_text(path);
    char line[128];
    if (!file || !std::fgets(line, sizeof line, file.get())) {
        return;
    }
    const char *open = std::strchr(line, '[');
    const char *close = open ? std::strchr(open, ']') : nullptr;
    const auto length = close ? static_cast<std::size_t>(close - open - 1) : 0;
    if (length > 0 && length < sizeof conditions.huge_pages) {
        std::memcpy(conditions.huge_pages, open + 1, length);
        conditions.huge_pages[length] = '\0';
    }
}

} // namespace

extern "C" void get_run_conditions_from(const run_conditions_sources *sources,
                                        run_conditions *conditions) {
    if (!conditions) {
        return;
    }
    static const run_conditions_sources none = {};
    const run_conditions_sources &files = sources ? *sources : none;
    *conditions = run_conditions{};
    conditions->load_average = -1;
    conditions->runnable = -1;
    conditions->processors = files.processors > 0
                                 ? files.processors
                                 : static_cast<int32_t>(sysconf(_SC_NPROCESSORS_ONLN));
    read_load(files.loadavg, *conditions);
    read_word(files.governor, conditions->governor);
    read_huge_page_mode(files.huge_pages, *conditions);
}

extern "C" void get_run_conditions(run_conditions *conditions) {
    static constexpr run_conditions_sources linux_files = {
        "/proc/loadavg",
        "/sys/devices/system/cpu/cpu0/cpufreq/scaling_governor",
        "/sys/kernel/mm/transparent_hugepage/enabled",
        0,
    };
    get_run_conditions_from(&linux_files, conditions);
}

extern "C" int run_conditions_busy(const run_conditions *conditions) {
    return conditions && conditions->load_average >= RUN_CONDITIONS_BUSY_LOAD;
}
