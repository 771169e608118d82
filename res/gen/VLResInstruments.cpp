// The performance methods a paper can offer (1028): six 64 x 64 icons in one
// row, in this order: singing, harmonica, recorder, ocarina, hulusi, melodica.
#include "VLResDraw.h"

namespace {

using namespace VLPalette;

constexpr uint32_t kSilverLight = 0xFFF1F4F6;
constexpr uint32_t kSilver = 0xFFB7C1CA;
constexpr uint32_t kHole = 0xFF5A3B22;

void Singing(cairo_t* cr) {
    cairo_save(cr);
    cairo_translate(cr, 30, 33);
    cairo_rotate(cr, M_PI / 5);
    // Handle, then the grille ball on top of it.
    cairo_move_to(cr, -5.5, 2);
    cairo_line_to(cr, 5.5, 2);
    cairo_line_to(cr, 3.5, 28);
    cairo_curve_to(cr, 3.5, 30.5, -3.5, 30.5, -3.5, 28);
    cairo_close_path(cr);
    VLFillVertical(cr, 2, 30, 0xFF56616C, 0xFF2F363D);
    VLFillRoundRect(cr, -6.5, 1, 13, 4, 2, kGreen);
    cairo_new_path(cr);
    cairo_arc(cr, 0, -9, 12, 0, 2 * M_PI);
    VLFillRadial(cr, -4, -13, 17, kSilverLight, 0xFF8E9AA5);
    cairo_save(cr);
    cairo_arc(cr, 0, -9, 11.5, 0, 2 * M_PI);
    cairo_clip(cr);
    for (int i = -3; i <= 3; ++i) {
        cairo_move_to(cr, i * 4, -22);
        cairo_line_to(cr, i * 4, 4);
        cairo_move_to(cr, -13, -9 + i * 4);
        cairo_line_to(cr, 13, -9 + i * 4);
    }
    VLSetColor(cr, 0x66707C87);
    cairo_set_line_width(cr, 0.8);
    cairo_stroke(cr);
    cairo_restore(cr);
    cairo_restore(cr);
    VLGlyphNote(cr, 42, 30, 18, kBlue);
    VLGlyphNote(cr, 6, 38, 13, kWarmDeep);
}

void Harmonica(cairo_t* cr) {
    cairo_save(cr);
    cairo_translate(cr, 32, 33);
    cairo_rotate(cr, -0.2);
    VLShadow(
        cr, [](cairo_t* c) { VLRoundRect(c, -27, -11, 54, 22, 3); }, 4, 0, 2, 0x33000000);
    VLRoundRect(cr, -27, -4, 54, 8, 1);
    VLSetColor(cr, kBlue);
    cairo_fill(cr);
    for (int i = 0; i < 8; ++i)
        VLFillRoundRect(cr, -24 + i * 6.3, -2.2, 3.6, 4.4, 0.8, 0xFF1D5E85);
    for (int side = -1; side <= 1; side += 2) {
        double y = side < 0 ? -11 : 4;
        VLRoundRect(cr, -28, y, 56, 7, 2.5);
        VLFillVertical(cr, y, y + 7, side < 0 ? kSilverLight : kSilver, side < 0 ? kSilver : 0xFF8E9AA5);
        cairo_move_to(cr, -24, y + (side < 0 ? 2 : 5));
        cairo_line_to(cr, 24, y + (side < 0 ? 2 : 5));
        VLStroke(cr, side < 0 ? 0xB3FFFFFF : 0x33FFFFFF, 1);
    }
    cairo_restore(cr);
}

void Recorder(cairo_t* cr) {
    cairo_save(cr);
    cairo_translate(cr, 32, 32);
    cairo_rotate(cr, -M_PI / 4.4);
    // Drawn upright from the beak (y = -31) to the bell (y = 31), then turned.
    auto body = [](cairo_t* c) {
        cairo_new_path(c);
        cairo_move_to(c, -3, -31);
        cairo_line_to(c, 3, -31);
        cairo_curve_to(c, 4.5, -27, 5, -24, 5, -20);
        cairo_line_to(c, 4, 22);
        cairo_curve_to(c, 4, 26, 6, 29, 6.5, 31);
        cairo_line_to(c, -6.5, 31);
        cairo_curve_to(c, -6, 29, -4, 26, -4, 22);
        cairo_line_to(c, -5, -20);
        cairo_curve_to(c, -5, -24, -4.5, -27, -3, -31);
        cairo_close_path(c);
    };
    VLShadow(cr, body, 3, 1.5, 1.5, 0x33000000);
    body(cr);
    cairo_pattern_t* p = cairo_pattern_create_linear(-6, 0, 6, 0);
    cairo_pattern_add_color_stop_rgb(p, 0, 0.93, 0.84, 0.68);
    cairo_pattern_add_color_stop_rgb(p, 0.4, 0.99, 0.95, 0.86);
    cairo_pattern_add_color_stop_rgb(p, 1, 0.85, 0.72, 0.52);
    cairo_set_source(cr, p);
    cairo_fill(cr);
    cairo_pattern_destroy(p);
    // Beak in wood brown, the window below it, joints and finger holes.
    cairo_save(cr);
    body(cr);
    cairo_clip(cr);
    cairo_rectangle(cr, -8, -32, 16, 11);
    VLSetColor(cr, 0xFFB7804E);
    cairo_fill(cr);
    cairo_rectangle(cr, -8, 18, 16, 3);
    VLSetColor(cr, 0xFFB7804E);
    cairo_fill(cr);
    cairo_restore(cr);
    VLFillRoundRect(cr, -2.5, -18.5, 5, 3.2, 0.8, 0xFF4A3120);
    for (int i = 0; i < 7; ++i)
        VLCircle(cr, 0, -10 + i * 4, i == 6 ? 1.2 : 1.45, kHole);
    cairo_restore(cr);
}

void Ocarina(cairo_t* cr) {
    cairo_save(cr);
    cairo_translate(cr, 34, 34);
    cairo_rotate(cr, -0.18);
    auto shape = [](cairo_t* c) {
        cairo_new_path(c);
        cairo_move_to(c, -22, -4);
        cairo_curve_to(c, -20, -16, 4, -19, 16, -12);
        cairo_curve_to(c, 26, -6, 26, 8, 16, 13);
        cairo_curve_to(c, 2, 19, -20, 14, -22, 4);
        cairo_close_path(c);
        // The mouthpiece sticks out to the left.
        VLRoundRect(c, -31, -4.5, 12, 8, 2.5);
    };
    VLShadow(cr, shape, 4, 1, 2, 0x38000000);
    shape(cr);
    VLFillRadial(cr, -4, -10, 34, 0xFFF1B488, 0xFFC0683A);
    cairo_move_to(cr, -10, -11);
    cairo_curve_to(cr, -2, -14, 8, -13, 14, -9);
    VLStroke(cr, 0x66FFFFFF, 2);
    VLFillRoundRect(cr, -19, -2.5, 4, 4, 1, 0xFF6B3418);
    const double holes[6][2] = {{-8, -4}, {-1, -6}, {6, -6}, {12, -2}, {-4, 5}, {7, 6}};
    for (const auto& h : holes)
        VLCircle(cr, h[0], h[1], 1.9, 0xFF5A2A12);
    cairo_restore(cr);
}

void Hulusi(cairo_t* cr) {
    const uint32_t bamboo = 0xFFE9CF8E, bambooDeep = 0xFFC9A45E;
    // Three pipes: the long middle one with finger holes, and two drone pipes.
    for (double x : {23.0, 41.0}) {
        VLRoundRect(cr, x - 2.5, 34, 5, 22, 2);
        VLFillVertical(cr, 34, 56, bamboo, bambooDeep);
    }
    VLRoundRect(cr, 28, 30, 8, 33, 2.5);
    cairo_pattern_t* p = cairo_pattern_create_linear(28, 0, 36, 0);
    cairo_pattern_add_color_stop_rgb(p, 0, 0.82, 0.67, 0.38);
    cairo_pattern_add_color_stop_rgb(p, 0.45, 0.96, 0.86, 0.6);
    cairo_pattern_add_color_stop_rgb(p, 1, 0.78, 0.62, 0.34);
    cairo_set_source(cr, p);
    cairo_fill(cr);
    cairo_pattern_destroy(p);
    for (double y : {44.0, 58.0}) {
        cairo_move_to(cr, 28.5, y);
        cairo_line_to(cr, 35.5, y);
    }
    VLStroke(cr, bambooDeep, 1);
    for (int i = 0; i < 4; ++i)
        VLCircle(cr, 32, 39 + i * 5, 1.3, kHole);
    // The gourd: a small bulb on a big one, with the mouthpiece on top.
    auto gourd = [](cairo_t* c) {
        cairo_new_path(c);
        cairo_arc(c, 32, 25, 12, 0, 2 * M_PI);
        cairo_new_sub_path(c);
        cairo_arc(c, 32, 11, 6.5, 0, 2 * M_PI);
        cairo_new_sub_path(c);
        VLRoundRect(c, 29.5, 1, 5, 8, 1.5);
    };
    VLShadow(cr, gourd, 3, 1, 1.5, 0x33000000);
    gourd(cr);
    VLFillRadial(cr, 27, 14, 26, 0xFFF3C27A, 0xFFB06A2A);
    cairo_move_to(cr, 23, 20);
    cairo_curve_to(cr, 24, 16, 27, 14.5, 30, 14.5);
    VLStroke(cr, 0x73FFFFFF, 2);
    VLFillRoundRect(cr, 22, 33.5, 20, 3.5, 1.5, kCoral);
}

void Melodica(cairo_t* cr) {
    cairo_save(cr);
    cairo_translate(cr, 34, 35);
    cairo_rotate(cr, -0.12);
    // Mouthpiece tube coming from the left end.
    cairo_move_to(cr, -26, -2);
    cairo_curve_to(cr, -32, -4, -32, -14, -27, -18);
    VLStroke(cr, 0xFFEFF2F4, 5);
    cairo_move_to(cr, -26, -2);
    cairo_curve_to(cr, -32, -4, -32, -14, -27, -18);
    VLStroke(cr, 0xFFCCD5DC, 1.2);
    VLFillRoundRect(cr, -29.5, -22, 6, 6, 2, 0xFF4E5A66);
    VLShadow(
        cr, [](cairo_t* c) { VLRoundRect(c, -26, -11, 54, 24, 5); }, 4, 0, 2, 0x38000000);
    VLRoundRect(cr, -26, -11, 54, 24, 5);
    VLFillVertical(cr, -11, 13, 0xFF66BDEF, 0xFF2B8CCB);
    // Keys: white ones side by side, black ones in the 2 + 3 pattern.
    const double kx = -22, ky = -8, kw = 4.6, kh = 17;
    VLFillRoundRect(cr, kx, ky, 10 * kw, kh, 1.2, kWhite);
    for (int i = 1; i < 10; ++i) {
        cairo_move_to(cr, kx + i * kw, ky + 0.5);
        cairo_line_to(cr, kx + i * kw, ky + kh - 0.5);
    }
    VLSetColor(cr, 0xFFB4BEC7);
    cairo_set_line_width(cr, 0.8);
    cairo_stroke(cr);
    for (int i = 0; i < 9; ++i) {
        int inOctave = i % 7;
        if (inOctave == 2 || inOctave == 6)
            continue;
        VLFillRoundRect(cr, kx + (i + 1) * kw - 1.5, ky, 3, kh * 0.58, 0.6, 0xFF2F363D);
    }
    cairo_restore(cr);
}

VLResRegistrar instruments(1028, 384, 64, [](cairo_t* cr) {
    void (*const draw[6])(cairo_t*) = {Singing, Harmonica, Recorder, Ocarina, Hulusi, Melodica};
    for (int i = 0; i < 6; ++i) {
        cairo_save(cr);
        cairo_translate(cr, i * 64, 0);
        cairo_rectangle(cr, 0, 0, 64, 64);
        cairo_clip(cr);
        draw[i](cr);
        cairo_restore(cr);
    }
});

}  // namespace
