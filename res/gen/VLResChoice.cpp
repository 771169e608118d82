// Marks of the choice and colouring questions: the radio strip of single
// choice and true/false (202), the check-box strip of multiple choice (1050),
// each five 15 x 15 cells (normal, hot, selected, disabled, selected and
// disabled), and the check mark on a chosen colour swatch (1058, 18 x 18).
#include "VLResDraw.h"

namespace {

using namespace VLPalette;

enum Cell { kNormal, kHot, kSelected, kDisabled, kSelectedDisabled };

void Radio(cairo_t* cr, Cell cell) {
    const double c = 7.5;
    uint32_t fill = kWhite, ring = kGrey, dot = 0;
    double ringWidth = 1.3;
    switch (cell) {
        case kNormal:
            break;
        case kHot:
            fill = kGreenTint;
            ring = kGreen;
            break;
        case kSelected:
            ring = kGreen;
            dot = kGreen;
            ringWidth = 1.6;
            break;
        case kDisabled:
            fill = kGreyTint;
            ring = kGreyLight;
            break;
        case kSelectedDisabled:
            fill = kGreyTint;
            ring = kGrey;
            dot = kGrey;
            ringWidth = 1.6;
            break;
    }
    VLCircle(cr, c, c, 6.9, fill);
    cairo_new_path(cr);
    cairo_arc(cr, c, c, 7.0 - ringWidth / 2, 0, 2 * M_PI);
    VLStroke(cr, ring, ringWidth);
    if (dot)
        VLCircle(cr, c, c, 3.6, dot);
}

void Check(cairo_t* cr, Cell cell) {
    uint32_t fill = kWhite, border = kGrey;
    bool mark = false;
    switch (cell) {
        case kNormal:
            break;
        case kHot:
            fill = kGreenTint;
            border = kGreen;
            break;
        case kSelected:
            fill = border = kGreen;
            mark = true;
            break;
        case kDisabled:
            fill = kGreyTint;
            border = kGreyLight;
            break;
        case kSelectedDisabled:
            fill = border = kGrey;
            mark = true;
            break;
    }
    VLFillRoundRect(cr, 0.5, 0.5, 14, 14, 3.2, fill);
    VLRoundRect(cr, 1.15, 1.15, 12.7, 12.7, 2.6);
    VLStroke(cr, border, 1.3);
    if (mark)
        VLGlyphCheck(cr, 0, 0, 15, kWhite, 15);
}

VLResRegistrar radio(202, 75, 15, [](cairo_t* cr) {
    for (int i = 0; i < 5; ++i) {
        cairo_save(cr);
        cairo_translate(cr, i * 15, 0);
        Radio(cr, static_cast<Cell>(i));
        cairo_restore(cr);
    }
});

VLResRegistrar check(1050, 75, 15, [](cairo_t* cr) {
    for (int i = 0; i < 5; ++i) {
        cairo_save(cr);
        cairo_translate(cr, i * 15, 0);
        Check(cr, static_cast<Cell>(i));
        cairo_restore(cr);
    }
});

// Sits in the lower right corner of a swatch of any colour, so it carries a
// white rim and a soft shadow that set it off from light and dark swatches alike.
VLResRegistrar swatchCheck(1058, 18, 18, [](cairo_t* cr) {
    VLShadow(
        cr, [](cairo_t* c) { cairo_arc(c, 9, 9, 7.6, 0, 2 * M_PI); }, 2, 0, 0.6, 0x66000000);
    VLCircle(cr, 9, 9, 8.2, kWhite);
    VLCircle(cr, 9, 9, 6.8, kGreen);
    VLGlyphCheck(cr, 2.5, 2.8, 13, kWhite, 15);
});

}  // namespace
