// The rhythm track. 1041 is the control's background (nine-grid corner
// 10,0,10,0, drawn 155 high like the control) and 1100 the frame placed where
// the 684 x 155 track runs (corner 0,0,200,0: the right 200 pixels keep the
// hit zone, the left part stretches). On the track a note's right edge reaches
// x = 598 at its time, so the hit zone is centred at x = 579.5, y = 81 (notes
// are 37 x 38 at y = 62); in 1100 that is x = 155.5 from the left.
//
// Sprites: 1124 a note (37 x 38), 1125 a long-note bar (51 x 37; plain in the
// middle, so it stretches sideways; best drawn as nine-grid 18,0,18,0).
//
// Feedback animations, every frame 90 x 90 and meant to be centred on the hit
// zone, i.e. at (534, 36) on the track:
//   hit:  1101..1108, eight frames played once;
//   hold: ten frames, each 1126 (a steady glow) under 1109..1118, repeated;
//   miss: 1119..1123, five frames played once.
#include "VLResDraw.h"

namespace {

using namespace VLPalette;

constexpr uint32_t kTrack = 0xFFA3C18D;  // the colour the track is cleared to
constexpr uint32_t kTrackDeep = 0xFF86A872;
constexpr uint32_t kTrackEdge = 0xFF7A9D66;
constexpr uint32_t kLane = 0xFFB3CE9F;
constexpr double kHitX = 155.5, kHitY = 81;  // in 1100

VLResRegistrar trackBackground(1041, 40, 155, [](cairo_t* cr) {
    VLRoundRect(cr, 0, 0, 40, 155, 10);
    VLFillVertical(cr, 0, 155, kTrackDeep, kTrackEdge);
    VLRoundRect(cr, 3, 3, 34, 149, 7);
    VLSetColor(cr, kTrack);
    cairo_fill(cr);
});

VLResRegistrar trackFrame(1100, 260, 155, [](cairo_t* cr) {
    // The border of 1041 runs on along the top and bottom so that the frame
    // joins the background without a step.
    cairo_rectangle(cr, 0, 0, 260, 155);
    VLFillVertical(cr, 0, 155, kTrackDeep, kTrackEdge);
    cairo_rectangle(cr, 0, 3, 260, 149);
    VLSetColor(cr, kTrack);
    cairo_fill(cr);
    // The lane the notes travel along, with thin guide lines.
    cairo_rectangle(cr, 0, 56, 260, 50);
    VLSetColor(cr, kLane);
    cairo_fill(cr);
    for (double y : {56.5, 105.5}) {
        cairo_move_to(cr, 0, y);
        cairo_line_to(cr, 260, y);
    }
    VLSetColor(cr, 0x66FFFFFF);
    cairo_set_line_width(cr, 1);
    cairo_stroke(cr);
    // The hit zone: a glowing ring the notes slide into.
    cairo_new_path(cr);
    cairo_arc(cr, kHitX, kHitY, 34, 0, 2 * M_PI);
    VLFillRadial(cr, kHitX, kHitY, 34, 0x80FFFFFF, 0x00FFFFFF);
    cairo_new_path(cr);
    cairo_arc(cr, kHitX, kHitY, 23, 0, 2 * M_PI);
    VLStroke(cr, 0xE6FFFFFF, 3);
    cairo_new_path(cr);
    cairo_arc(cr, kHitX, kHitY, 17, 0, 2 * M_PI);
    VLStroke(cr, 0x80FFFFFF, 1.5);
    // A space-bar key beside it says which key to tap.
    VLShadow(
        cr, [](cairo_t* c) { VLRoundRect(c, 192, 70, 56, 20, 6); }, 3, 0, 1.5, 0x40000000);
    VLRoundRect(cr, 192, 70, 56, 20, 6);
    VLFillVertical(cr, 70, 90, 0xFFFFFFFF, 0xFFE9EEE6);
    VLRoundRect(cr, 192.5, 70.5, 55, 19, 5.5);
    VLStroke(cr, kTrackEdge, 1);
    cairo_move_to(cr, 206, 82);
    cairo_line_to(cr, 206, 85);
    cairo_line_to(cr, 234, 85);
    cairo_line_to(cr, 234, 82);
    VLStroke(cr, kTrackEdge, 1.6);
});

VLResRegistrar note(1124, 37, 38, [](cairo_t* cr) {
    const double cx = 18.5, cy = 18.5;
    VLShadow(
        cr, [=](cairo_t* c) { cairo_arc(c, cx, cy, 16, 0, 2 * M_PI); }, 3, 0, 1.2, 0x55000000);
    VLCircle(cr, cx, cy, 17, kWhite);
    cairo_new_path(cr);
    cairo_arc(cr, cx, cy, 15, 0, 2 * M_PI);
    VLFillRadial(cr, cx - 4, cy - 5, 20, 0xFFFFD98C, kWarmDeep);
    VLGlyphNote(cr, 8, 7.5, 22, kWhite);
});

VLResRegistrar longNote(1125, 51, 37, [](cairo_t* cr) {
    VLRoundRect(cr, 0.5, 1.5, 50, 34, 17);
    VLSetColor(cr, kWhite);
    cairo_fill(cr);
    VLRoundRect(cr, 2.5, 3.5, 46, 30, 15);
    VLFillVertical(cr, 3.5, 33.5, 0xFFFFD98C, kWarmDeep);
    cairo_rectangle(cr, 17, 16.5, 17, 4);
    cairo_move_to(cr, 10, 18.5);
    cairo_line_to(cr, 41, 18.5);
    VLStroke(cr, 0xB3FFFFFF, 3);
});

constexpr double kC = 45;  // centre of a feedback frame

// Hit: a bright flash, a ring that widens and fades, and sparkles flying out.
void HitFrame(cairo_t* cr, int frame) {
    // The last frame still shows the fading ring: the animation ends, it does not blink out early.
    double p = frame / 8.0;
    if (p < 0.5) {
        cairo_new_path(cr);
        cairo_arc(cr, kC, kC, 20 * (1 - p), 0, 2 * M_PI);
        VLFillRadial(cr, kC, kC, 20 * (1 - p) + 0.1, VLFade(0xFFFFFFFF, 1 - 2 * p), VLFade(kWarm, 0));
    }
    cairo_new_path(cr);
    cairo_arc(cr, kC, kC, 16 + 24 * p, 0, 2 * M_PI);
    VLStroke(cr, VLFade(0xFFFFF3C4, 1 - std::pow(p, 1.6)), 7 * (1 - p) + 1.5);
    for (int k = 0; k < 6; ++k) {
        double a = k * M_PI / 3 + 0.3 + p * 0.6;
        double r = 12 + 28 * std::sqrt(p);
        double size = 6.5 * (1 - 0.6 * p);
        VLStar(cr, kC + r * std::cos(a), kC + r * std::sin(a), size, size * 0.45,
               VLFade(k % 2 ? kWarm : 0xFFFFFFFF, 1 - p * p));
    }
}

// Hold: a steady glow, with a ring that breathes and three sparkles circling it.
void HoldGlow(cairo_t* cr) {
    cairo_new_path(cr);
    cairo_arc(cr, kC, kC, 40, 0, 2 * M_PI);
    VLFillRadial(cr, kC, kC, 40, 0x99FFF6D8, 0x00FFF6D8);
    cairo_new_path(cr);
    cairo_arc(cr, kC, kC, 24, 0, 2 * M_PI);
    VLStroke(cr, 0xCCFFFFFF, 2.5);
}

void HoldFrame(cairo_t* cr, int frame) {
    double phase = frame / 10.0 * 2 * M_PI;
    cairo_new_path(cr);
    cairo_arc(cr, kC, kC, 29 + 3 * std::sin(phase), 0, 2 * M_PI);
    VLStroke(cr, VLFade(kWarm, 0.55 + 0.35 * std::sin(phase)), 3);
    for (int k = 0; k < 3; ++k) {
        double a = phase + k * 2 * M_PI / 3;
        VLStar(cr, kC + 33 * std::cos(a), kC + 33 * std::sin(a), 5.5, 2.5, 0xFFFFFFFF);
    }
}

// Miss: a gentle grey ring that shrinks while a small cross shakes and fades.
void MissFrame(cairo_t* cr, int frame) {
    const double shake[5] = {-2.5, 2.5, -1.5, 1, 0};
    double p = frame / 4.0;
    const uint32_t slate = 0xFF6F7F8C;
    cairo_new_path(cr);
    cairo_arc(cr, kC, kC, 26 - 8 * p, 0, 2 * M_PI);
    VLStroke(cr, VLFade(slate, 0.8 - 0.55 * p), 3);
    double x = kC + shake[frame], s = 7, alpha = 1 - 0.7 * p;
    auto cross = [&](uint32_t color, double width) {
        cairo_move_to(cr, x - s, kC - s);
        cairo_line_to(cr, x + s, kC + s);
        cairo_move_to(cr, x + s, kC - s);
        cairo_line_to(cr, x - s, kC + s);
        VLStroke(cr, VLFade(color, alpha), width);
    };
    cross(0xFFFFFFFF, 6);
    cross(slate, 3.2);
}

struct FeedbackFrames {
    FeedbackFrames() {
        for (int f = 0; f < 8; ++f)
            VLResRegistrar(1101 + f, 90, 90, [f](cairo_t* cr) { HitFrame(cr, f); });
        for (int f = 0; f < 10; ++f)
            VLResRegistrar(1109 + f, 90, 90, [f](cairo_t* cr) { HoldFrame(cr, f); });
        for (int f = 0; f < 5; ++f)
            VLResRegistrar(1119 + f, 90, 90, [f](cairo_t* cr) { MissFrame(cr, f); });
        VLResRegistrar(1126, 90, 90, HoldGlow);
    }
} feedbackFrames;

}  // namespace
