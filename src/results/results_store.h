/* Tessary results store: every benchmark and computation a front end finished, kept in one
 * SQLite database per user, with the comparison of a result against the earlier ones.
 *
 * Each call opens the database, does its work in one transaction and closes it again, so the
 * window and any number of tessary-cli processes can use the same file at once. A call that
 * fails says why in one line; a call that succeeds may still leave a line there, saying what
 * it found (a damaged file moved aside, a store written by a newer Tessary). */
#ifndef TESSARY_RESULTS_STORE_H
#define TESSARY_RESULTS_STORE_H

#include "probe/system_info.h"

#include <stddef.h>
#include <stdint.h>

#ifdef __cplusplus
extern "C" {
#endif

/* The schema this build reads and writes. A store of a newer schema is read, never written. */
enum { results_schema_version = 1 };

/* One line for the user, empty when there is nothing to say. */
typedef struct results_message {
    char text[1024];
} results_message;

/* The indexed columns of one saved result; the whole JSON report is kept beside them. Texts
 * are NUL-terminated and cut to fit. */
typedef struct results_row {
    int64_t id;           /* given by the store; ignored when saving */
    char recorded_at[24]; /* UTC, "2026-12-07T10:11:12Z"; saving stamps the time now when empty */
    char program[32];     /* "tessary" or "tessary-cli" */
    char version[32];     /* the program's version */
    char engine_version[64]; /* pi_get_version() */
    char simd_path[16];      /* the kernels that ran: "baseline", "avx2" or "avx512" */
    system_info machine;     /* the machine it ran on */
    int64_t digits;          /* request: digits per computation */
    int32_t runs;            /* request: 5 for the benchmark, 1 for one computation, 0 for a
                                stress run (until its time was up) */
    int32_t threads;         /* request: threads */
    int32_t success;         /* 1 when the result was verified */
    char error_message[256]; /* empty on success */
    /* Summary of the single-core part. */
    int64_t computed_digits;
    int64_t verified_digits;
    double score;
    double time_seconds; /* processor time */
    double wall_seconds;
    double spread_min_seconds;
    double spread_median_seconds;
    double spread_max_seconds;
    double spread_relative;
    int32_t multi_core_measured; /* 1 when the two fields below were measured */
    double multi_core_score;
    double scaling_efficiency;
} results_row;

/* Where the store lives: $XDG_DATA_HOME/tessary/results.sqlite, or
 * ~/.local/share/tessary/results.sqlite when XDG_DATA_HOME is unset, empty or relative.
 * Returns 1 with the path written to `path`, or 0 when there is no home to keep it in. */
int results_default_path(char *path, size_t size, results_message *message);

/* Saves one result, `report_json` being its whole JSON report of schema 1. Creates the
 * directory and the database on first use. Returns 1 and sets `*id` (when not null), or 0. */
int results_save(const char *path, const results_row *row, const char *report_json, int64_t *id,
                 results_message *message);

/* Every saved result, newest first, in an array the caller releases with free(). A missing
 * store is an empty one. Returns 1, or 0 with `*rows` null and `*count` 0. */
int results_list(const char *path, results_row **rows, size_t *count, results_message *message);

/* The JSON report saved with result `id`, in a string the caller releases with free(), or null. */
char *results_report(const char *path, int64_t id, results_message *message);

/* Deletes result `id`. Returns 1, or 0 when it could not (no such result, for one). */
int results_delete(const char *path, int64_t id, results_message *message);

/* A result beside the user's earlier comparable ones: the same program version, kernels,
 * machine and request (digits and runs), successful, and recorded no later than it. */
typedef struct results_comparison {
    int32_t count;       /* earlier comparable results; 0 leaves the fields below zero */
    double median_score; /* their median */
    double best_score;   /* their highest */
    double relative;     /* (score - median) / median */
    char text[160];      /* "Score 507: 2.4 % above your median of 12 results (best 523)" */
} results_comparison;

/* Compares `result` (a successful one with a score; others compare with nothing) with the
 * comparable rows of `history`, which may include `result` itself. Returns the count. */
int results_compare(const results_row *result, const results_row *history, size_t count,
                    results_comparison *comparison);

#ifdef __cplusplus
}
#endif

#endif
