#include "probe/system_info.h"

#include "probe/text_file.h"

#include <sys/utsname.h>
#include <unistd.h>

#include <cmath>
#include <cstddef>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <limits>

static_assert(offsetof(system_info, cpu_model) == 0);
static_assert(offsetof(system_info, physical_cores) == 128);
static_assert(offsetof(system_info, logical_cores) == 132);
static_assert(offsetof(system_info, cpu_mhz) == 136);
static_assert(offsetof(system_info, memory_mb) == 144);
static_assert(offsetof(system_info, os_name) == 152);
static_assert(offsetof(system_info, kernel_release) == 216);
static_assert(offsetof(system_info, architecture) == 280);
static_assert(offsetof(system_info, valid) == 312);
static_assert(offsetof(system_info, error_message) == 316);
static_assert(sizeof(system_info) == 576);

namespace {

using probe::open_text;
using probe::unique_file;

// One fgets buffer: a longer line arrives as several pieces, each read as a line.
constexpr int line_size = 256;

bool begins_with(const char *line, const char *prefix) {
    return std::strncmp(line, prefix, std::strlen(prefix)) == 0;
}

// Copies at most size - 1 bytes of `text` and terminates: never overruns `dest`.
template <std::size_t size> void copy_text(char (&dest)[size], const char *text) {
    const std::size_t length = strnlen(text, size - 1);
    std::memcpy(dest, text, length);
    dest[length] = '\0';
}

void cut_at(char *text, char stop) {
    if (char *found = std::strchr(text, stop)) {
        *found = '\0';
    }
}

// The text after `key` on the first line that begins with it, read into `line`;
// null when the file cannot be opened or has no such line.
const char *first_line_value(const char *path, const char *key, char (&line)[line_size]) {
    unique_file file = open_text(path);
    if (!file) {
        return nullptr;
    }
    while (std::fgets(line, line_size, file.get())) {
        if (begins_with(line, key)) {
            return line + std::strlen(key);
        }
    }
    return nullptr;
}

// Saturating conversions: the files may hold any number, the record keeps 32 bits.
int32_t clamp_to_int32(long long value) {
    constexpr long long lowest = std::numeric_limits<int32_t>::min();
    constexpr long long highest = std::numeric_limits<int32_t>::max();
    return static_cast<int32_t>(value < lowest ? lowest : value > highest ? highest : value);
}

int32_t truncate_to_int32(double value) {
    if (std::isnan(value)) {
        return 0;
    }
    if (value <= std::numeric_limits<int32_t>::min()) {
        return std::numeric_limits<int32_t>::min();
    }
    if (value >= std::numeric_limits<int32_t>::max()) {
        return std::numeric_limits<int32_t>::max();
    }
    return static_cast<int32_t>(value); // truncates toward zero
}

// The value of a "key : value" line whose key has already been matched at the
// start: the text after optional white space and the colon, or null without one.
const char *value_after_colon(const char *line, const char *key) {
    const char *p = line + std::strlen(key);
    while (*p == ' ' || *p == '\t' || *p == '\n' || *p == '\v' || *p == '\f' || *p == '\r') {
        ++p;
    }
    return *p == ':' ? p + 1 : nullptr;
}

// A decimal integer as scanf's %d/%ld reads it (leading white space, optional
// sign), saturated instead of undefined when out of range.
bool parse_long(const char *text, long &value) {
    if (!text) {
        return false;
    }
    char *end = nullptr;
    const long parsed = std::strtol(text, &end, 10);
    if (end == text) {
        return false;
    }
    value = parsed;
    return true;
}

bool parse_float(const char *text, float &value) {
    if (!text) {
        return false;
    }
    char *end = nullptr;
    const float parsed = std::strtof(text, &end);
    if (end == text) {
        return false;
    }
    value = parsed;
    return true;
}

// The first "model name" line that has a colon: the text after the colon and
// the blanks and tabs that follow it, up to the end of the line.
void read_cpu_model(const char *cpuinfo, system_info &info) {
    unique_file file = open_text(cpuinfo);
    if (!file) {
        return;
    }
    char line[line_size];
    while (std::fgets(line, sizeof line, file.get())) {
        if (!begins_with(line, "model name")) {
            continue;
        }
        const char *colon = std::strchr(line, ':');
        if (!colon) {
            continue;
        }
        const char *model = colon + 1;
        while (*model == ' ' || *model == '\t') {
            ++model;
        }
        copy_text(info.cpu_model, model);
        cut_at(info.cpu_model, '\n');
        return;
    }
}

// Physical cores from the highest package and core ids, and the first "cpu MHz"
// whose whole part is not zero.
void read_topology(const char *cpuinfo, system_info &info) {
    unique_file file = open_text(cpuinfo);
    if (!file) {
        info.physical_cores = info.logical_cores;
        return;
    }
    long highest_package = -1;
    long highest_core = -1;
    char line[line_size];
    while (std::fgets(line, sizeof line, file.get())) {
        long id = 0;
        float mhz = 0;
        if (begins_with(line, "physical id")) {
            if (parse_long(value_after_colon(line, "physical id"), id) && id > highest_package) {
                highest_package = id;
            }
        } else if (begins_with(line, "core id")) {
            if (parse_long(value_after_colon(line, "core id"), id) && id > highest_core) {
                highest_core = id;
            }
        } else if (begins_with(line, "cpu MHz") && info.cpu_mhz == 0) {
            if (parse_float(value_after_colon(line, "cpu MHz"), mhz)) {
                info.cpu_mhz = truncate_to_int32(mhz);
            }
        }
    }
    // Ids may skip numbers, so the counts come from the highest ids. Each factor is
    // clamped to 32 bits first so that the product cannot overflow.
    if (highest_core < 0) {
        info.physical_cores = info.logical_cores;
    } else if (highest_package < 0) {
        info.physical_cores = clamp_to_int32(clamp_to_int32(highest_core) + 1LL);
    } else {
        const long long packages = clamp_to_int32(highest_package) + 1LL;
        const long long cores = clamp_to_int32(clamp_to_int32(highest_core) + 1LL);
        info.physical_cores = clamp_to_int32(packages * cores);
    }
}

// The sysfs maximum frequency, in kHz.
void read_max_frequency(const char *cpufreq_max, system_info &info) {
    unique_file file = open_text(cpufreq_max);
    if (!file) {
        return;
    }
    char text[line_size];
    const std::size_t length = std::fread(text, 1, sizeof text - 1, file.get());
    text[length] = '\0';
    long khz = 0;
    if (parse_long(text, khz)) {
        info.cpu_mhz = clamp_to_int32(khz / 1000);
    }
}

void read_memory(const char *meminfo, system_info &info) {
    char line[line_size];
    long kb = 0;
    if (parse_long(first_line_value(meminfo, "MemTotal:", line), kb)) {
        info.memory_mb = kb / 1024;
    }
}

// PRETTY_NAME's value, without its double quotes when it has them.
void read_distribution_name(const char *os_release, system_info &info) {
    char line[line_size];
    const char *name = first_line_value(os_release, "PRETTY_NAME=", line);
    if (!name) {
        return;
    }
    if (*name == '"') {
        ++name;
    }
    copy_text(info.os_name, name);
    cut_at(info.os_name, '"');
    cut_at(info.os_name, '\n');
}

} // namespace

extern "C" void get_system_info_from(const system_info_sources *sources, system_info *info) {
    if (!info) {
        return;
    }
    static const system_info_sources none = {};
    const system_info_sources &files = sources ? *sources : none;

    std::memset(info, 0, sizeof *info);
    read_cpu_model(files.cpuinfo, *info);
    info->logical_cores = clamp_to_int32(sysconf(_SC_NPROCESSORS_ONLN));
    read_topology(files.cpuinfo, *info);
    if (info->cpu_mhz == 0) {
        read_max_frequency(files.cpufreq_max, *info);
    }
    read_memory(files.meminfo, *info);

    struct utsname names;
    if (uname(&names) == 0) {
        copy_text(info->architecture, names.machine);
        copy_text(info->os_name, names.sysname);
        copy_text(info->kernel_release, names.release);
        read_distribution_name(files.os_release, *info);
    }
    info->valid = 1;
}

extern "C" void get_system_info(system_info *info) {
    static constexpr system_info_sources linux_files = {
        "/proc/cpuinfo",
        "/sys/devices/system/cpu/cpu0/cpufreq/cpuinfo_max_freq",
        "/proc/meminfo",
        "/etc/os-release",
    };
    get_system_info_from(&linux_files, info);
}
