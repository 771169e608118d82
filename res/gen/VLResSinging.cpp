// The singing question: the notation switch button (1036: normal, hot and
// pushed faces of 98 x 32 stacked; the toolkit writes white text on it) and
// the three-lamp countdown before recording: its backdrop (1048, 111 x 69) and
// one lit lamp (1049, 26 x 28). The backdrop has three dark lamp sockets at
// x = 8, 42 and 76, y = 33 (26 x 28 each), i.e. the lamps sit there with an
// inset of 8 left and 33 top and 8 pixels between them; above them a small
// microphone says what the countdown is for.
#include "VLResDraw.h"

namespace {

using namespace VLPalette;

void Pill(cairo_t* cr, double y, uint32_t top, uint32_t bottom, bool pushed) {
    if (!pushed)
        VLShadow(
            cr, [y](cairo_t* c) { VLRoundRect(c, 2, y + 2, 94, 27, 13.5); }, 2, 0, 1, 0x38000000);
    VLRoundRect(cr, 1.5, y + (pushed ? 2.5 : 1.5), 95, 28, 14);
    VLFillVertical(cr, y + 1.5, y + 30, top, bottom);
    if (!pushed) {
        VLRoundRect(cr, 2.5, y + 2.5, 93, 13, 6.5);
        VLFillVertical(cr, y + 2.5, y + 15.5, 0x33FFFFFF, 0x00FFFFFF);
    }
}

VLResRegistrar notationButton(1036, 98, 96, [](cairo_t* cr) {
    Pill(cr, 0, 0xFF4DBA7C, 0xFF2F9D5E, false);
    Pill(cr, 32, 0xFF5FC78C, 0xFF3AAA69, false);
    Pill(cr, 64, 0xFF2A8E53, 0xFF26934E, true);
});

constexpr double kLampX[3] = {8, 42, 76};
constexpr double kLampY = 33;

void Lamp(cairo_t* cr, double x, double y, bool lit) {
    const double cx = x + 13, cy = y + 14;
    if (lit) {
        cairo_new_path(cr);
        cairo_arc(cr, cx, cy, 13, 0, 2 * M_PI);
        VLFillRadial(cr, cx, cy, 13, 0x99FFD36B, 0x00FFD36B);
        cairo_new_path(cr);
        cairo_arc(cr, cx, cy, 10, 0, 2 * M_PI);
        VLFillRadial(cr, cx - 3, cy - 3.5, 13, 0xFFFFF3C9, kWarmDeep);
        cairo_new_path(cr);
        cairo_arc(cr, cx, cy, 10, 0, 2 * M_PI);
        VLStroke(cr, 0xFFE8962C, 1);
        VLCircle(cr, cx - 3.5, cy - 4, 2.6, 0xCCFFFFFF);
    } else {
        cairo_new_path(cr);
        cairo_arc(cr, cx, cy, 10, 0, 2 * M_PI);
        VLFillRadial(cr, cx, cy + 2, 11, 0xFFE4E9E5, 0xFFCBD4CE);
        cairo_new_path(cr);
        cairo_arc(cr, cx, cy, 10, 0, 2 * M_PI);
        VLStroke(cr, 0xFFB9C4BD, 1);
    }
}

VLResRegistrar tipsBackdrop(1048, 111, 69, [](cairo_t* cr) {
    VLShadow(
        cr, [](cairo_t* c) { VLRoundRect(c, 2, 2, 107, 64, 11); }, 3, 0, 1, 0x30000000);
    VLRoundRect(cr, 1.5, 1.5, 108, 64, 11);
    VLFillVertical(cr, 1.5, 65.5, 0xFFFFFFFF, kGreenTint);
    VLRoundRect(cr, 1.5, 1.5, 108, 64, 11);
    VLStroke(cr, kBorder, 1);
    VLGlyphMicrophone(cr, 43.5, 5, 24, kGreen, 8);
    for (int side = -1; side <= 1; side += 2)
        for (int i = 0; i < 2; ++i) {
            cairo_new_path(cr);
            double a = side < 0 ? M_PI : 0;
            cairo_arc(cr, 55.5, 13, 11 + i * 5, a - 0.55, a + 0.55);
            VLStroke(cr, VLFade(kWarmDeep, 1 - 0.4 * i), 1.6);
        }
    for (double x : kLampX)
        Lamp(cr, x, kLampY, false);
});

VLResRegistrar tipsLamp(1049, 26, 28, [](cairo_t* cr) { Lamp(cr, 0, 0, true); });

}  // namespace
