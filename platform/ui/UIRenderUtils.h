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
};

class UIRenderUtils {
public:
    static void SetSourceColor(cairo_t* cr, UIColor color);
    static void FillRect(cairo_t* cr, const UIRect& rc, UIColor color);
    // Rounded rectangle path; radius 0 gives a plain rectangle.
    static void RoundRectPath(cairo_t* cr, double x, double y, double w, double h, double radius);
    static void FillRoundRect(cairo_t* cr, const UIRect& rc, int radius, UIColor color);
    static void DrawBorder(cairo_t* cr, const UIRect& rc, int size, UIColor color, int radius);
    // An anti-aliased straight line with round ends; coordinates are pixel
    // edges, so a line along y = 10.5 covers row 10 exactly when 1 wide.
    static void DrawLine(cairo_t* cr, double x1, double y1, double x2, double y2, double width,
                         UIColor color);

    // Draws an image attribute string into rcItem (its "dest" is relative to
    // rcItem). False when the image cannot be loaded.
    static bool DrawImageString(cairo_t* cr, const UIRect& rcItem, const std::string& imageString);
    // Draws `source` of the image into `dest`, keeping the nine-grid `corner`
    // edges unscaled.
    static void DrawImage(cairo_t* cr, UIImageData& image, const UIRect& dest, const UIRect& source,
                          const UIRect& corner, uint8_t fade = 255, bool hole = false, bool xtiled = false,
                          bool ytiled = false);

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
    static void ReleaseFont(UIFont& font);

    // The family that text in `face` is really drawn with (after the shipped
    // alias file) and how many characters of `sample` no font can show.
    static int ResolveFace(const std::string& face, const std::string& sample, std::string& family);

    // Caret and hit testing for a single line of text drawn at x = 0.
    static int TextIndexToX(const UIFont& font, const std::string& text, size_t byteIndex);
    static size_t TextXToIndex(const UIFont& font, const std::string& text, int x);
};

}  // namespace KwLib
