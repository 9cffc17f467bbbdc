// How much memory computations hold beside the machine's: the size --memory chooses, and the
// refusal of a size the memory cannot hold, before anything starts.
#ifndef TESSARY_CLI_STRESS_MEMORY_H
#define TESSARY_CLI_STRESS_MEMORY_H

#include <string>

// The machine's memory in bytes, as /proc/meminfo says; -1 where it does not.
struct machine_memory {
    long long total_bytes = -1;
    long long available_bytes = -1; // what can be allocated now without swapping
};

machine_memory read_machine_memory_from(const char *meminfo_path);
// This machine's, now.
machine_memory read_machine_memory();

// Memory as the reports write it, in MB of 10^6 bytes: "302 MB", "0.2 MB".
std::string megabytes_text(long long bytes);

// The memory `threads` computations of `digits` hold at once.
long long held_bytes(int digits, int threads);

// Why `threads` computations of `digits` at once cannot run in the memory available now;
// empty when they fit, or when the machine does not say.
std::string memory_shortfall(int digits, int threads, const machine_memory &memory);

// The largest size of the ladder, up to the largest verified one, whose `threads`
// computations together hold at most `percent` % of the machine's memory and no more than is
// available now; or why there is none.
struct memory_sized {
    int digits = 0;
    std::string choice; // the size chosen and why, for the report
    std::string error;
};
memory_sized size_for_memory(int percent, int threads, const machine_memory &memory);

#endif
