// The answer sheet: number buttons (1043, 32 x 32 cells; left column answered
// in green, right column unanswered in white, rows normal, hot, pushed; the
// number is written by the toolkit, dark on answered and grey on unanswered),
// the legend swatches (1044: answered, unanswered, 20 x 20 each), the listen
// toggle of singing answers (1046: normal, playing, disabled, 24 x 13 each)
// and the section icons (1047: art at 0..21, music at 21..42, 17 high).
#include "VLResDraw.h"

namespace {

using namespace VLPalette;

struct Face {
    uint32_t fill, border;
};

constexpr Face kAnswered[3] = {{0xFF8AD2A6, kGreen}, {0xFFA3DDB9, kGreen}, {0xFF6CC28E, kGreenDeep}};
constexpr Face kUnanswered[3] = {{kWhite, 0xFFC9CFD4}, {0xFFF3F9FD, 0xFF9FB0BC}, {0xFFE7ECF0, 0xFF9FB0BC}};

void NumberCell(cairo_t* cr, double x, double y, const Face& face, double size) {
    double inset = size / 32.0;
    double r = size * 0.22;
    VLFillRoundRect(cr, x + inset, y + inset, size - 2 * inset, size - 2 * inset, r, face.fill);
    VLRoundRect(cr, x + inset + 0.5, y + inset + 0.5, size - 2 * inset - 1, size - 2 * inset - 1, r - 0.5);
    VLStroke(cr, face.border, 1);
}

VLResRegistrar numbers(1043, 64, 96, [](cairo_t* cr) {
    for (int row = 0; row < 3; ++row) {
        NumberCell(cr, 0, row * 32, kAnswered[row], 32);
        NumberCell(cr, 32, row * 32, kUnanswered[row], 32);
    }
});

VLResRegistrar legend(1044, 40, 20, [](cairo_t* cr) {
    NumberCell(cr, 0, 0, kAnswered[0], 20);
    NumberCell(cr, 20, 0, kUnanswered[0], 20);
});

void ListenCell(cairo_t* cr, double x, uint32_t fill, uint32_t border, uint32_t glyph, int waves) {
    VLFillRoundRect(cr, x + 0.5, 0.5, 23, 12, 6, fill);
    VLRoundRect(cr, x + 1, 1, 22, 11, 5.5);
    VLStroke(cr, border, 1);
    VLGlyphSpeaker(cr, x + 5.5, 0.5, 12, glyph, waves);
}

VLResRegistrar listen(1046, 72, 13, [](cairo_t* cr) {
    ListenCell(cr, 0, kWhite, kBlue, kBlue, 1);
    ListenCell(cr, 24, kBlue, kBlue, kWhite, 2);
    ListenCell(cr, 48, kGreyTint, kGreyLight, kGrey, 1);
});

VLResRegistrar sections(1047, 42, 17, [](cairo_t* cr) {
    // Art: a palette with paint dots; music: two beamed notes, in the blue of
    // the section titles.
    VLGlyphPalette(cr, 1.5, -0.5, 18, kWarm, true);
    VLGlyphBeamedNotes(cr, 23, 0, 17, kBlue);
});

}  // namespace
