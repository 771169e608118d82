#pragma once
// Drawing with cairo and text with pango. Every control paints through these.
// UI thread only.
#include <cairo.h>

#include <string>

#include "platform/ui/UIDefines.h"

typedef struct _PangoFontDescription PangoFontDescription;

namespace KwLib {

class UIImageData;
class UIPaintManager;
struct UIImageAttr;

// A font as declared by a layout's Font entry or AddFont.
// Font sizes are kept within this many pixels.
constexpr int kMaxFontSize = 1000;

struct UIFont {
    std::string face = "微软雅黑";
    int size = 12;  // pixels
    bool bold = false;
    bool underline = false;
    bool italic = false;
    PangoFontDescription* desc = nullptr;  // made from the fields above
    // Screen pixels per layout unit where the font is shown: text is laid out
    // (hinted, measured, wrapped) at that size. Sizes stay in layout units.
    double scale = 1.0;
};

// Painting works in layout units; the surface below may hold several pixels
// per unit (cairo's matrix scales everything). Rectangles, clips and images
// are snapped to whole pixels of the surface, so edges stay sharp and
// neighbours meet without a seam at any scale.
class UIRenderUtils {
public:
    // Surface pixels per layout unit of `cr`.
    static double DeviceScale(cairo_t* cr);
    // The pixels of cr's surface that a layout rectangle covers, each edge
    // rounded to the nearest pixel edge.
    static UIRect DeviceRect(cairo_t* cr, const UIRect& rc);
    // Adds the rectangle, snapped to whole pixels, to the path.
    static void SnappedRectangle(cairo_t* cr, const UIRect& rc);
    // Clips to the rectangle snapped to whole pixels.
    static void ClipRect(cairo_t* cr, const UIRect& rc);
    static void SetSourceColor(cairo_t* cr, UIColor color);
    static void FillRect(cairo_t* cr, const UIRect& rc, UIColor color);
    // Rounded rectangle path; radius 0 gives a plain rectangle.
    static void RoundRectPath(cairo_t* cr, double x, double y, double w, double h, double radius);
    // The same for a layout rectangle whose edges are snapped to whole pixels.
    static void RoundRectPath(cairo_t* cr, const UIRect& rc, double radius);
    static void FillRoundRect(cairo_t* cr, const UIRect& rc, int radius, UIColor color);
    static void DrawBorder(cairo_t* cr, const UIRect& rc, int size, UIColor color, int radius);
    // An anti-aliased straight line with round ends; coordinates are pixel
    // edges, so a line along y = 10.5 covers row 10 exactly when 1 wide.
    static void DrawLine(cairo_t* cr, double x1, double y1, double x2, double y2, double width,
                         UIColor color);

    // Draws an image attribute string into rcItem (its "dest" is relative to
    // rcItem). False when the image cannot be loaded.
    static bool DrawImageString(cairo_t* cr, const UIRect& rcItem, const std::string& imageString);
    // Draws `source` of the image (in its pixels) into `dest` (layout units),
    // keeping the nine-grid edges at their size: `corner` in layout units,
    // `density` image pixels per unit (2 for a picture drawn at twice the size).
    static void DrawImage(cairo_t* cr, UIImageData& image, const UIRect& dest, const UIRect& source,
                          const UIRect& corner, uint8_t fade = 255, bool hole = false, bool xtiled = false,
                          bool ytiled = false, int density = 1);

    // Text. `font` is a font name of the paint manager ("" = its default font);
    // `format` holds the DT_ flags.
    static void DrawText(cairo_t* cr, UIPaintManager* pm, const UIRect& rc, const std::string& text,
                         UIColor color, const std::string& font, uint32_t format);
    // The extent of a text. With DT_SINGLELINE (or no width limit) the text is
    // measured on one line; otherwise it wraps at `maxWidth`.
    static UISize GetTextSize(UIPaintManager* pm, const std::string& text, const std::string& font,
                              uint32_t format, int maxWidth = 0);
    static UISize GetTextSize(const UIFont& font, const std::string& text, uint32_t format, int maxWidth = 0);

    // Builds font->desc from the font's fields.
    static void PrepareFont(UIFont& font);
    // Lays the font's text out for a surface of `scale` pixels per unit.
    static void SetFontScale(UIFont& font, double scale);
    static void ReleaseFont(UIFont& font);

    // The family that text in `face` is really drawn with (after the shipped
    // alias file) and how many characters of `sample` no font can show.
    static int ResolveFace(const std::string& face, const std::string& sample, std::string& family);

    // Caret and hit testing for a single line of text drawn at x = 0.
    static int TextIndexToX(const UIFont& font, const std::string& text, size_t byteIndex);
    static size_t TextXToIndex(const UIFont& font, const std::string& text, int x);
};

}  // namespace KwLib
