// Resources of the clip widget beside an option with a sound: the play/stop
// toggle (1035: stop at 0..42 while playing, play at 42..84), its background
// strip (1037) and its progress bar (1038: track on top, fill below).
#include "VLResDraw.h"

namespace {

constexpr uint32_t kAccent = VLPalette::kBlue;
constexpr uint32_t kTrack = 0xFFD9E9F3;
constexpr uint32_t kStrip = VLPalette::kBlueTint;

void Disc(cairo_t* cr, double x, double y, double r, uint32_t argb) {
    VLSetColor(cr, argb);
    cairo_arc(cr, x, y, r, 0, 2 * M_PI);
    cairo_fill(cr);
}

VLResRegistrar toggle(1035, 84, 42, [](cairo_t* cr) {
    // Stop: a square on the disc.
    Disc(cr, 21, 21, 19, kAccent);
    VLFillRoundRect(cr, 14, 14, 14, 14, 2, 0xFFFFFFFF);
    // Play: a triangle pointing right.
    Disc(cr, 63, 21, 19, kAccent);
    VLSetColor(cr, 0xFFFFFFFF);
    cairo_move_to(cr, 57, 12);
    cairo_line_to(cr, 73, 21);
    cairo_line_to(cr, 57, 30);
    cairo_close_path(cr);
    cairo_fill(cr);
});

VLResRegistrar strip(1037, 60, 27, [](cairo_t* cr) { VLFillRoundRect(cr, 0, 0, 60, 27, 13.5, kStrip); });

VLResRegistrar bar(1038, 18, 24, [](cairo_t* cr) {
    VLFillRoundRect(cr, 0, 0, 18, 12, 5, kTrack);
    VLFillRoundRect(cr, 0, 12, 18, 12, 5, kAccent);
});

}  // namespace
