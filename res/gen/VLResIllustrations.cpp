// Illustrations of the main window's pages: the default student photo (1019,
// 120 x 150), the headphone test (1022, 160 x 120), the passed device check
// (1023, 160 x 120), the paper download failure (1024, 96 x 96), the finished
// exam (1025, 200 x 140) and the submission failure (1026, 96 x 96).
#include "VLResDraw.h"

namespace {

using namespace VLPalette;

VLResRegistrar photo(1019, 120, 150, [](cairo_t* cr) {
    cairo_rectangle(cr, 0, 0, 120, 150);
    VLFillVertical(cr, 0, 150, 0xFFF0F4F6, 0xFFDCE4E9);
    auto person = [](cairo_t* c) {
        cairo_new_path(c);
        cairo_arc(c, 60, 60, 23, 0, 2 * M_PI);
        cairo_new_sub_path(c);
        cairo_move_to(c, 14, 150);
        cairo_curve_to(c, 14, 112, 34, 96, 60, 96);
        cairo_curve_to(c, 86, 96, 106, 112, 106, 150);
        cairo_close_path(c);
    };
    VLShadow(cr, person, 6, 0, 2, 0x1A000000);
    person(cr);
    VLFillVertical(cr, 37, 150, 0xFFC3CDD4, 0xFFAEBAC3);
});

// A pale disc behind an illustration holds it together on any page colour.
void Backdrop(cairo_t* cr, double cx, double cy, double r, uint32_t tint) {
    cairo_new_path(cr);
    cairo_arc(cr, cx, cy, r, 0, 2 * M_PI);
    VLFillRadial(cr, cx, cy - r * 0.3, r * 1.3, VLMix(tint, kWhite, 0.3), tint);
}

void SoundWaves(cairo_t* cr, double cx, double cy, double r0, bool right, uint32_t color) {
    for (int i = 0; i < 2; ++i) {
        cairo_new_path(cr);
        double a = right ? 0 : M_PI;
        cairo_arc(cr, cx, cy, r0 + i * 9, a - 0.5, a + 0.5);
        VLStroke(cr, VLFade(color, 1 - 0.35 * i), 3.5);
    }
}

void Headset(cairo_t* cr, double x, double y, double size, bool boom) {
    VLShadow(
        cr, [=](cairo_t* c) { VLGlyphHeadphones(c, x, y, size, 0xFF000000, 0xFF000000); }, 5, 0, 3,
        0x26000000);
    VLGlyphHeadphones(cr, x, y, size, kGreen, kBlue);
    double k = size / 100;
    // Soft highlights on the cups.
    VLFillRoundRect(cr, x + 10 * k, y + 53 * k, 5 * k, 16 * k, 2.5 * k, 0x59FFFFFF);
    VLFillRoundRect(cr, x + 76 * k, y + 53 * k, 5 * k, 16 * k, 2.5 * k, 0x59FFFFFF);
    if (boom) {
        cairo_move_to(cr, x + 16 * k, y + 84 * k);
        cairo_curve_to(cr, x + 18 * k, y + 104 * k, x + 34 * k, y + 110 * k, x + 50 * k, y + 108 * k);
        VLStroke(cr, kGreen, 5 * k);
        VLFillRoundRect(cr, x + 46 * k, y + 102 * k, 16 * k, 12 * k, 6 * k, kWarmDeep);
    }
}

VLResRegistrar headphones(1022, 160, 120, [](cairo_t* cr) {
    Backdrop(cr, 80, 62, 54, kGreenTint);
    Headset(cr, 40, 16, 80, false);
    SoundWaves(cr, 80, 74, 50, false, kWarmDeep);
    SoundWaves(cr, 80, 74, 50, true, kWarmDeep);
    VLGlyphNote(cr, 114, 6, 24, kBlue);
    VLGlyphBeamedNotes(cr, 22, 14, 20, VLFade(kGreen, 0.8));
});

void CheckBadge(cairo_t* cr, double cx, double cy, double r) {
    VLShadow(
        cr, [=](cairo_t* c) { cairo_arc(c, cx, cy, r, 0, 2 * M_PI); }, 5, 0, 2, 0x33000000);
    VLCircle(cr, cx, cy, r + 3, kWhite);
    cairo_new_path(cr);
    cairo_arc(cr, cx, cy, r, 0, 2 * M_PI);
    VLFillVertical(cr, cy - r, cy + r, 0xFF55C185, 0xFF2E9A5C);
    VLGlyphCheck(cr, cx - r, cy - r, 2 * r, kWhite, 12);
}

VLResRegistrar ready(1023, 160, 120, [](cairo_t* cr) {
    Backdrop(cr, 76, 62, 54, kGreenTint);
    Headset(cr, 28, 12, 78, true);
    CheckBadge(cr, 116, 82, 22);
    VLStar(cr, 130, 28, 7, 3, kWarm);
    VLStar(cr, 24, 96, 5, 2.2, kWarm);
});

// A sheet of paper with an arrow on it (down: fetching, up: handing in) and an
// amber badge with an exclamation mark: something did not go through.
void TransferFailure(cairo_t* cr, bool up) {
    Backdrop(cr, 48, 48, 44, kBlueTint);
    VLShadow(
        cr, [](cairo_t* c) { VLGlyphDocument(c, 12, 14, 64, 0xFF000000, 0xFF000000); }, 5, 0, 2, 0x2E000000);
    VLGlyphDocument(cr, 12, 14, 64, kWhite, 0xFFC9DDEA);
    double cx = 44, top = 36, bottom = 60;
    double tip = up ? top : bottom, tail = up ? bottom : top, dir = up ? 1 : -1;
    cairo_move_to(cr, cx, tail);
    cairo_line_to(cr, cx, tip + dir * 3);
    VLStroke(cr, kBlue, 5);
    cairo_move_to(cr, cx - 9, tip + dir * 9);
    cairo_line_to(cr, cx, tip);
    cairo_line_to(cr, cx + 9, tip + dir * 9);
    VLStroke(cr, kBlue, 5);
    double bx = 68, by = 68;
    VLShadow(
        cr, [=](cairo_t* c) { cairo_arc(c, bx, by, 14, 0, 2 * M_PI); }, 4, 0, 1.5, 0x33000000);
    VLCircle(cr, bx, by, 16, kWhite);
    cairo_new_path(cr);
    cairo_arc(cr, bx, by, 13.5, 0, 2 * M_PI);
    VLFillVertical(cr, by - 14, by + 14, 0xFFFFCB6B, 0xFFF29B2E);
    cairo_move_to(cr, bx, by - 7);
    cairo_line_to(cr, bx, by + 2);
    VLStroke(cr, kWhite, 3.6);
    VLCircle(cr, bx, by + 7.2, 2, kWhite);
}

VLResRegistrar downloadFailure(1024, 96, 96, [](cairo_t* cr) { TransferFailure(cr, false); });
VLResRegistrar submitFailure(1026, 96, 96, [](cairo_t* cr) { TransferFailure(cr, true); });

VLResRegistrar finished(1025, 200, 140, [](cairo_t* cr) {
    // A warm brush sweep behind a big check, with stars, notes and confetti.
    VLBrushStroke(cr, 30, 104, 70, 120, 130, 40, 178, 34, 34, VLFade(kWarm, 0.55));
    cairo_save(cr);
    cairo_scale(cr, 1, 0.22);
    VLCircle(cr, 100, 118 / 0.22, 36, 0x0E000000);
    cairo_restore(cr);
    CheckBadge(cr, 100, 66, 38);
    VLStar(cr, 42, 36, 10, 4.4, kWarm);
    VLStar(cr, 160, 100, 8, 3.5, kWarm);
    VLStar(cr, 150, 20, 5, 2.2, kWarmDeep);
    VLGlyphNote(cr, 14, 66, 28, kBlue);
    VLGlyphBeamedNotes(cr, 154, 44, 26, kGreen);
    struct Bit {
        double x, y, angle;
        uint32_t color;
        bool round;
    };
    const Bit bits[] = {{64, 18, 0.4, kCoral, false},    {82, 8, -0.3, kBlue, true},
                        {122, 12, 0.9, kGreen, false},   {136, 38, 0.2, kCoral, true},
                        {56, 58, -0.6, kWarmDeep, true}, {30, 116, 0.5, kBlue, false},
                        {146, 122, -0.8, kCoral, false}, {178, 76, 0.3, 0xFF9B7FD4, false},
                        {20, 30, 1.1, 0xFF9B7FD4, true}, {178, 132, 0.6, kGreen, true}};
    for (const Bit& b : bits) {
        cairo_save(cr);
        cairo_translate(cr, b.x, b.y);
        cairo_rotate(cr, b.angle);
        if (b.round)
            VLCircle(cr, 0, 0, 2.6, b.color);
        else
            VLFillRoundRect(cr, -4, -1.8, 8, 3.6, 1.2, b.color);
        cairo_restore(cr);
    }
});

}  // namespace
