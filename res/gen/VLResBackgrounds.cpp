// The two window backgrounds, 1024 x 768: the exam (1001) and the sign-in
// screens (1008, a little warmer). Soft gradients with music (a sweeping staff
// with a few notes) and art (brush strokes, paint dots) at the edges, kept
// faint so that text anywhere on them stays easy to read.
#include "VLResDraw.h"

namespace {

using namespace VLPalette;

struct Curve {
    double x0, y0, x1, y1, x2, y2, x3, y3;
    void At(double t, double& x, double& y, double& nx, double& ny) const {
        double u = 1 - t;
        x = u * u * u * x0 + 3 * u * u * t * x1 + 3 * u * t * t * x2 + t * t * t * x3;
        y = u * u * u * y0 + 3 * u * u * t * y1 + 3 * u * t * t * y2 + t * t * t * y3;
        double dx = 3 * u * u * (x1 - x0) + 6 * u * t * (x2 - x1) + 3 * t * t * (x3 - x2);
        double dy = 3 * u * u * (y1 - y0) + 6 * u * t * (y2 - y1) + 3 * t * t * (y3 - y2);
        double len = std::hypot(dx, dy);
        nx = -dy / len;
        ny = dx / len;
    }
};

// Five staff lines along a curve, fading out towards both ends, with notes
// sitting on them at the given positions (t along the curve, line step).
void Staff(cairo_t* cr, const Curve& c, double gap, uint32_t color,
           const std::vector<std::pair<double, int>>& notes, uint32_t noteColor) {
    cairo_pattern_t* fade = cairo_pattern_create_linear(c.x0, c.y0, c.x3, c.y3);
    for (auto [offset, alpha] : {std::pair{0.0, 0.0}, {0.18, 1.0}, {0.8, 1.0}, {1.0, 0.0}})
        cairo_pattern_add_color_stop_rgba(fade, offset, ((color >> 16) & 0xFF) / 255.0,
                                          ((color >> 8) & 0xFF) / 255.0, (color & 0xFF) / 255.0,
                                          ((color >> 24) & 0xFF) / 255.0 * alpha);
    for (int line = -2; line <= 2; ++line) {
        cairo_new_path(cr);
        for (int i = 0; i <= 200; ++i) {
            double x, y, nx, ny;
            c.At(i / 200.0, x, y, nx, ny);
            cairo_line_to(cr, x + nx * line * gap, y + ny * line * gap);
        }
        cairo_set_source(cr, fade);
        cairo_set_line_width(cr, 1.4);
        cairo_stroke(cr);
    }
    cairo_pattern_destroy(fade);
    for (auto [t, step] : notes) {
        double x, y, nx, ny;
        c.At(t, x, y, nx, ny);
        double size = gap * 4.2;
        double hx = x + nx * step * gap / 2, hy = y + ny * step * gap / 2;
        cairo_save(cr);
        cairo_translate(cr, hx, hy);
        cairo_rotate(cr, std::atan2(-nx, ny) * 0.6);
        // The glyph's note head sits at (36, 76) of its 100 box.
        if (step % 3 == 0)
            VLGlyphBeamedNotes(cr, -0.24 * size, -0.8 * size, size, noteColor);
        else
            VLGlyphNote(cr, -0.36 * size, -0.76 * size, size, noteColor);
        cairo_restore(cr);
    }
}

struct Glow {
    double x, y, radius;
    uint32_t color;
    double strength;
};

// The base wash: a vertical gradient with soft glows, computed per pixel and
// dithered, because gradients this gentle band visibly in 8-bit steps.
void Wash(cairo_t* cr, int width, int height, uint32_t top, uint32_t bottom, const std::vector<Glow>& glows) {
    // Computed for every pixel of the target, however many a unit takes.
    double dx = 1, dy = 0;
    cairo_user_to_device_distance(cr, &dx, &dy);
    const double density = std::hypot(dx, dy);
    const double unitsHigh = height;
    width = static_cast<int>(std::lround(width * density));
    height = static_cast<int>(std::lround(height * density));
    cairo_surface_t* s = cairo_image_surface_create(CAIRO_FORMAT_RGB24, width, height);
    cairo_surface_flush(s);
    uint8_t* data = cairo_image_surface_get_data(s);
    int stride = cairo_image_surface_get_stride(s);
    uint32_t seed = 12345;
    auto noise = [&seed]() {
        seed = seed * 1664525u + 1013904223u;
        return (seed >> 8) / 16777216.0;
    };
    auto channel = [](uint32_t argb, int shift) { return static_cast<double>((argb >> shift) & 0xFF); };
    for (int y = 0; y < height; ++y) {
        auto* row = reinterpret_cast<uint32_t*>(data + y * stride);
        double t = y / density / (unitsHigh - 1);
        for (int x = 0; x < width; ++x) {
            double rgb[3];
            for (int c = 0; c < 3; ++c)
                rgb[c] =
                    channel(top, 16 - 8 * c) + (channel(bottom, 16 - 8 * c) - channel(top, 16 - 8 * c)) * t;
            for (const Glow& g : glows) {
                double d = std::hypot(x / density - g.x, y / density - g.y) / g.radius;
                if (d >= 1)
                    continue;
                double f = 1 - d * d * (3 - 2 * d);  // smooth fall-off
                for (int c = 0; c < 3; ++c)
                    rgb[c] += (channel(g.color, 16 - 8 * c) - rgb[c]) * g.strength * f;
            }
            uint32_t pixel = 0;
            for (int c = 0; c < 3; ++c) {
                double v = std::clamp(rgb[c] + noise() + noise() - 1, 0.0, 255.0);
                pixel |= static_cast<uint32_t>(std::lround(v)) << (16 - 8 * c);
            }
            row[x] = pixel;
        }
    }
    cairo_surface_mark_dirty(s);
    cairo_save(cr);
    cairo_scale(cr, 1 / density, 1 / density);
    cairo_set_source_surface(cr, s, 0, 0);
    cairo_pattern_set_filter(cairo_get_source(cr), CAIRO_FILTER_NEAREST);
    cairo_paint(cr);
    cairo_restore(cr);
    cairo_surface_destroy(s);
}

void PaintDots(cairo_t* cr, const std::vector<std::tuple<double, double, double, uint32_t>>& dots) {
    for (auto [x, y, r, color] : dots)
        VLCircle(cr, x, y, r, color);
}

VLResRegistrar exam(1001, 1024, 768, [](cairo_t* cr) {
    Wash(cr, 1024, 768, 0xFFF8FBF7, 0xFFEDF5F0,
         {{180, 60, 700, 0xFFFFFFFF, 0.5}, {980, 760, 520, 0xFFFBC368, 0.10}});

    // Music along the top left, art in the lower right corner.
    Staff(cr, {-40, 118, 180, 30, 380, 150, 620, 34}, 9, VLFade(kGreen, 0.13),
          {{0.16, 3}, {0.3, -1}, {0.46, 2}, {0.62, 0}}, VLFade(kGreen, 0.12));
    Staff(cr, {620, 746, 760, 700, 880, 760, 1064, 700}, 7, VLFade(kBlue, 0.10), {{0.52, 1}},
          VLFade(kBlue, 0.10));
    VLBrushStroke(cr, 1060, 560, 980, 600, 900, 690, 820, 790, 46, VLFade(kWarm, 0.20));
    VLBrushStroke(cr, 1040, 470, 990, 520, 960, 560, 930, 640, 26, VLFade(kGreen, 0.12));
    VLBrushStroke(cr, -20, 700, 40, 720, 90, 760, 150, 800, 30, VLFade(kBlue, 0.10));
    PaintDots(cr, {{952, 452, 6, VLFade(kCoral, 0.12)},
                   {972, 430, 4, VLFade(kBlue, 0.14)},
                   {930, 470, 3, VLFade(kWarmDeep, 0.16)},
                   {60, 660, 5, VLFade(kWarmDeep, 0.12)}});
});

VLResRegistrar signIn(1008, 1024, 768, [](cairo_t* cr) {
    Wash(cr, 1024, 768, 0xFFFFF8EE, 0xFFF1F7F1,
         {{900, 40, 620, 0xFFFBC368, 0.20}, {80, 740, 560, 0xFF3DAA6B, 0.13}});

    // Music across the bottom, art along the top right.
    Staff(cr, {-40, 690, 240, 590, 560, 760, 1064, 640}, 10, VLFade(kGreen, 0.16),
          {{0.12, 2}, {0.26, -2}, {0.4, 1}, {0.72, 3}, {0.86, -1}}, VLFade(kGreen, 0.15));
    VLBrushStroke(cr, 700, -20, 780, 40, 880, 70, 1060, 60, 54, VLFade(kWarm, 0.30));
    VLBrushStroke(cr, 860, 130, 910, 100, 970, 96, 1050, 120, 28, VLFade(kCoral, 0.14));
    VLBrushStroke(cr, -30, 40, 40, 20, 110, -10, 190, -30, 34, VLFade(kBlue, 0.12));
    PaintDots(cr, {{820, 128, 6, VLFade(kBlue, 0.16)},
                   {842, 150, 4, VLFade(kGreen, 0.18)},
                   {800, 152, 3, VLFade(kWarmDeep, 0.22)},
                   {214, 40, 5, VLFade(kCoral, 0.14)}});
});

}  // namespace
