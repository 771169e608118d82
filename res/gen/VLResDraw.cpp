// Shared drawing helpers of the resource generator: gradients, soft shadows,
// brush strokes and the small glyphs that several pictures reuse.
#include "VLResDraw.h"

#include <cstring>

namespace {

void AddStop(cairo_pattern_t* p, double offset, uint32_t argb) {
    cairo_pattern_add_color_stop_rgba(p, offset, ((argb >> 16) & 0xFF) / 255.0, ((argb >> 8) & 0xFF) / 255.0,
                                      (argb & 0xFF) / 255.0, ((argb >> 24) & 0xFF) / 255.0);
}

// One box-blur pass along rows (or columns) of a premultiplied ARGB image;
// pixels outside the image count as transparent.
void BlurPass(uint8_t* data, int width, int height, int stride, int radius, bool horizontal) {
    int lines = horizontal ? height : width;
    int length = horizontal ? width : height;
    std::vector<uint32_t> line(static_cast<size_t>(length));
    const int window = 2 * radius + 1;
    for (int l = 0; l < lines; ++l) {
        auto at = [&](int i) -> uint32_t* {
            return horizontal ? reinterpret_cast<uint32_t*>(data + l * stride) + i
                              : reinterpret_cast<uint32_t*>(data + i * stride) + l;
        };
        for (int i = 0; i < length; ++i)
            line[static_cast<size_t>(i)] = *at(i);
        for (int shift = 0; shift < 32; shift += 8) {
            int sum = 0;
            for (int i = -radius; i <= radius; ++i)
                if (i >= 0 && i < length)
                    sum += (line[static_cast<size_t>(i)] >> shift) & 0xFF;
            for (int i = 0; i < length; ++i) {
                uint32_t v = static_cast<uint32_t>(sum / window);
                uint32_t* p = at(i);
                *p = (*p & ~(0xFFu << shift)) | (v << shift);
                int out = i - radius, in = i + radius + 1;
                if (out >= 0)
                    sum -= (line[static_cast<size_t>(out)] >> shift) & 0xFF;
                if (in < length)
                    sum += (line[static_cast<size_t>(in)] >> shift) & 0xFF;
            }
        }
    }
}

void Blur(cairo_surface_t* s, double blur) {
    int radius = std::max(1, static_cast<int>(std::lround(blur / 2)));
    cairo_surface_flush(s);
    uint8_t* data = cairo_image_surface_get_data(s);
    int w = cairo_image_surface_get_width(s), h = cairo_image_surface_get_height(s);
    int stride = cairo_image_surface_get_stride(s);
    // Three box passes come close to a Gaussian.
    for (int pass = 0; pass < 3; ++pass) {
        BlurPass(data, w, h, stride, radius, true);
        BlurPass(data, w, h, stride, radius, false);
    }
    cairo_surface_mark_dirty(s);
}

void Point(double t, const double* px, const double* py, double& x, double& y) {
    double u = 1 - t;
    x = u * u * u * px[0] + 3 * u * u * t * px[1] + 3 * u * t * t * px[2] + t * t * t * px[3];
    y = u * u * u * py[0] + 3 * u * u * t * py[1] + 3 * u * t * t * py[2] + t * t * t * py[3];
}

// Enters the 100 x 100 box in which every glyph is designed.
void Box(cairo_t* cr, double x, double y, double size) {
    cairo_save(cr);
    cairo_translate(cr, x, y);
    cairo_scale(cr, size / 100.0, size / 100.0);
}

void Ellipse(cairo_t* cr, double cx, double cy, double rx, double ry, double angle) {
    cairo_save(cr);
    cairo_translate(cr, cx, cy);
    cairo_rotate(cr, angle);
    cairo_scale(cr, rx, ry);
    cairo_new_sub_path(cr);
    cairo_arc(cr, 0, 0, 1, 0, 2 * M_PI);
    cairo_restore(cr);
}

}  // namespace

void VLFillVertical(cairo_t* cr, double y0, double y1, uint32_t top, uint32_t bottom) {
    cairo_pattern_t* p = cairo_pattern_create_linear(0, y0, 0, y1);
    AddStop(p, 0, top);
    AddStop(p, 1, bottom);
    cairo_set_source(cr, p);
    cairo_fill(cr);
    cairo_pattern_destroy(p);
}

void VLFillRadial(cairo_t* cr, double x, double y, double r, uint32_t inner, uint32_t outer) {
    cairo_pattern_t* p = cairo_pattern_create_radial(x, y, 0, x, y, r);
    AddStop(p, 0, inner);
    AddStop(p, 1, outer);
    cairo_set_source(cr, p);
    cairo_fill(cr);
    cairo_pattern_destroy(p);
}

void VLShadow(cairo_t* cr, const std::function<void(cairo_t*)>& shape, double blur, double dx, double dy,
              uint32_t argb) {
    cairo_surface_t* target = cairo_get_target(cr);
    int w = cairo_image_surface_get_width(target), h = cairo_image_surface_get_height(target);
    cairo_surface_t* mask = cairo_image_surface_create(CAIRO_FORMAT_ARGB32, w, h);
    cairo_t* m = cairo_create(mask);
    cairo_matrix_t matrix;
    cairo_get_matrix(cr, &matrix);
    cairo_set_matrix(m, &matrix);
    shape(m);
    cairo_set_source_rgba(m, 0, 0, 0, 1);
    cairo_fill(m);
    cairo_destroy(m);
    // Blur and offset are in units: as many pixels as the target has per unit.
    double ux = 1, uy = 0;
    cairo_user_to_device_distance(cr, &ux, &uy);
    const double density = std::hypot(ux, uy);
    Blur(mask, blur * density);
    cairo_save(cr);
    cairo_identity_matrix(cr);
    VLSetColor(cr, argb);
    cairo_mask_surface(cr, mask, dx * density, dy * density);
    cairo_restore(cr);
    cairo_surface_destroy(mask);
}

void VLBrushStroke(cairo_t* cr, double x0, double y0, double cx1, double cy1, double cx2, double cy2,
                   double x1, double y1, double width, uint32_t argb) {
    const double px[4] = {x0, cx1, cx2, x1}, py[4] = {y0, cy1, cy2, y1};
    const int n = 120;
    struct Sample {
        double x, y, nx, ny, half;
    };
    std::vector<Sample> line;
    for (int i = 0; i <= n; ++i) {
        double t = static_cast<double>(i) / n, x, y, xa, ya, xb, yb;
        Point(t, px, py, x, y);
        Point(std::max(0.0, t - 0.005), px, py, xa, ya);
        Point(std::min(1.0, t + 0.005), px, py, xb, yb);
        double tx = xb - xa, ty = yb - ya, len = std::hypot(tx, ty);
        if (len < 1e-9)
            len = 1;
        // A loaded brush: a rounded start, a full body, a long dry taper.
        double half = width / 2 * std::pow(std::min(1.0, t / 0.08), 0.5) * std::pow(1 - t, 0.45);
        line.push_back({x, y, -ty / len, tx / len, half});
    }
    // The stroke is laid down as side-by-side bristle bands of slightly
    // different strength; the outer bands run dry sooner than the middle ones.
    uint32_t seed = 0x9E3779B9u ^ static_cast<uint32_t>(width * 131 + x0 * 7 + y1 * 3);
    auto next = [&seed]() {
        seed = seed * 1664525u + 1013904223u;
        return (seed >> 8) / 16777216.0;
    };
    const int bands = 16;
    for (int k = 0; k < bands; ++k) {
        double a = -1 + 2.0 * k / bands, b = -1 + 2.0 * (k + 1) / bands;
        double centre = 1 - std::abs((a + b) / 2);
        double end = std::min(1.0, 0.7 + 0.22 * centre + 0.12 * next());
        double strength = 0.72 + 0.28 * next();
        int last = static_cast<int>(n * end);
        cairo_new_path(cr);
        for (int i = 0; i <= last; ++i) {
            const Sample& s = line[static_cast<size_t>(i)];
            cairo_line_to(cr, s.x + s.nx * s.half * a, s.y + s.ny * s.half * a);
        }
        for (int i = last; i >= 0; --i) {
            const Sample& s = line[static_cast<size_t>(i)];
            cairo_line_to(cr, s.x + s.nx * s.half * b, s.y + s.ny * s.half * b);
        }
        cairo_close_path(cr);
        VLSetColor(cr, VLFade(argb, strength));
        cairo_fill(cr);
    }
}

void VLGlyphNote(cairo_t* cr, double x, double y, double size, uint32_t argb) {
    Box(cr, x, y, size);
    VLSetColor(cr, argb);
    Ellipse(cr, 36, 76, 18, 13, -0.38);
    cairo_fill(cr);
    cairo_rectangle(cr, 47, 12, 7.5, 64);
    cairo_fill(cr);
    cairo_move_to(cr, 47, 10);
    cairo_line_to(cr, 54.5, 10);
    cairo_curve_to(cr, 56, 24, 84, 30, 76, 60);
    cairo_curve_to(cr, 74, 44, 64, 36, 54.5, 34);
    cairo_line_to(cr, 47, 34);
    cairo_close_path(cr);
    cairo_fill(cr);
    cairo_restore(cr);
}

void VLGlyphBeamedNotes(cairo_t* cr, double x, double y, double size, uint32_t argb) {
    Box(cr, x, y, size);
    VLSetColor(cr, argb);
    Ellipse(cr, 24, 80, 15, 11, -0.38);
    cairo_fill(cr);
    Ellipse(cr, 72, 72, 15, 11, -0.38);
    cairo_fill(cr);
    cairo_rectangle(cr, 32.5, 20, 7, 60);
    cairo_rectangle(cr, 80.5, 12, 7, 60);
    cairo_fill(cr);
    cairo_move_to(cr, 32.5, 16);
    cairo_line_to(cr, 87.5, 6);
    cairo_line_to(cr, 87.5, 20);
    cairo_line_to(cr, 32.5, 30);
    cairo_close_path(cr);
    cairo_fill(cr);
    cairo_restore(cr);
}

void VLGlyphPalette(cairo_t* cr, double x, double y, double size, uint32_t body, bool dots) {
    Box(cr, x, y, size);
    // The board: a rounded bean with a thumb hole and a notch at the lower right.
    cairo_new_path(cr);
    cairo_move_to(cr, 52, 8);
    cairo_curve_to(cr, 82, 8, 98, 30, 96, 52);
    cairo_curve_to(cr, 95, 66, 84, 70, 76, 66);
    cairo_curve_to(cr, 66, 61, 60, 70, 64, 80);
    cairo_curve_to(cr, 68, 90, 58, 96, 46, 94);
    cairo_curve_to(cr, 20, 90, 4, 72, 4, 50);
    cairo_curve_to(cr, 4, 26, 24, 8, 52, 8);
    cairo_close_path(cr);
    cairo_new_sub_path(cr);
    cairo_arc_negative(cr, 34, 70, 8, 0, -2 * M_PI);
    cairo_set_fill_rule(cr, CAIRO_FILL_RULE_EVEN_ODD);
    VLSetColor(cr, body);
    cairo_fill(cr);
    cairo_set_fill_rule(cr, CAIRO_FILL_RULE_WINDING);
    if (dots) {
        const uint32_t colors[4] = {VLPalette::kCoral, VLPalette::kBlue, VLPalette::kGreen, 0xFF9B7FD4};
        const double at[4][2] = {{26, 42}, {46, 26}, {70, 30}, {80, 50}};
        for (int i = 0; i < 4; ++i)
            VLCircle(cr, at[i][0], at[i][1], 8.5, colors[i]);
    }
    cairo_restore(cr);
}

void VLGlyphCheck(cairo_t* cr, double x, double y, double size, uint32_t argb, double weight) {
    Box(cr, x, y, size);
    cairo_move_to(cr, 20, 52);
    cairo_line_to(cr, 42, 73);
    cairo_line_to(cr, 81, 30);
    VLStroke(cr, argb, weight);
    cairo_restore(cr);
}

void VLGlyphHeadphones(cairo_t* cr, double x, double y, double size, uint32_t band, uint32_t cups) {
    Box(cr, x, y, size);
    cairo_new_path(cr);
    cairo_arc(cr, 50, 56, 38, M_PI * 1.02, M_PI * 1.98);
    VLStroke(cr, band, 9);
    VLFillRoundRect(cr, 6, 48, 22, 38, 9, cups);
    VLFillRoundRect(cr, 72, 48, 22, 38, 9, cups);
    VLFillRoundRect(cr, 22, 54, 9, 26, 4, band);
    VLFillRoundRect(cr, 69, 54, 9, 26, 4, band);
    cairo_restore(cr);
}

void VLGlyphMicrophone(cairo_t* cr, double x, double y, double size, uint32_t argb, double weight) {
    Box(cr, x, y, size);
    VLFillRoundRect(cr, 35, 6, 30, 52, 15, argb);
    cairo_new_path(cr);
    cairo_arc_negative(cr, 50, 36, 27, M_PI, 0);
    VLStroke(cr, argb, weight);
    cairo_move_to(cr, 50, 64);
    cairo_line_to(cr, 50, 84);
    cairo_move_to(cr, 34, 88);
    cairo_line_to(cr, 66, 88);
    VLStroke(cr, argb, weight);
    cairo_restore(cr);
}

void VLGlyphSpeaker(cairo_t* cr, double x, double y, double size, uint32_t argb, int waves) {
    Box(cr, x, y, size);
    cairo_new_path(cr);
    cairo_move_to(cr, 10, 37);
    cairo_line_to(cr, 27, 37);
    cairo_line_to(cr, 48, 17);
    cairo_line_to(cr, 48, 83);
    cairo_line_to(cr, 27, 63);
    cairo_line_to(cr, 10, 63);
    cairo_close_path(cr);
    VLSetColor(cr, argb);
    cairo_set_line_join(cr, CAIRO_LINE_JOIN_ROUND);
    cairo_fill_preserve(cr);
    cairo_set_line_width(cr, 6);
    cairo_stroke(cr);
    for (int i = 0; i < waves; ++i) {
        cairo_new_path(cr);
        cairo_arc(cr, 50, 50, 18 + i * 16, -M_PI / 4, M_PI / 4);
        VLStroke(cr, argb, 8);
    }
    cairo_restore(cr);
}

void VLGlyphDocument(cairo_t* cr, double x, double y, double size, uint32_t paper, uint32_t lines) {
    Box(cr, x, y, size);
    auto sheet = [](cairo_t* c) {
        cairo_new_path(c);
        cairo_move_to(c, 22, 6);
        cairo_line_to(c, 62, 6);
        cairo_line_to(c, 80, 24);
        cairo_line_to(c, 80, 90);
        cairo_curve_to(c, 80, 93, 78, 95, 75, 95);
        cairo_line_to(c, 22, 95);
        cairo_curve_to(c, 19, 95, 17, 93, 17, 90);
        cairo_line_to(c, 17, 11);
        cairo_curve_to(c, 17, 8, 19, 6, 22, 6);
        cairo_close_path(c);
    };
    sheet(cr);
    VLSetColor(cr, paper);
    cairo_fill(cr);
    cairo_move_to(cr, 62, 6);
    cairo_line_to(cr, 62, 20);
    cairo_curve_to(cr, 62, 22.5, 63.5, 24, 66, 24);
    cairo_line_to(cr, 80, 24);
    cairo_close_path(cr);
    VLSetColor(cr, VLMix(paper, lines, 0.35));
    cairo_fill(cr);
    for (int i = 0; i < 4; ++i) {
        cairo_move_to(cr, 29, 40 + i * 13);
        cairo_line_to(cr, i == 3 ? 54 : 68, 40 + i * 13);
    }
    VLStroke(cr, lines, 5);
    cairo_restore(cr);
}

void VLStar(cairo_t* cr, double x, double y, double outer, double inner, uint32_t argb) {
    cairo_new_path(cr);
    for (int i = 0; i < 10; ++i) {
        double r = i % 2 ? inner : outer;
        double a = -M_PI / 2 + i * M_PI / 5;
        if (i == 0)
            cairo_move_to(cr, x + r * std::cos(a), y + r * std::sin(a));
        else
            cairo_line_to(cr, x + r * std::cos(a), y + r * std::sin(a));
    }
    cairo_close_path(cr);
    VLSetColor(cr, argb);
    cairo_set_line_join(cr, CAIRO_LINE_JOIN_ROUND);
    cairo_fill_preserve(cr);
    cairo_set_line_width(cr, outer * 0.12);
    cairo_stroke(cr);
}
