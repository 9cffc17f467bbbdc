/* Tessary system information probe: describes the machine (processor, cores,
 * clock, memory, operating system) from Linux pseudo-files, sysconf and uname. */
#ifndef TESSARY_SYSTEM_INFO_H
#define TESSARY_SYSTEM_INFO_H

#include <stdint.h>

#ifdef __cplusplus
extern "C" {
#endif

/* Fixed-size description of the machine. Texts are NUL-terminated and cut to fit. */
typedef struct system_info {
    char cpu_model[128];     /* processor model text */
    int32_t physical_cores;  /* physical cores; the logical count when the topology is unknown */
    int32_t logical_cores;   /* processors online */
    int32_t cpu_mhz;         /* clock frequency in MHz; 0 when no source gave one */
    int64_t memory_mb;       /* total memory in units of 1024 kB */
    char os_name[64];        /* distribution name, else the kernel's system name */
    char kernel_release[64]; /* kernel release */
    char architecture[32];   /* machine architecture */
    int32_t valid;           /* 1 once the probe has run */
    char error_message[256]; /* shown instead of the description when valid is 0 */
} system_info;

/* Fills `info` from the running system. A NULL record is left alone. */
void get_system_info(system_info *info);

/* The four files the probe reads. get_system_info uses the real ones; tests
 * point them at fixtures. A NULL path counts as a file that cannot be opened. */
typedef struct system_info_sources {
    const char *cpuinfo;     /* /proc/cpuinfo */
    const char *cpufreq_max; /* /sys/devices/system/cpu/cpu0/cpufreq/cpuinfo_max_freq (kHz) */
    const char *meminfo;     /* /proc/meminfo */
    const char *os_release;  /* /etc/os-release */
} system_info_sources;

/* get_system_info with the files taken from `sources`. */
void get_system_info_from(const system_info_sources *sources, system_info *info);

#ifdef __cplusplus
}
#endif

#endif
