// The chart of the History dialog: the five-run benchmark's scores in time order, single-core
// and, where measured, multi-core, the latest highlighted, results that another program
// version or other kernels measured hollow, since their scores do not compare.
#ifndef TESSARY_HISTORY_CHART_H
#define TESSARY_HISTORY_CHART_H

#include "results/results_store.h"

#include <gtk/gtk.h>

#include <cstddef>
#include <string>
#include <vector>

struct chart_point {
    int64_t id;
    double score;
    double multi_core_score; // 0 when not measured
    bool comparable;         // measured by this version on these kernels
    bool latest;
    std::string recorded_at; // UTC, ISO 8601
};

// A five-run benchmark, not a single computation.
bool is_benchmark_row(const results_row &row);

// The points of `rows` (newest first, as the store lists them), oldest first: the five-run
// benchmarks that succeeded. Single computations are listed but not charted: their scores
// are not the benchmark's.
std::vector<chart_point> chart_points(const results_row *rows, std::size_t count,
                                      const std::string &version, const std::string &kernels);

// Draws the chart and its legend on `width` x `height`, in `ink` (the theme's text colour)
// on what is there already.
void draw_history_chart(cairo_t *cr, int width, int height, const std::vector<chart_point> &points,
                        const GdkRGBA &ink);

#endif
