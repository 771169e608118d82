// Pictures that show a state of the exam: the closing window's spinner (1027,
// four 96 x 104 frames side by side), the blink behind the countdown in its
// last five minutes (1300..1307, eight frames for a text about 130 x 32 that
// the toolkit writes in red) and the recording indicator (1039: idle grey dot
// at 0..16, recording red dot at 16..32).
#include "VLResDraw.h"

namespace {

using namespace VLPalette;

// Twelve dots in three comet tails of four; each frame moves the tails on by
// one dot, so four frames at 100 ms turn smoothly and loop without a jump.
void ClosingSpinner(cairo_t* cr, int frame) {
    const double cx = 48, cy = 52, radius = 30;
    for (int i = 0; i < 12; ++i) {
        double angle = (i + frame) * 2 * M_PI / 12 - M_PI / 2;
        int rank = i % 4;  // 3 is the head of a tail
        double t = rank / 3.0;
        uint32_t color = VLMix(VLFade(kGreenLight, 0.35), kGreen, t);
        VLCircle(cr, cx + std::cos(angle) * radius, cy + std::sin(angle) * radius, 3.6 + 2.6 * t, color);
    }
}

VLResRegistrar closing(1027, 384, 104, [](cairo_t* cr) {
    for (int f = 0; f < 4; ++f) {
        cairo_save(cr);
        cairo_translate(cr, f * 96, 0);
        ClosingSpinner(cr, f);
        cairo_restore(cr);
    }
});

// The glow swells over frames 0..4 and fades over 5..7; even at its faintest
// a light rose pill stays, so the red digits never sit on bare background.
void CountdownBlink(cairo_t* cr, int frame) {
    double level = std::sin(frame * M_PI / 8);
    for (int ring = 4; ring >= 1; --ring) {
        VLRoundRect(cr, 4 - ring, 4 - ring, 122 + 2 * ring, 24 + 2 * ring, 12 + ring);
        VLSetColor(cr, VLFade(0xFFFF5A5A, level * 0.12));
        cairo_fill(cr);
    }
    VLRoundRect(cr, 4, 4, 122, 24, 12);
    VLSetColor(cr, VLMix(0xFFFFF1F1, 0xFFFFDADA, level));
    cairo_fill(cr);
    VLRoundRect(cr, 4.5, 4.5, 121, 23, 11.5);
    VLStroke(cr, VLMix(0xFFF6C9C9, 0xFFF08A8A, level), 1);
}

struct BlinkFrames {
    BlinkFrames() {
        for (int f = 0; f < 8; ++f)
            VLResRegistrar(1300 + f, 130, 32, [f](cairo_t* cr) { CountdownBlink(cr, f); });
    }
} blinkFrames;

VLResRegistrar recording(1039, 32, 16, [](cairo_t* cr) {
    VLCircle(cr, 8, 8, 6, kGreyLight);
    VLCircle(cr, 8, 8, 4.2, kGrey);
    VLCircle(cr, 24, 8, 7.5, VLFade(kCoral, 0.28));
    cairo_new_path(cr);
    cairo_arc(cr, 24, 8, 5, 0, 2 * M_PI);
    VLFillRadial(cr, 22.8, 6.8, 6, 0xFFFF8A7A, 0xFFE0453A);
});

}  // namespace
