#include "window/history_chart.h"

#include "engine/pi_benchmark.h"
#include "report/number_style.h"

#include <algorithm>
#include <cmath>

namespace {

struct rgb {
    double red, green, blue;
};

// Read well on light and dark backgrounds alike.
constexpr rgb single_core_colour = {0.208, 0.518, 0.894};
constexpr rgb multi_core_colour = {0.902, 0.380, 0.0};

constexpr double left_margin = 64;
constexpr double right_margin = 20;
constexpr double top_margin = 36;    // the legend
constexpr double bottom_margin = 28; // the dates
constexpr double inner_margin = 16;  // the markers at the ends, and the latest one's ring
constexpr double marker_radius = 4.5;
constexpr double full_turn = 6.283185307179586;

// A round step for the score axis: 1, 2 or 5 times a power of ten, about a quarter of `top`.
double axis_step(double top) {
    const double rough = top / 4;
    const double power = std::pow(10, std::floor(std::log10(rough)));
    for (const double factor : {1.0, 2.0, 5.0}) {
        if (factor * power >= rough) {
            return factor * power;
        }
    }
    return 10 * power;
}

struct plot_area {
    double left, top, width, height, step, top_score;
    std::size_t count;

    double x(std::size_t index) const {
        const double inner = width - 2 * inner_margin;
        return count == 1 ? left + width / 2
                          : left + inner_margin + inner * static_cast<double>(index) / (count - 1);
    }
    double y(double score) const { return top + height * (1 - score / top_score); }
};

void set_colour(cairo_t *cr, const rgb &colour) {
    cairo_set_source_rgb(cr, colour.red, colour.green, colour.blue);
}

void set_ink(cairo_t *cr, const GdkRGBA &ink, double alpha = 1) {
    cairo_set_source_rgba(cr, ink.red, ink.green, ink.blue, ink.alpha * alpha);
}

// Text at (x, y), its right edge there when `align_right`, vertically centred on y.
void draw_text(cairo_t *cr, const std::string &text, double x, double y, bool align_right) {
    PangoLayout *layout = pango_cairo_create_layout(cr);
    pango_layout_set_text(layout, text.c_str(), -1);
    int width = 0;
    int height = 0;
    pango_layout_get_pixel_size(layout, &width, &height);
    cairo_move_to(cr, align_right ? x - width : x, y - height / 2.0);
    pango_cairo_show_layout(cr, layout);
    g_object_unref(layout);
}

// A disc for single-core scores, a square for multi-core ones; hollow when not comparable.
void draw_marker(cairo_t *cr, double x, double y, double radius, bool square, bool filled,
                 const rgb &colour) {
    set_colour(cr, colour);
    cairo_new_path(cr);
    if (square) {
        cairo_rectangle(cr, x - radius, y - radius, 2 * radius, 2 * radius);
    } else {
        cairo_arc(cr, x, y, radius, 0, full_turn);
    }
    if (filled) {
        cairo_fill(cr);
    } else {
        cairo_set_line_width(cr, 1.5);
        cairo_stroke(cr);
    }
}

void draw_axis(cairo_t *cr, const plot_area &area, const GdkRGBA &ink) {
    cairo_set_line_width(cr, 1);
    for (double score = 0; score <= area.top_score + 0.5; score += area.step) {
        const double y = std::round(area.y(score)) + 0.5;
        set_ink(cr, ink, score == 0 ? 0.6 : 0.15);
        cairo_move_to(cr, area.left, y);
        cairo_line_to(cr, area.left + area.width, y);
        cairo_stroke(cr);
        set_ink(cr, ink, 0.8);
        const local_numbers in_locale;
        draw_text(cr, grouped(std::llround(score)), area.left - 8, y, true);
    }
}

// The line through a series, then its markers, the latest ringed with its score beside it.
void draw_series(cairo_t *cr, const plot_area &area, const std::vector<chart_point> &points,
                 bool multi_core, const GdkRGBA &ink) {
    const rgb &colour = multi_core ? multi_core_colour : single_core_colour;
    auto score_of = [&](const chart_point &p) { return multi_core ? p.multi_core_score : p.score; };
    cairo_set_line_width(cr, 1.5);
    cairo_set_source_rgba(cr, colour.red, colour.green, colour.blue, 0.45);
    bool drawing = false;
    for (std::size_t i = 0; i < points.size(); ++i) {
        if (score_of(points[i]) <= 0) {
            drawing = false;
            continue;
        }
        const double x = area.x(i);
        const double y = area.y(score_of(points[i]));
        drawing ? cairo_line_to(cr, x, y) : cairo_move_to(cr, x, y);
        drawing = true;
    }
    cairo_stroke(cr);
    for (std::size_t i = 0; i < points.size(); ++i) {
        const chart_point &p = points[i];
        if (score_of(p) <= 0) {
            continue;
        }
        const double x = area.x(i);
        const double y = area.y(score_of(p));
        draw_marker(cr, x, y, p.latest ? marker_radius + 1.5 : marker_radius, multi_core,
                    p.comparable, colour);
        if (p.latest) {
            set_ink(cr, ink);
            cairo_set_line_width(cr, 2);
            cairo_new_path(cr);
            cairo_arc(cr, x, y, marker_radius + 5, 0, full_turn);
            cairo_stroke(cr);
            const local_numbers in_locale;
            draw_text(cr, grouped(std::llround(score_of(p))), x - marker_radius - 9, y - 12, true);
        }
    }
}

// "2026-12-09", the local date of a UTC time.
std::string local_day(const std::string &recorded_at) {
    g_autoptr(GDateTime) utc = g_date_time_new_from_iso8601(recorded_at.c_str(), nullptr);
    g_autoptr(GDateTime) local = utc ? g_date_time_to_local(utc) : nullptr;
    g_autofree char *text = local ? g_date_time_format(local, "%Y-%m-%d") : nullptr;
    return text ? text : "";
}

// The dates of the first and the last result under the axis.
void draw_dates(cairo_t *cr, const plot_area &area, const std::vector<chart_point> &points,
                const GdkRGBA &ink) {
    set_ink(cr, ink, 0.8);
    const double y = area.top + area.height + bottom_margin / 2 + 2;
    const std::string first = local_day(points.front().recorded_at);
    if (points.size() == 1) {
        draw_text(cr, first, area.x(0) - 30, y, false);
        return;
    }
    draw_text(cr, first, area.x(0) - inner_margin, y, false);
    draw_text(cr, local_day(points.back().recorded_at), area.x(points.size() - 1) + inner_margin, y,
              true);
}

// One legend entry: its marker, then its words; returns where the next one starts.
double legend_entry(cairo_t *cr, double x, double y, const GdkRGBA &ink, const char *words,
                    bool square, bool filled, bool ringed, const rgb &colour) {
    draw_marker(cr, x + marker_radius, y, marker_radius, square, filled, colour);
    if (ringed) {
        set_ink(cr, ink);
        cairo_set_line_width(cr, 2);
        cairo_new_path(cr);
        cairo_arc(cr, x + marker_radius, y, marker_radius + 4, 0, full_turn);
        cairo_stroke(cr);
    }
    set_ink(cr, ink, 0.9);
    PangoLayout *layout = pango_cairo_create_layout(cr);
    pango_layout_set_text(layout, words, -1);
    int width = 0;
    int height = 0;
    pango_layout_get_pixel_size(layout, &width, &height);
    cairo_move_to(cr, x + 2 * marker_radius + 8, y - height / 2.0);
    pango_cairo_show_layout(cr, layout);
    g_object_unref(layout);
    return x + 2 * marker_radius + 8 + width + 20;
}

void draw_legend(cairo_t *cr, const std::vector<chart_point> &points, const GdkRGBA &ink) {
    const double y = top_margin / 2;
    double x = left_margin;
    x = legend_entry(cr, x, y, ink, "Single-core", false, true, false, single_core_colour);
    if (std::any_of(points.begin(), points.end(),
                    [](const chart_point &p) { return p.multi_core_score > 0; })) {
        x = legend_entry(cr, x, y, ink, "Multi-core", true, true, false, multi_core_colour);
    }
    x = legend_entry(cr, x, y, ink, "Other version or kernels", false, false, false,
                     single_core_colour);
    legend_entry(cr, x, y, ink, "Latest", false, true, true, single_core_colour);
}

} // namespace

bool is_benchmark_row(const results_row &row) {
    return row.runs == pi_benchmark_runs && row.digits == pi_benchmark_digits;
}

std::vector<chart_point> chart_points(const results_row *rows, std::size_t count,
                                      const std::string &version, const std::string &kernels) {
    std::vector<chart_point> points;
    for (std::size_t i = count; i-- > 0;) {
        const results_row &row = rows[i];
        if (!is_benchmark_row(row) || row.success == 0) {
            continue;
        }
        points.push_back({row.id, row.score, row.multi_core_measured ? row.multi_core_score : 0,
                          version == row.version && kernels == row.simd_path, false,
                          row.recorded_at});
    }
    if (!points.empty()) {
        points.back().latest = true;
    }
    return points;
}

void draw_history_chart(cairo_t *cr, int width, int height, const std::vector<chart_point> &points,
                        const GdkRGBA &ink) {
    double highest = 0;
    for (const chart_point &p : points) {
        highest = std::max({highest, p.score, p.multi_core_score});
    }
    if (highest <= 0) {
        return;
    }
    const double step = axis_step(highest * 1.1);
    plot_area area{left_margin,
                   top_margin,
                   width - left_margin - right_margin,
                   height - top_margin - bottom_margin,
                   step,
                   std::ceil(highest * 1.1 / step) * step,
                   points.size()};
    cairo_save(cr);
    draw_legend(cr, points, ink);
    draw_axis(cr, area, ink);
    draw_dates(cr, area, points, ink);
    draw_series(cr, area, points, true, ink);
    draw_series(cr, area, points, false, ink);
    cairo_restore(cr);
}
