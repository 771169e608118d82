// Resources of the toolkit itself, of the sample gallery, and the shared ones
// the windows name: the loading spinner (1200-1215), the message box icons
// (2001) and the picture zoom button (2101).
#include "VLResDraw.h"

namespace {

constexpr uint32_t kAccent = 0xFF2E86DE;
constexpr uint32_t kAccentHot = 0xFF4A9BEA;
constexpr uint32_t kAccentDown = 0xFF1F6FB8;

// Sixteen spinner frames: twelve dots whose brightness runs round the circle.
void Spinner(cairo_t* cr, int frame) {
    const double cx = 24, cy = 24;
    for (int i = 0; i < 12; ++i) {
        double angle = i * 2 * M_PI / 12 - M_PI / 2;
        double phase = std::fmod((i / 12.0) - frame / 16.0 + 1.0, 1.0);
        double alpha = 0.18 + 0.82 * phase;
        VLSetColor(cr, VLFade(VLPalette::kGreen, alpha));
        cairo_new_sub_path(cr);
        cairo_arc(cr, cx + std::cos(angle) * 16, cy + std::sin(angle) * 16, 2.2 + 1.6 * phase, 0, 2 * M_PI);
        cairo_fill(cr);
    }
}

struct SpinnerFrames {
    SpinnerFrames() {
        for (int f = 0; f < 16; ++f)
            VLResRegistrar(1200 + f, 48, 48, [f](cairo_t* cr) { Spinner(cr, f); });
    }
} spinnerFrames;

void Circle(cairo_t* cr, double x, double y, double r, uint32_t argb) {
    VLSetColor(cr, argb);
    cairo_arc(cr, x, y, r, 0, 2 * M_PI);
    cairo_fill(cr);
}

void Stroke(cairo_t* cr, uint32_t argb, double width) {
    VLSetColor(cr, argb);
    cairo_set_line_width(cr, width);
    cairo_set_line_cap(cr, CAIRO_LINE_CAP_ROUND);
    cairo_set_line_join(cr, CAIRO_LINE_JOIN_ROUND);
    cairo_stroke(cr);
}

// Message box icons, 36 x 36 each: question, warning, information, success.
VLResRegistrar icons(2001, 144, 36, [](cairo_t* cr) {
    Circle(cr, 18, 18, 16, VLPalette::kBlue);
    cairo_select_font_face(cr, "DejaVu Sans", CAIRO_FONT_SLANT_NORMAL, CAIRO_FONT_WEIGHT_BOLD);
    cairo_set_font_size(cr, 22);
    VLSetColor(cr, 0xFFFFFFFF);
    cairo_move_to(cr, 11.5, 26);
    cairo_show_text(cr, "?");

    cairo_move_to(cr, 36 + 18, 3);
    cairo_line_to(cr, 36 + 34, 32);
    cairo_line_to(cr, 36 + 2, 32);
    cairo_close_path(cr);
    VLSetColor(cr, VLPalette::kWarmDeep);
    cairo_fill(cr);
    cairo_rectangle(cr, 36 + 16.5, 12, 3, 11);
    cairo_arc(cr, 36 + 18, 27.5, 1.9, 0, 2 * M_PI);
    VLSetColor(cr, 0xFFFFFFFF);
    cairo_fill(cr);

    Circle(cr, 72 + 18, 18, 16, VLPalette::kBlue);
    VLSetColor(cr, 0xFFFFFFFF);
    cairo_arc(cr, 72 + 18, 10.5, 2.2, 0, 2 * M_PI);
    cairo_fill(cr);
    cairo_rectangle(cr, 72 + 16.3, 15, 3.4, 13);
    cairo_fill(cr);

    Circle(cr, 108 + 18, 18, 16, VLPalette::kGreen);
    cairo_move_to(cr, 108 + 10, 18.5);
    cairo_line_to(cr, 108 + 16, 24.5);
    cairo_line_to(cr, 108 + 27, 12.5);
    Stroke(cr, 0xFFFFFFFF, 3.2);
});

// Picture zoom button, 25 x 25, normal and hot side by side.
VLResRegistrar zoom(2101, 50, 25, [](cairo_t* cr) {
    for (int i = 0; i < 2; ++i) {
        double ox = i * 25;
        VLFillRoundRect(cr, ox + 0.5, 0.5, 24, 24, 5, i ? 0xE0000000 : 0x99000000);
        cairo_arc(cr, ox + 11, 11, 5.5, 0, 2 * M_PI);
        Stroke(cr, 0xFFFFFFFF, 2);
        cairo_move_to(cr, ox + 15, 15);
        cairo_line_to(cr, ox + 20, 20);
        Stroke(cr, 0xFFFFFFFF, 2.4);
        cairo_move_to(cr, ox + 8.5, 11);
        cairo_line_to(cr, ox + 13.5, 11);
        cairo_move_to(cr, ox + 11, 8.5);
        cairo_line_to(cr, ox + 11, 13.5);
        Stroke(cr, 0xFFFFFFFF, 1.6);
    }
});

// 9001: a button, four 100 x 36 states (normal, hot, pushed, disabled); corner 8.
VLResRegistrar button(9001, 400, 36, [](cairo_t* cr) {
    const uint32_t colors[4] = {kAccent, kAccentHot, kAccentDown, 0xFFB8C4D0};
    for (int i = 0; i < 4; ++i)
        VLFillRoundRect(cr, i * 100 + 0.5, 0.5, 99, 35, 8, colors[i]);
});

// 9002: a check box, four 20 x 20 states (off, off hot, on, on hot).
VLResRegistrar checkbox(9002, 80, 20, [](cairo_t* cr) {
    for (int i = 0; i < 4; ++i) {
        double ox = i * 20;
        bool on = i >= 2, hot = i % 2 == 1;
        if (on) {
            VLFillRoundRect(cr, ox + 1, 1, 18, 18, 4, hot ? kAccentHot : kAccent);
            cairo_move_to(cr, ox + 5, 10.5);
            cairo_line_to(cr, ox + 8.5, 14);
            cairo_line_to(cr, ox + 15, 6.5);
            Stroke(cr, 0xFFFFFFFF, 2.2);
        } else {
            VLFillRoundRect(cr, ox + 1, 1, 18, 18, 4, 0xFFFFFFFF);
            VLRoundRect(cr, ox + 1.5, 1.5, 17, 17, 4);
            Stroke(cr, hot ? kAccent : 0xFF9AA5B1, 1.4);
        }
    }
});

// 9003: a radio button, four 20 x 20 states like 9002.
VLResRegistrar radio(9003, 80, 20, [](cairo_t* cr) {
    for (int i = 0; i < 4; ++i) {
        double ox = i * 20;
        bool on = i >= 2, hot = i % 2 == 1;
        Circle(cr, ox + 10, 10, 8.6, 0xFFFFFFFF);
        cairo_arc(cr, ox + 10, 10, 8.3, 0, 2 * M_PI);
        Stroke(cr, on || hot ? kAccent : 0xFF9AA5B1, 1.4);
        if (on)
            Circle(cr, ox + 10, 10, 4.6, hot ? kAccentHot : kAccent);
    }
});

// 9004: a card, 24 x 24 with soft edges for nine-grid use (corner 10).
VLResRegistrar card(9004, 24, 24, [](cairo_t* cr) {
    VLFillRoundRect(cr, 0, 0.5, 24, 23.5, 9, 0x10000000);
    VLFillRoundRect(cr, 0.5, 0, 23, 23, 8, 0xFFFFFFFF);
    VLRoundRect(cr, 1, 0.5, 22, 22, 8);
    Stroke(cr, 0xFFE1E6EB, 1);
});

// 9005: a probe pattern for drawing tests: two 40 x 40 cells; the left one has
// a 10-pixel red band round a blue centre, the right one is green.
VLResRegistrar probe(9005, 80, 40, [](cairo_t* cr) {
    cairo_set_antialias(cr, CAIRO_ANTIALIAS_NONE);
    VLSetColor(cr, 0xFFFF0000);
    cairo_rectangle(cr, 0, 0, 40, 40);
    cairo_fill(cr);
    VLSetColor(cr, 0xFF0000FF);
    cairo_rectangle(cr, 10, 10, 20, 20);
    cairo_fill(cr);
    VLSetColor(cr, 0xFF00FF00);
    cairo_rectangle(cr, 40, 0, 40, 40);
    cairo_fill(cr);
});

// 9006: the program logo, 64 x 64: a note in a rounded square.
VLResRegistrar logo(9006, 64, 64, [](cairo_t* cr) {
    cairo_pattern_t* g = cairo_pattern_create_linear(0, 0, 64, 64);
    cairo_pattern_add_color_stop_rgb(g, 0, 0x4A / 255.0, 0x9B / 255.0, 0xEA / 255.0);
    cairo_pattern_add_color_stop_rgb(g, 1, 0x1F / 255.0, 0x6F / 255.0, 0xB8 / 255.0);
    VLRoundRect(cr, 2, 2, 60, 60, 14);
    cairo_set_source(cr, g);
    cairo_fill(cr);
    cairo_pattern_destroy(g);
    Circle(cr, 24, 44, 8, 0xFFFFFFFF);
    cairo_rectangle(cr, 29.5, 16, 4, 28);
    VLSetColor(cr, 0xFFFFFFFF);
    cairo_fill(cr);
    cairo_move_to(cr, 31.5, 16);
    cairo_curve_to(cr, 38, 18, 44, 22, 44, 30);
    Stroke(cr, 0xFFFFFFFF, 4);
});

// 9007: a sample picture, 240 x 140: hills under a sky.
VLResRegistrar picture(9007, 240, 140, [](cairo_t* cr) {
    cairo_pattern_t* sky = cairo_pattern_create_linear(0, 0, 0, 140);
    cairo_pattern_add_color_stop_rgb(sky, 0, 0.55, 0.78, 0.97);
    cairo_pattern_add_color_stop_rgb(sky, 1, 0.88, 0.95, 1.0);
    cairo_rectangle(cr, 0, 0, 240, 140);
    cairo_set_source(cr, sky);
    cairo_fill(cr);
    cairo_pattern_destroy(sky);
    Circle(cr, 190, 36, 16, 0xFFFFD166);
    cairo_move_to(cr, 0, 110);
    cairo_curve_to(cr, 50, 70, 90, 80, 130, 105);
    cairo_curve_to(cr, 170, 80, 210, 75, 240, 95);
    cairo_line_to(cr, 240, 140);
    cairo_line_to(cr, 0, 140);
    cairo_close_path(cr);
    VLSetColor(cr, 0xFF52B788);
    cairo_fill(cr);
    cairo_move_to(cr, 0, 125);
    cairo_curve_to(cr, 60, 105, 140, 120, 240, 115);
    cairo_line_to(cr, 240, 140);
    cairo_line_to(cr, 0, 140);
    cairo_close_path(cr);
    VLSetColor(cr, 0xFF2D6A4F);
    cairo_fill(cr);
});

}  // namespace
