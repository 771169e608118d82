// Pieces the question elements share: the frame round a matching item (1051,
// nine-grid corner 5), the connection point (1052, 28 x 29), the panel behind
// the matching and ordering work (1053, nine-grid corner 5) and the faces of
// the small "撤消" / "重置" buttons (2002: four 58 x 24 states stacked,
// normal, hot, pushed, disabled; the toolkit writes white text on them).
#include "VLResDraw.h"

namespace {

using namespace VLPalette;

// A nine-grid picture with corner 5 keeps its outer 5 pixels and stretches the
// rest, so everything inside that band must be plain.
VLResRegistrar itemFrame(1051, 40, 40, [](cairo_t* cr) {
    VLFillRoundRect(cr, 0, 0, 40, 40, 5, kWhite);
    VLRoundRect(cr, 0.5, 0.5, 39, 39, 4.5);
    VLStroke(cr, kBorder, 1);
});

VLResRegistrar point(1052, 28, 29, [](cairo_t* cr) {
    const double cx = 14, cy = 14;
    VLShadow(
        cr, [=](cairo_t* c) { cairo_arc(c, cx, cy, 11, 0, 2 * M_PI); }, 3, 0, 1, 0x40000000);
    VLCircle(cr, cx, cy, 12, kWhite);
    cairo_new_path(cr);
    cairo_arc(cr, cx, cy, 11, 0, 2 * M_PI);
    VLStroke(cr, kBlue, 2);
    cairo_new_path(cr);
    cairo_arc(cr, cx, cy, 7, 0, 2 * M_PI);
    VLFillRadial(cr, cx - 2, cy - 2, 8, 0xFF6CC0EE, kBlueDeep);
    VLCircle(cr, cx - 2.2, cy - 2.4, 1.8, 0x99FFFFFF);
});

VLResRegistrar panel(1053, 40, 40, [](cairo_t* cr) {
    VLFillRoundRect(cr, 0, 0, 40, 40, 5, 0xFFF5FBF7);
    VLRoundRect(cr, 0.5, 0.5, 39, 39, 4.5);
    VLStroke(cr, kBorder, 1);
});

// Corner radius 4 keeps the rounding (with its anti-aliased edge) inside the
// 5-pixel band the nine-grid preserves.
void ButtonFace(cairo_t* cr, double y, uint32_t top, uint32_t bottom, uint32_t edge, bool pushed) {
    VLRoundRect(cr, 0.5, y + 0.5, 57, 23, 4);
    VLFillVertical(cr, y, y + 24, top, bottom);
    if (!pushed) {
        // A faint highlight along the top edge gives the face a little lift.
        cairo_save(cr);
        VLRoundRect(cr, 0.5, y + 0.5, 57, 23, 4);
        cairo_clip(cr);
        cairo_rectangle(cr, 0, y + 1, 58, 1);
        VLSetColor(cr, 0x40FFFFFF);
        cairo_fill(cr);
        cairo_restore(cr);
    }
    VLRoundRect(cr, 0.5, y + 0.5, 57, 23, 4);
    VLStroke(cr, edge, 1);
}

VLResRegistrar smallButtons(2002, 58, 96, [](cairo_t* cr) {
    ButtonFace(cr, 0, 0xFF52B5EC, 0xFF3A9EDD, 0xFF2F90D0, false);
    ButtonFace(cr, 24, 0xFF6CC3F2, 0xFF4BAEE8, 0xFF3A9EDD, false);
    ButtonFace(cr, 48, 0xFF2E8CCB, 0xFF3296D6, 0xFF2679B3, true);
    ButtonFace(cr, 72, 0xFFCBD3D9, 0xFFC2CAD1, 0xFFB4BDC5, false);
});

}  // namespace
