#include "cli/stress_memory.h"

#include "cli/digit_count.h"
#include "engine/pi_benchmark.h"
#include "report/number_style.h"

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <fstream>
#include <sstream>

namespace {

// A line of /proc/meminfo as "Name:   123456 kB", in bytes.
bool read_kilobytes(const std::string &line, const std::string &name, long long &bytes) {
    if (line.rfind(name, 0) != 0) {
        return false;
    }
    std::istringstream value(line.substr(name.size()));
    long long kilobytes = 0;
    std::string unit;
    if (value >> kilobytes >> unit && unit == "kB" && kilobytes >= 0) {
        bytes = kilobytes * 1024;
    }
    return true;
}

// MemAvailable, or where the kernel does not give it, the whole memory.
long long usable_bytes(const machine_memory &memory) {
    return memory.available_bytes >= 0 ? memory.available_bytes : memory.total_bytes;
}

} // namespace

machine_memory read_machine_memory_from(const char *meminfo_path) {
    machine_memory memory;
    std::ifstream meminfo(meminfo_path);
    for (std::string line; std::getline(meminfo, line);) {
        read_kilobytes(line, "MemTotal:", memory.total_bytes) ||
            read_kilobytes(line, "MemAvailable:", memory.available_bytes);
    }
    return memory;
}

machine_memory read_machine_memory() {
    return read_machine_memory_from("/proc/meminfo");
}

// Whole MB, or below 10 MB one place, so that no size is shown as nothing.
std::string megabytes_text(long long bytes) {
    const double megabytes = static_cast<double>(bytes) / 1e6;
    if (megabytes < 9.95 && bytes > 0) {
        char text[16];
        std::snprintf(text, sizeof text, "%.1f MB", megabytes);
        return text;
    }
    return grouped(std::llround(megabytes)) + " MB";
}

long long held_bytes(int digits, int threads) {
    return static_cast<long long>(pi_working_memory_bytes(digits)) * threads;
}

std::string memory_shortfall(int digits, int threads, const machine_memory &memory) {
    const long long usable = usable_bytes(memory);
    const long long needed = held_bytes(digits, threads);
    if (usable < 0 || needed <= usable) {
        return "";
    }
    return counted(threads, "computation", "computations") + " of " +
           counted(digits, "digit", "digits") + " hold " + megabytes_text(needed) +
           ", more than the " + megabytes_text(usable) + " of memory available";
}

memory_sized size_for_memory(int percent, int threads, const machine_memory &memory) {
    memory_sized sized;
    if (memory.total_bytes < 0) {
        sized.error = "--memory needs the machine's memory size, which /proc/meminfo does not give";
        return sized;
    }
    const auto share =
        static_cast<long long>(static_cast<double>(memory.total_bytes) * percent / 100);
    const long long budget = std::min(share, usable_bytes(memory));
    const int largest = std::min(size_ladder_last, pi_largest_verified_digits());
    for (int digits = size_ladder_first; digits <= largest; digits *= 2) {
        if (held_bytes(digits, threads) <= budget) {
            sized.digits = digits;
        }
    }
    const std::string limit = megabytes_text(budget) + " (" + std::to_string(percent) + " % of " +
                              megabytes_text(memory.total_bytes) +
                              (share > budget ? ", less what is not available now)" : ")");
    if (sized.digits == 0) {
        sized.error = "--memory " + std::to_string(percent) + " leaves " + limit + " for " +
                      counted(threads, "thread", "threads") + ": too little for " +
                      counted(size_ladder_first, "digit", "digits") + " on each";
        return sized;
    }
    sized.choice = "Chosen by --memory " + std::to_string(percent) + ": the largest size whose " +
                   counted(threads, "thread", "threads") + " hold at most " + limit;
    return sized;
}
