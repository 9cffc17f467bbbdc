// Draws Tessary's application icon: a light-grey disc bearing a dark-blue
// speedometer gauge with a faint circuit pattern, a white pi, a scale arc from
// blue to red and a white needle at the red end, on a transparent background.
//
//   tessary-icon [SIZE [OUTPUT.png]]     (defaults: 256, icon.png)
//
// The picture is laid out on a 256-unit grid and scaled, so every size is the
// same drawing.
#include <cairo.h>

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <initializer_list>
#include <iterator>
#include <numbers>

namespace {

constexpr double grid = 256;
constexpr double centre = grid / 2;
constexpr double outer_radius = 126;
constexpr double gauge_radius = 106;
constexpr double scale_radius = 88;
constexpr double scale_width = 14;
// The scale runs clockwise through the top, from lower left to lower right.
constexpr double scale_start = std::numbers::pi * 5 / 6;
constexpr double scale_end = std::numbers::pi * 13 / 6;
constexpr double needle_angle = scale_end - 0.06;

struct rgb {
    double red, green, blue;
};

rgb mix(const rgb &a, const rgb &b, double t) {
    return {a.red + (b.red - a.red) * t, a.green + (b.green - a.green) * t,
            a.blue + (b.blue - a.blue) * t};
}

// Scale colour at fraction t of the way from the left end to the right end.
rgb scale_colour(double t) {
    constexpr rgb stops[] = {
        {0.16, 0.45, 1.00}, // blue
        {0.45, 0.35, 0.95}, // violet
        {0.85, 0.30, 0.65}, // magenta
        {0.95, 0.20, 0.20}, // red
    };
    constexpr int segments = std::size(stops) - 1;
    const double position = std::fmin(std::fmax(t, 0.0), 1.0) * segments;
    const int i = std::min(static_cast<int>(position), segments - 1);
    return mix(stops[i], stops[i + 1], position - i);
}

void circle(cairo_t *cr, double x, double y, double radius) {
    cairo_new_sub_path(cr);
    cairo_arc(cr, x, y, radius, 0, 2 * std::numbers::pi);
}

void draw_grey_disc(cairo_t *cr) {
    cairo_pattern_t *shade = cairo_pattern_create_linear(0, 0, 0, grid);
    cairo_pattern_add_color_stop_rgb(shade, 0, 0.93, 0.93, 0.94);
    cairo_pattern_add_color_stop_rgb(shade, 1, 0.76, 0.77, 0.79);
    circle(cr, centre, centre, outer_radius);
    cairo_set_source(cr, shade);
    cairo_fill_preserve(cr);
    cairo_pattern_destroy(shade);
    cairo_set_source_rgba(cr, 0.45, 0.47, 0.50, 0.9);
    cairo_set_line_width(cr, 2);
    cairo_stroke(cr);
}

void draw_gauge_face(cairo_t *cr) {
    cairo_pattern_t *face =
        cairo_pattern_create_radial(centre, centre - 30, 10, centre, centre, gauge_radius);
    cairo_pattern_add_color_stop_rgb(face, 0, 0.12, 0.24, 0.50);
    cairo_pattern_add_color_stop_rgb(face, 1, 0.04, 0.10, 0.27);
    circle(cr, centre, centre, gauge_radius);
    cairo_set_source(cr, face);
    cairo_fill(cr);
    cairo_pattern_destroy(face);
}

// Traces of a circuit board: runs with 45-degree jogs ending in round pads,
// drawn faintly and clipped to the gauge face.
void draw_circuit_pattern(cairo_t *cr) {
    struct trace {
        double points[4][2];
    };
    constexpr trace traces[] = {
        {{{40, 100}, {70, 100}, {84, 114}, {84, 150}}},
        {{{46, 170}, {70, 170}, {80, 180}, {110, 180}}},
        {{{60, 70}, {84, 70}, {96, 58}, {120, 58}}},
        {{{140, 42}, {140, 60}, {152, 72}, {180, 72}}},
        {{{216, 104}, {190, 104}, {176, 118}, {176, 140}}},
        {{{210, 170}, {186, 170}, {176, 180}, {150, 180}}},
        {{{100, 214}, {100, 200}, {112, 188}, {128, 188}}},
        {{{160, 214}, {160, 204}, {150, 194}, {140, 194}}},
    };
    cairo_save(cr);
    circle(cr, centre, centre, gauge_radius - 2);
    cairo_clip(cr);
    cairo_set_source_rgba(cr, 0.55, 0.75, 1.0, 0.22);
    cairo_set_line_width(cr, 2);
    cairo_set_line_join(cr, CAIRO_LINE_JOIN_ROUND);
    for (const trace &t : traces) {
        cairo_move_to(cr, t.points[0][0], t.points[0][1]);
        for (int i = 1; i < 4; ++i) {
            cairo_line_to(cr, t.points[i][0], t.points[i][1]);
        }
        cairo_stroke(cr);
        for (int end : {0, 3}) {
            circle(cr, t.points[end][0], t.points[end][1], 3.5);
            cairo_fill(cr);
        }
    }
    cairo_restore(cr);
}

// The scale as short arc pieces, each in the colour of its position.
void draw_scale(cairo_t *cr) {
    constexpr int pieces = 96;
    constexpr double step = (scale_end - scale_start) / pieces;
    cairo_set_line_width(cr, scale_width);
    cairo_set_line_cap(cr, CAIRO_LINE_CAP_BUTT);
    for (int i = 0; i < pieces; ++i) {
        const rgb c = scale_colour((i + 0.5) / pieces);
        cairo_set_source_rgb(cr, c.red, c.green, c.blue);
        // Overlap the next piece slightly so no seams show.
        const double from = scale_start + i * step;
        const double to = i + 1 < pieces ? from + step * 1.3 : scale_end;
        cairo_arc(cr, centre, centre, scale_radius, from, to);
        cairo_stroke(cr);
    }
    // Ticks just inside the scale.
    cairo_set_source_rgba(cr, 1, 1, 1, 0.85);
    cairo_set_line_width(cr, 3);
    cairo_set_line_cap(cr, CAIRO_LINE_CAP_ROUND);
    constexpr int ticks = 8;
    for (int i = 0; i <= ticks; ++i) {
        const double angle = scale_start + (scale_end - scale_start) * i / ticks;
        const double c = std::cos(angle);
        const double s = std::sin(angle);
        cairo_move_to(cr, centre + c * 70, centre + s * 70);
        cairo_line_to(cr, centre + c * 77, centre + s * 77);
        cairo_stroke(cr);
    }
}

// A serif-less Greek pi: a bar with a slight downturn at the left, a straight
// left leg and a right leg that kicks out at its foot.
void draw_pi(cairo_t *cr) {
    cairo_save(cr);
    cairo_translate(cr, centre, 86);
    cairo_scale(cr, 1.12, 1.12);
    cairo_set_source_rgb(cr, 1, 1, 1);
    cairo_set_line_cap(cr, CAIRO_LINE_CAP_ROUND);
    cairo_set_line_join(cr, CAIRO_LINE_JOIN_ROUND);
    cairo_set_line_width(cr, 9);

    cairo_move_to(cr, -26, -12);
    cairo_curve_to(cr, -20, -18, -12, -17, 0, -17);
    cairo_line_to(cr, 27, -17);
    cairo_stroke(cr);

    cairo_move_to(cr, -11, -16);
    cairo_curve_to(cr, -11, 0, -13, 12, -19, 22);
    cairo_stroke(cr);

    cairo_move_to(cr, 11, -16);
    cairo_line_to(cr, 11, 13);
    cairo_curve_to(cr, 11, 21, 16, 24, 23, 19);
    cairo_stroke(cr);
    cairo_restore(cr);
}

void draw_needle(cairo_t *cr) {
    const double c = std::cos(needle_angle);
    const double s = std::sin(needle_angle);
    const double length = 80;
    const double half_base = 7;
    cairo_set_source_rgb(cr, 1, 1, 1);
    cairo_move_to(cr, centre + c * length, centre + s * length);
    cairo_line_to(cr, centre - s * half_base - c * 14, centre + c * half_base - s * 14);
    cairo_line_to(cr, centre + s * half_base - c * 14, centre - c * half_base - s * 14);
    cairo_close_path(cr);
    cairo_fill(cr);

    circle(cr, centre, centre, 11);
    cairo_fill(cr);
    const rgb red = scale_colour(1);
    cairo_set_source_rgb(cr, red.red, red.green, red.blue);
    circle(cr, centre, centre, 4.5);
    cairo_fill(cr);
}

} // namespace

int main(int argc, char **argv) {
    const int size = argc > 1 ? std::atoi(argv[1]) : 256;
    const char *output = argc > 2 ? argv[2] : "icon.png";
    if (size < 16 || size > 4096) {
        std::fprintf(stderr, "usage: %s [SIZE 16..4096 [OUTPUT.png]]\n", argv[0]);
        return 2;
    }

    cairo_surface_t *surface = cairo_image_surface_create(CAIRO_FORMAT_ARGB32, size, size);
    cairo_t *cr = cairo_create(surface);
    cairo_set_antialias(cr, CAIRO_ANTIALIAS_BEST);
    cairo_scale(cr, size / grid, size / grid);

    draw_grey_disc(cr);
    draw_gauge_face(cr);
    draw_circuit_pattern(cr);
    draw_scale(cr);
    draw_pi(cr);
    draw_needle(cr);

    cairo_destroy(cr);
    const cairo_status_t status = cairo_surface_write_to_png(surface, output);
    cairo_surface_destroy(surface);
    if (status != CAIRO_STATUS_SUCCESS) {
        std::fprintf(stderr, "%s: cannot write %s: %s\n", argv[0], output,
                     cairo_status_to_string(status));
        return 1;
    }
    return 0;
}
