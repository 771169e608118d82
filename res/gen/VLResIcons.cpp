// Icons of the main window: the application icon (100, 64 x 64) and the
// title-bar logo (1029, 36 x 36), the page header icons (1018 examinee tips,
// 1020 choosing the performance method and notices, 1021 question, 1045
// answer sheet; 32 x 32), the title-bar buttons (1030 information, 1031
// headset repair, 1032 network settings; normal and hot cells of 24 x 24 for a
// light title bar), the volume icons (1033 speaker, 1034 microphone; normal
// and muted cells of 20 x 20).
#include "VLResDraw.h"

namespace {

using namespace VLPalette;

// The program's mark in a 64 x 64 design box: a note and a paint palette on a
// green tile.
void AppMark(cairo_t* cr, double size) {
    cairo_save(cr);
    cairo_scale(cr, size / 64, size / 64);
    VLShadow(
        cr, [](cairo_t* c) { VLRoundRect(c, 3, 3, 58, 58, 14); }, 3, 0, size / 64, 0x40000000);
    VLRoundRect(cr, 3, 2, 58, 58, 14);
    VLFillVertical(cr, 2, 60, 0xFF54C083, 0xFF2A9659);
    VLRoundRect(cr, 4, 3, 56, 27, 13);
    VLFillVertical(cr, 3, 30, 0x30FFFFFF, 0x00FFFFFF);
    VLGlyphNote(cr, 7, 7, 40, kWhite);
    VLShadow(
        cr, [](cairo_t* c) { VLGlyphPalette(c, 31, 31, 27, 0xFF000000, false); }, 2, 0, 1, 0x40000000);
    VLGlyphPalette(cr, 31, 31, 27, kWarm, true);
    cairo_restore(cr);
}

VLResRegistrar appIcon(100, 64, 64, [](cairo_t* cr) { AppMark(cr, 64); });
VLResRegistrar logo(1029, 36, 36, [](cairo_t* cr) { AppMark(cr, 36); });

// Header icons: a white glyph on a green disc.
void HeaderDisc(cairo_t* cr) {
    cairo_new_path(cr);
    cairo_arc(cr, 16, 16, 15, 0, 2 * M_PI);
    VLFillVertical(cr, 1, 31, 0xFF52BD80, 0xFF2E9A5C);
}

VLResRegistrar tipsIcon(1018, 32, 32, [](cairo_t* cr) {
    HeaderDisc(cr);
    VLFillRoundRect(cr, 9.5, 8, 13, 17, 2, kWhite);
    VLFillRoundRect(cr, 12.5, 6, 7, 4, 1.5, 0xFFD7F0E0);
    for (int i = 0; i < 3; ++i) {
        double y = 13.2 + i * 3.9;
        cairo_move_to(cr, 11.6, y);
        cairo_line_to(cr, 12.7, y + 1.1);
        cairo_line_to(cr, 14.4, y - 0.9);
        VLStroke(cr, kGreen, 1.2);
        cairo_move_to(cr, 16, y);
        cairo_line_to(cr, 20.3, y);
        VLStroke(cr, kGreenLight, 1.3);
    }
});

VLResRegistrar bulbIcon(1020, 32, 32, [](cairo_t* cr) {
    HeaderDisc(cr);
    cairo_new_path(cr);
    cairo_move_to(cr, 13.4, 20);
    cairo_curve_to(cr, 13.2, 17.6, 10, 16.2, 10, 12.8);
    cairo_arc(cr, 16, 12.8, 6, M_PI, 2 * M_PI);
    cairo_curve_to(cr, 22, 16.2, 18.8, 17.6, 18.6, 20);
    cairo_close_path(cr);
    VLSetColor(cr, kWhite);
    cairo_fill(cr);
    VLFillRoundRect(cr, 13.3, 21, 5.4, 1.8, 0.9, kWhite);
    VLFillRoundRect(cr, 14, 23.6, 4, 1.8, 0.9, kWhite);
    cairo_move_to(cr, 14.3, 11.2);
    cairo_curve_to(cr, 14.3, 10, 15, 9.2, 16.2, 9);
    VLStroke(cr, kGreenLight, 1.2);
});

VLResRegistrar questionIcon(1021, 32, 32, [](cairo_t* cr) {
    HeaderDisc(cr);
    VLGlyphDocument(cr, 5, 5.5, 20, kWhite, kGreenLight);
    // A pencil writing across the lower right.
    cairo_save(cr);
    cairo_translate(cr, 21.5, 19);
    cairo_rotate(cr, M_PI / 4);
    VLFillRoundRect(cr, -2, -8, 4, 10, 0.8, kWarm);
    cairo_move_to(cr, -2, 2);
    cairo_line_to(cr, 2, 2);
    cairo_line_to(cr, 0, 5.5);
    cairo_close_path(cr);
    VLSetColor(cr, 0xFFFBE7C4);
    cairo_fill(cr);
    VLFillRoundRect(cr, -2, -9.5, 4, 2, 0.8, kCoral);
    cairo_restore(cr);
});

VLResRegistrar sheetIcon(1045, 32, 32, [](cairo_t* cr) {
    HeaderDisc(cr);
    VLFillRoundRect(cr, 8, 8, 16, 16, 2.5, kWhite);
    for (int row = 0; row < 3; ++row)
        for (int col = 0; col < 3; ++col) {
            double x = 10 + col * 4.3, y = 10 + row * 4.3;
            bool answered = (row * 3 + col) % 4 != 3 && row * 3 + col < 7;
            if (answered) {
                VLFillRoundRect(cr, x, y, 3.3, 3.3, 0.8, kGreen);
            } else {
                VLRoundRect(cr, x + 0.4, y + 0.4, 2.5, 2.5, 0.6);
                VLStroke(cr, kGrey, 0.8);
            }
        }
});

// Title-bar buttons: dark grey glyphs; when hot, green glyphs on a green tint.
void TitleButton(cairo_t* cr, const std::function<void(cairo_t*, uint32_t)>& glyph) {
    glyph(cr, kTextSoft);
    cairo_save(cr);
    cairo_translate(cr, 24, 0);
    VLCircle(cr, 12, 12, 11.5, kGreenTint);
    glyph(cr, kGreen);
    cairo_restore(cr);
}

VLResRegistrar infoButton(1030, 48, 24, [](cairo_t* cr) {
    TitleButton(cr, [](cairo_t* c, uint32_t color) {
        cairo_new_path(c);
        cairo_arc(c, 12, 12, 7.6, 0, 2 * M_PI);
        VLStroke(c, color, 1.6);
        VLCircle(c, 12, 8.4, 1.25, color);
        cairo_move_to(c, 12, 11.2);
        cairo_line_to(c, 12, 16);
        VLStroke(c, color, 2);
    });
});

VLResRegistrar repairButton(1031, 48, 24, [](cairo_t* cr) {
    TitleButton(cr, [](cairo_t* c, uint32_t color) {
        // Headphones with a wrench over the lower right, cut free of each other.
        cairo_push_group(c);
        VLGlyphHeadphones(c, 1.5, 1.5, 17, color, color);
        cairo_set_operator(c, CAIRO_OPERATOR_CLEAR);
        cairo_save(c);
        cairo_translate(c, 16.5, 16.5);
        cairo_rotate(c, M_PI / 4);
        VLFillRoundRect(c, -3.6, -8.6, 7.2, 17.2, 3.6, 0xFF000000);
        cairo_restore(c);
        cairo_pop_group_to_source(c);
        cairo_paint(c);
        cairo_save(c);
        cairo_translate(c, 16.5, 16.5);
        cairo_rotate(c, M_PI / 4);
        // Handle below, open jaw on top.
        VLFillRoundRect(c, -1.2, -1, 2.4, 8, 1.2, color);
        cairo_push_group(c);
        VLCircle(c, 0, -3.4, 3.6, color);
        cairo_set_operator(c, CAIRO_OPERATOR_CLEAR);
        cairo_rectangle(c, -1.3, -7.5, 2.6, 4.3);
        cairo_fill(c);
        cairo_pop_group_to_source(c);
        cairo_paint(c);
        cairo_restore(c);
    });
});

// A small gear with a hole through which the background shows.
void Gear(cairo_t* cr, double cx, double cy, double r, uint32_t color) {
    cairo_new_path(cr);
    for (int i = 0; i < 16; ++i) {
        double a = i * M_PI / 8;
        double rr = (i / 2) % 2 ? r * 0.74 : r;
        double x = cx + rr * std::cos(a), y = cy + rr * std::sin(a);
        if (i == 0)
            cairo_move_to(cr, x, y);
        else
            cairo_line_to(cr, x, y);
    }
    cairo_close_path(cr);
    cairo_new_sub_path(cr);
    cairo_arc_negative(cr, cx, cy, r * 0.36, 0, -2 * M_PI);
    VLSetColor(cr, color);
    cairo_fill(cr);
}

VLResRegistrar networkButton(1032, 48, 24, [](cairo_t* cr) {
    TitleButton(cr, [](cairo_t* c, uint32_t color) {
        // The globe is drawn apart so that a ring round the gear can be cut out of it.
        cairo_push_group(c);
        cairo_new_path(c);
        cairo_arc(c, 10.5, 10.5, 6.8, 0, 2 * M_PI);
        cairo_move_to(c, 3.7, 10.5);
        cairo_line_to(c, 17.3, 10.5);
        VLStroke(c, color, 1.4);
        cairo_save(c);
        cairo_translate(c, 10.5, 10.5);
        cairo_scale(c, 3, 6.8);
        cairo_new_path(c);
        cairo_arc(c, 0, 0, 1, 0, 2 * M_PI);
        cairo_restore(c);
        VLStroke(c, color, 1.4);
        cairo_set_operator(c, CAIRO_OPERATOR_CLEAR);
        VLCircle(c, 17.5, 17.5, 6, 0xFF000000);
        cairo_pop_group_to_source(c);
        cairo_paint(c);
        Gear(c, 17.5, 17.5, 4.8, color);
    });
});

void Muted(cairo_t* cr, double x) {
    cairo_move_to(cr, x + 12.5, 7.5);
    cairo_line_to(cr, x + 18, 13);
    cairo_move_to(cr, x + 18, 7.5);
    cairo_line_to(cr, x + 12.5, 13);
    VLStroke(cr, kCoral, 1.8);
}

VLResRegistrar speaker(1033, 40, 20, [](cairo_t* cr) {
    VLGlyphSpeaker(cr, 1, 0, 20, kTextSoft, 2);
    VLGlyphSpeaker(cr, 19, 0, 20, kGrey, 0);
    Muted(cr, 19);
});

VLResRegistrar microphone(1034, 40, 20, [](cairo_t* cr) {
    VLGlyphMicrophone(cr, 1, 1, 18, kTextSoft, 9);
    VLGlyphMicrophone(cr, 21, 1, 18, kGrey, 9);
    cairo_save(cr);
    cairo_set_operator(cr, CAIRO_OPERATOR_CLEAR);
    cairo_move_to(cr, 24, 3);
    cairo_line_to(cr, 37, 17);
    VLStroke(cr, kWhite, 3.6);
    cairo_restore(cr);
    cairo_move_to(cr, 24, 3);
    cairo_line_to(cr, 37, 17);
    VLStroke(cr, kCoral, 1.8);
});

}  // namespace
