#pragma once
// Helpers and the registry of the build-time PNG resource generator. Each
// VLRes*.cpp file in this folder registers the resources of one topic:
//
//     static VLResRegistrar reg(2101, 50, 25, [](cairo_t* cr) { ... });
//
// The generator writes "<id>.png" for every registered resource.
#include <cairo.h>

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <functional>
#include <vector>

struct VLResDef {
    int id;
    int width;
    int height;
    std::function<void(cairo_t*)> draw;
};

inline std::vector<VLResDef>& VLResRegistry() {
    static std::vector<VLResDef> defs;
    return defs;
}

struct VLResRegistrar {
    VLResRegistrar(int id, int width, int height, std::function<void(cairo_t*)> draw) {
        VLResRegistry().push_back({id, width, height, std::move(draw)});
    }
};

// The exam screens' one palette: every picture takes its colours from here so
// that the screens read as one piece.
namespace VLPalette {
constexpr uint32_t kGreen = 0xFF3DAA6B;      // primary
constexpr uint32_t kGreenDeep = 0xFF26934E;  // stem text, pressed states
constexpr uint32_t kGreenLight = 0xFF7DCB9B;
constexpr uint32_t kGreenTint = 0xFFE8F5EC;
constexpr uint32_t kBlue = 0xFF3EA7E5;  // accent
constexpr uint32_t kBlueDeep = 0xFF2B8CCB;
constexpr uint32_t kBlueTint = 0xFFE6F3FB;
constexpr uint32_t kWarm = 0xFFFBC368;  // warm accent
constexpr uint32_t kWarmDeep = 0xFFF2A33A;
constexpr uint32_t kWarmTint = 0xFFFFF4E0;
constexpr uint32_t kCoral = 0xFFEF6F5E;  // alerts, recording
constexpr uint32_t kText = 0xFF333333;
constexpr uint32_t kTextSoft = 0xFF666666;
constexpr uint32_t kBorder = 0xFFA4DEDD;
constexpr uint32_t kGrey = 0xFFB4BDC5;
constexpr uint32_t kGreyLight = 0xFFDDE2E6;
constexpr uint32_t kGreyTint = 0xFFF1F3F5;
constexpr uint32_t kPage = 0xFFF7F9F6;  // soft off-white
constexpr uint32_t kWhite = 0xFFFFFFFF;
}  // namespace VLPalette

inline void VLSetColor(cairo_t* cr, uint32_t argb) {
    cairo_set_source_rgba(cr, ((argb >> 16) & 0xFF) / 255.0, ((argb >> 8) & 0xFF) / 255.0,
                          (argb & 0xFF) / 255.0, ((argb >> 24) & 0xFF) / 255.0);
}

// The colour with its alpha multiplied by `alpha` (0..1).
inline uint32_t VLFade(uint32_t argb, double alpha) {
    uint32_t a = static_cast<uint32_t>(std::lround(((argb >> 24) & 0xFF) * std::clamp(alpha, 0.0, 1.0)));
    return (a << 24) | (argb & 0xFFFFFF);
}

// Straight mix of two colours, t = 0 gives a, t = 1 gives b.
inline uint32_t VLMix(uint32_t a, uint32_t b, double t) {
    uint32_t out = 0;
    for (int shift = 0; shift < 32; shift += 8) {
        double ca = (a >> shift) & 0xFF, cb = (b >> shift) & 0xFF;
        out |= static_cast<uint32_t>(std::lround(ca + (cb - ca) * t)) << shift;
    }
    return out;
}

inline void VLRoundRect(cairo_t* cr, double x, double y, double w, double h, double r) {
    r = std::min({r, w / 2, h / 2});
    cairo_new_sub_path(cr);
    cairo_arc(cr, x + w - r, y + r, r, -M_PI / 2, 0);
    cairo_arc(cr, x + w - r, y + h - r, r, 0, M_PI / 2);
    cairo_arc(cr, x + r, y + h - r, r, M_PI / 2, M_PI);
    cairo_arc(cr, x + r, y + r, r, M_PI, 3 * M_PI / 2);
    cairo_close_path(cr);
}

inline void VLFillRoundRect(cairo_t* cr, double x, double y, double w, double h, double r, uint32_t argb) {
    VLRoundRect(cr, x, y, w, h, r);
    VLSetColor(cr, argb);
    cairo_fill(cr);
}

inline void VLCircle(cairo_t* cr, double x, double y, double r, uint32_t argb) {
    cairo_new_sub_path(cr);
    cairo_arc(cr, x, y, r, 0, 2 * M_PI);
    VLSetColor(cr, argb);
    cairo_fill(cr);
}

// Strokes the current path with round caps and joins.
inline void VLStroke(cairo_t* cr, uint32_t argb, double width) {
    VLSetColor(cr, argb);
    cairo_set_line_width(cr, width);
    cairo_set_line_cap(cr, CAIRO_LINE_CAP_ROUND);
    cairo_set_line_join(cr, CAIRO_LINE_JOIN_ROUND);
    cairo_stroke(cr);
}

// Fills the current path with a vertical gradient from `top` to `bottom`.
void VLFillVertical(cairo_t* cr, double y0, double y1, uint32_t top, uint32_t bottom);
// Fills the current path with a radial gradient centred at (x, y).
void VLFillRadial(cairo_t* cr, double x, double y, double r, uint32_t inner, uint32_t outer);

// A soft shadow: what `shape` draws in opaque colour, or the path it leaves
// (in the current user space), blurred by `blur` pixels, moved by (dx, dy)
// and painted in `argb`.
void VLShadow(cairo_t* cr, const std::function<void(cairo_t*)>& shape, double blur, double dx, double dy,
              uint32_t argb);

// A tapering paint-brush stroke along the cubic curve p0 c1 c2 p1 with the
// given largest width, with a few lighter bristle streaks in it.
void VLBrushStroke(cairo_t* cr, double x0, double y0, double cx1, double cy1, double cx2, double cy2,
                   double x1, double y1, double width, uint32_t argb);

// Glyphs, each drawn into the square (x, y, size, size).
void VLGlyphNote(cairo_t* cr, double x, double y, double size, uint32_t argb);         // an eighth note
void VLGlyphBeamedNotes(cairo_t* cr, double x, double y, double size, uint32_t argb);  // two beamed notes
void VLGlyphPalette(cairo_t* cr, double x, double y, double size, uint32_t body, bool dots);
void VLGlyphCheck(cairo_t* cr, double x, double y, double size, uint32_t argb, double weight);
void VLGlyphHeadphones(cairo_t* cr, double x, double y, double size, uint32_t band, uint32_t cups);
void VLGlyphMicrophone(cairo_t* cr, double x, double y, double size, uint32_t argb, double weight);
void VLGlyphSpeaker(cairo_t* cr, double x, double y, double size, uint32_t argb, int waves);
// A sheet of paper with a folded corner and a few text lines.
void VLGlyphDocument(cairo_t* cr, double x, double y, double size, uint32_t paper, uint32_t lines);
// A five-pointed star centred at (x, y).
void VLStar(cairo_t* cr, double x, double y, double outer, double inner, uint32_t argb);
