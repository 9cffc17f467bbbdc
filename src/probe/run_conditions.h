/* What else the machine was doing when a benchmark started, and how it was set up: scores
 * move with the load, the processor's frequency governor and the kernel's huge pages. */
#ifndef TESSARY_RUN_CONDITIONS_H
#define TESSARY_RUN_CONDITIONS_H

#include <stdint.h>

#ifdef __cplusplus
extern "C" {
#endif

typedef struct run_conditions {
    double load_average; /* over the last minute; -1 when unknown */
    int32_t runnable;    /* processes runnable at the moment, the reader itself left out; -1 when
                            unknown */
    int32_t processors;  /* online */
    char governor[32];   /* cpufreq's scaling governor of processor 0; empty when cpufreq says
                            nothing (as in most virtual machines) */
    char huge_pages[16]; /* the kernel's transparent huge page mode: "always", "madvise" or
                            "never"; empty when unknown */
} run_conditions;

/* Fills `conditions` from the running system. A NULL record is left alone. */
void get_run_conditions(run_conditions *conditions);

/* The files read; tests point them at fixtures. A NULL path counts as a missing file. */
typedef struct run_conditions_sources {
    const char *loadavg;    /* /proc/loadavg */
    const char *governor;   /* /sys/devices/system/cpu/cpu0/cpufreq/scaling_governor */
    const char *huge_pages; /* /sys/kernel/mm/transparent_hugepage/enabled */
    int32_t processors;     /* 0: the processors online */
} run_conditions_sources;

void get_run_conditions_from(const run_conditions_sources *sources, run_conditions *conditions);

/* The load at which scores may be low: on average half a processor taken by other work. */
#define RUN_CONDITIONS_BUSY_LOAD 0.5
/* 1 when other work took enough of the machine to lower a score. */
int run_conditions_busy(const run_conditions *conditions);

#ifdef __cplusplus
}
#endif

#endif
