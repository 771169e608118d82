#include "platform/ui/UIRenderUtils.h"

#include <pango/pangocairo.h>

#include <cmath>
#include <map>
#include <unordered_map>

#include "platform/common/KWStringUtils.h"
#include "platform/ui/UIPaintManager.h"
#include "platform/ui/UIResource.h"

namespace KwLib {

namespace {

// One pango context per scale: text is laid out, hinted and measured at the
// size it has on the surface, so glyphs sit on whole pixels there.
PangoContext* ContextFor(double scale) {
    static std::map<long, PangoContext*> contexts;
    const long key = std::lround(scale * 4096);
    auto it = contexts.find(key);
    if (it != contexts.end())
        return it->second;
    UIResourceSingleton::Instance().EnsureFonts();
    PangoFontMap* map = pango_cairo_font_map_get_default();
    PangoContext* ctx = pango_font_map_create_context(map);
    cairo_font_options_t* opts = cairo_font_options_create();
    cairo_font_options_set_antialias(opts, CAIRO_ANTIALIAS_GRAY);
    cairo_font_options_set_hint_style(opts, CAIRO_HINT_STYLE_SLIGHT);
    cairo_font_options_set_hint_metrics(opts, CAIRO_HINT_METRICS_ON);
    pango_cairo_context_set_font_options(ctx, opts);
    cairo_font_options_destroy(opts);
    if (key != 4096) {
        PangoMatrix matrix = PANGO_MATRIX_INIT;
        pango_matrix_scale(&matrix, scale, scale);
        pango_context_set_matrix(ctx, &matrix);
    }
    contexts.emplace(key, ctx);
    return ctx;
}

PangoContext* SharedContext() {
    return ContextFor(1.0);
}

// Shaping is the expensive part of text, and most labels never change, so
// finished layouts are kept by (text, font, box, flags).
class LayoutCache {
public:
    PangoLayout* Get(const UIFont& font, const std::string& text, int width, int height, uint32_t format,
                     double scale) {
        std::string key;
        key.reserve(text.size() + 56);
        key.append(text).push_back('\x1f');
        key.append(std::to_string(reinterpret_cast<uintptr_t>(font.desc))).push_back(',');
        key.append(std::to_string(std::lround(scale * 4096))).push_back(',');
        key.append(std::to_string(width)).push_back(',');
        key.append(std::to_string(height)).push_back(',');
        key.append(std::to_string(format));
        auto it = m_layouts.find(key);
        if (it != m_layouts.end())
            return it->second;
        if (m_layouts.size() > 4096)
            Clear();
        PangoLayout* layout = Make(font, text, width, height, format, scale);
        m_layouts.emplace(std::move(key), layout);
        return layout;
    }
    void Clear() {
        for (auto& [k, l] : m_layouts)
            g_object_unref(l);
        m_layouts.clear();
    }

private:
    static PangoLayout* Make(const UIFont& font, const std::string& text, int width, int height,
                             uint32_t format, double scale) {
        PangoLayout* layout = pango_layout_new(ContextFor(scale));
        pango_layout_set_font_description(layout, font.desc);
        if (font.underline) {
            PangoAttrList* attrs = pango_attr_list_new();
            pango_attr_list_insert(attrs, pango_attr_underline_new(PANGO_UNDERLINE_SINGLE));
            pango_layout_set_attributes(layout, attrs);
            pango_attr_list_unref(attrs);
        }
        bool single = (format & DT_SINGLELINE) || !(format & DT_WORDBREAK);
        if (single) {
            pango_layout_set_single_paragraph_mode(layout, TRUE);
            if ((format & DT_END_ELLIPSIS) && width > 0) {
                pango_layout_set_width(layout, width * PANGO_SCALE);
                pango_layout_set_ellipsize(layout, PANGO_ELLIPSIZE_END);
            }
        } else if (width > 0) {
            pango_layout_set_width(layout, width * PANGO_SCALE);
            pango_layout_set_wrap(layout, PANGO_WRAP_WORD_CHAR);
            if ((format & DT_END_ELLIPSIS) && height > 0) {
                pango_layout_set_height(layout, height * PANGO_SCALE);
                pango_layout_set_ellipsize(layout, PANGO_ELLIPSIZE_END);
            }
        }
        if (format & DT_CENTER)
            pango_layout_set_alignment(layout, PANGO_ALIGN_CENTER);
        else if (format & DT_RIGHT)
            pango_layout_set_alignment(layout, PANGO_ALIGN_RIGHT);
        pango_layout_set_text(layout, text.c_str(), static_cast<int>(text.size()));
        return layout;
    }
    std::unordered_map<std::string, PangoLayout*> m_layouts;
};

LayoutCache& Layouts() {
    static LayoutCache cache;
    return cache;
}

const UIFont& ResolveFont(UIPaintManager* pm, const std::string& name) {
    if (pm)
        return pm->GetFont(name);
    static UIFont fallback = [] {
        UIFont f;
        UIRenderUtils::PrepareFont(f);
        return f;
    }();
    return fallback;
}

}  // namespace

double UIRenderUtils::DeviceScale(cairo_t* cr) {
    double dx = 1, dy = 0;
    cairo_user_to_device_distance(cr, &dx, &dy);
    return std::hypot(dx, dy);
}

namespace {

// A pixel edge of the surface; halves go up.
double SnapEdge(double v) {
    return std::floor(v + 0.5);
}

// The corners of a layout rectangle moved to the nearest pixel edges, back in user space.
void SnapBox(cairo_t* cr, const UIRect& rc, double& x0, double& y0, double& x1, double& y1) {
    x0 = rc.left, y0 = rc.top, x1 = rc.right, y1 = rc.bottom;
    cairo_user_to_device(cr, &x0, &y0);
    cairo_user_to_device(cr, &x1, &y1);
    x0 = SnapEdge(x0), y0 = SnapEdge(y0), x1 = SnapEdge(x1), y1 = SnapEdge(y1);
    cairo_device_to_user(cr, &x0, &y0);
    cairo_device_to_user(cr, &x1, &y1);
}

}  // namespace

UIRect UIRenderUtils::DeviceRect(cairo_t* cr, const UIRect& rc) {
    double x0 = rc.left, y0 = rc.top, x1 = rc.right, y1 = rc.bottom;
    cairo_user_to_device(cr, &x0, &y0);
    cairo_user_to_device(cr, &x1, &y1);
    UIRect out{static_cast<int>(SnapEdge(std::min(x0, x1))), static_cast<int>(SnapEdge(std::min(y0, y1))),
               static_cast<int>(SnapEdge(std::max(x0, x1))), static_cast<int>(SnapEdge(std::max(y0, y1)))};
    return out;
}

void UIRenderUtils::SnappedRectangle(cairo_t* cr, const UIRect& rc) {
    double x0, y0, x1, y1;
    SnapBox(cr, rc, x0, y0, x1, y1);
    cairo_rectangle(cr, x0, y0, x1 - x0, y1 - y0);
}

void UIRenderUtils::ClipRect(cairo_t* cr, const UIRect& rc) {
    SnappedRectangle(cr, rc);
    cairo_clip(cr);
}

void UIRenderUtils::SetSourceColor(cairo_t* cr, UIColor c) {
    cairo_set_source_rgba(cr, ((c >> 16) & 0xFF) / 255.0, ((c >> 8) & 0xFF) / 255.0, (c & 0xFF) / 255.0,
                          ((c >> 24) & 0xFF) / 255.0);
}

void UIRenderUtils::FillRect(cairo_t* cr, const UIRect& rc, UIColor color) {
    if (rc.IsEmpty() || (color >> 24) == 0)
        return;
    SetSourceColor(cr, color);
    SnappedRectangle(cr, rc);
    cairo_fill(cr);
}

void UIRenderUtils::RoundRectPath(cairo_t* cr, double x, double y, double w, double h, double r) {
    r = std::min({r, w / 2, h / 2});
    if (r <= 0) {
        cairo_rectangle(cr, x, y, w, h);
        return;
    }
    cairo_new_sub_path(cr);
    cairo_arc(cr, x + w - r, y + r, r, -M_PI / 2, 0);
    cairo_arc(cr, x + w - r, y + h - r, r, 0, M_PI / 2);
    cairo_arc(cr, x + r, y + h - r, r, M_PI / 2, M_PI);
    cairo_arc(cr, x + r, y + r, r, M_PI, 3 * M_PI / 2);
    cairo_close_path(cr);
}

void UIRenderUtils::RoundRectPath(cairo_t* cr, const UIRect& rc, double radius) {
    double x0, y0, x1, y1;
    SnapBox(cr, rc, x0, y0, x1, y1);
    RoundRectPath(cr, x0, y0, x1 - x0, y1 - y0, radius);
}

void UIRenderUtils::FillRoundRect(cairo_t* cr, const UIRect& rc, int radius, UIColor color) {
    if (rc.IsEmpty() || (color >> 24) == 0)
        return;
    SetSourceColor(cr, color);
    RoundRectPath(cr, rc, radius);
    cairo_fill(cr);
}

void UIRenderUtils::DrawBorder(cairo_t* cr, const UIRect& rc, int size, UIColor color, int radius) {
    if (size <= 0 || rc.IsEmpty() || (color >> 24) == 0)
        return;
    SetSourceColor(cr, color);
    double x0, y0, x1, y1;
    SnapBox(cr, rc, x0, y0, x1, y1);
    // Whole pixels wide on the surface, and never thinner than one.
    const double scale = DeviceScale(cr);
    const double width = std::max(1.0, std::round(size * scale)) / scale;
    const double half = width / 2.0;
    RoundRectPath(cr, x0 + half, y0 + half, x1 - x0 - width, y1 - y0 - width, std::max(0.0, radius - half));
    cairo_set_line_width(cr, width);
    cairo_stroke(cr);
}

void UIRenderUtils::DrawLine(cairo_t* cr, double x1, double y1, double x2, double y2, double width,
                             UIColor color) {
    if (width <= 0 || (color >> 24) == 0)
        return;
    cairo_save(cr);
    cairo_set_antialias(cr, CAIRO_ANTIALIAS_DEFAULT);
    SetSourceColor(cr, color);
    cairo_set_line_width(cr, width);
    cairo_set_line_cap(cr, CAIRO_LINE_CAP_ROUND);
    cairo_move_to(cr, x1, y1);
    cairo_line_to(cr, x2, y2);
    cairo_stroke(cr);
    cairo_restore(cr);
}

bool UIRenderUtils::DrawImageString(cairo_t* cr, const UIRect& rcItem, const std::string& imageString) {
    if (imageString.empty())
        return true;
    const UIImageAttr& a = UIImageString::Parse(imageString);
    int density = 1;
    auto image = UIResourceSingleton::Instance().GetImageForScale(a, DeviceScale(cr), density);
    if (!image)
        return false;
    UIRect source = a.hasSource ? UIRect{a.source.left * density, a.source.top * density,
                                         a.source.right * density, a.source.bottom * density}
                                : UIRect{0, 0, image->Width(), image->Height()};
    source = source.Intersect({0, 0, image->Width(), image->Height()});
    UIRect dest = rcItem;
    if (a.hasDest) {
        dest = a.dest;
        dest.Offset(rcItem.left, rcItem.top);
        // A destination outside the control is clipped to it, on every side.
        dest = dest.Intersect(rcItem);
    }
    DrawImage(cr, *image, dest, source, a.corner, a.fade, a.hole, a.xtiled, a.ytiled, density);
    return true;
}

namespace {

// Draws one part of a picture; everything in surface pixels. A tiled part
// repeats at `tileScale` surface pixels per picture pixel.
void DrawPart(cairo_t* cr, cairo_surface_t* surface, double sx, double sy, double sw, double sh, double dx,
              double dy, double dw, double dh, double alpha, bool tiled, double tileScale) {
    if (sw <= 0 || sh <= 0 || dw <= 0 || dh <= 0)
        return;
    // The part read is never more than the picture has: nine-grid edges
    // wider than their source (a layout may say so) reach past it.
    const double x0 = std::max(0.0, sx), y0 = std::max(0.0, sy);
    const double x1 = std::min<double>(sx + sw, cairo_image_surface_get_width(surface));
    const double y1 = std::min<double>(sy + sh, cairo_image_surface_get_height(surface));
    if (x1 <= x0 || y1 <= y0)
        return;
    cairo_save(cr);
    cairo_rectangle(cr, dx, dy, dw, dh);
    cairo_clip(cr);
    cairo_matrix_t m;
    cairo_surface_t* sub = cairo_surface_create_for_rectangle(surface, x0, y0, x1 - x0, y1 - y0);
    cairo_pattern_t* p = cairo_pattern_create_for_surface(sub);
    cairo_surface_destroy(sub);
    if (tiled) {
        cairo_pattern_set_extend(p, CAIRO_EXTEND_REPEAT);
        cairo_matrix_init_scale(&m, 1 / tileScale, 1 / tileScale);
        cairo_matrix_translate(&m, -dx, -dy);
        bool unscaled = std::fabs(tileScale - 1) < 1e-9;
        cairo_pattern_set_filter(p, unscaled ? CAIRO_FILTER_NEAREST : CAIRO_FILTER_GOOD);
    } else {
        // Scaled, the filter reads neighbouring pixels: only the part's own
        // are there to read, so a sprite's next cell never bleeds in.
        double scaleX = sw / dw, scaleY = sh / dh;
        cairo_matrix_init(&m, scaleX, 0, 0, scaleY, sx - x0 - dx * scaleX, sy - y0 - dy * scaleY);
        bool unscaled = std::fabs(scaleX - 1) < 1e-9 && std::fabs(scaleY - 1) < 1e-9;
        cairo_pattern_set_filter(p, unscaled ? CAIRO_FILTER_NEAREST : CAIRO_FILTER_GOOD);
        cairo_pattern_set_extend(p, CAIRO_EXTEND_PAD);
    }
    cairo_pattern_set_matrix(p, &m);
    cairo_set_source(cr, p);
    if (alpha < 1.0)
        cairo_paint_with_alpha(cr, alpha);
    else
        cairo_paint(cr);
    cairo_pattern_destroy(p);
    cairo_restore(cr);
}

// Draws the picture part by part (nine-grid) into `dest`, in surface pixels:
// the corners of `sc` (picture pixels) become the corners of `dc` (surface
// pixels), the edges stretch one way, the middle both.
void DrawNineGrid(cairo_t* cr, cairo_surface_t* s, const UIRect& dest, const UIRect& source, const UIRect& sc,
                  const UIRect& dc, double alpha, bool hole, bool tiled, double tileScale) {
    if (sc.left == 0 && sc.top == 0 && sc.right == 0 && sc.bottom == 0) {
        DrawPart(cr, s, source.left, source.top, source.Width(), source.Height(), dest.left, dest.top,
                 dest.Width(), dest.Height(), alpha, tiled, tileScale);
        return;
    }
    int dl = std::min(dc.left, dest.Width()), dr = std::min(dc.right, std::max(0, dest.Width() - dl));
    int dt = std::min(dc.top, dest.Height()), db = std::min(dc.bottom, std::max(0, dest.Height() - dt));
    double sxs[4] = {double(source.left), double(source.left + sc.left), double(source.right - sc.right),
                     double(source.right)};
    double sys[4] = {double(source.top), double(source.top + sc.top), double(source.bottom - sc.bottom),
                     double(source.bottom)};
    double dxs[4] = {double(dest.left), double(dest.left + dl), double(dest.right - dr), double(dest.right)};
    double dys[4] = {double(dest.top), double(dest.top + dt), double(dest.bottom - db), double(dest.bottom)};
    for (int row = 0; row < 3; ++row) {
        for (int col = 0; col < 3; ++col) {
            if (hole && row == 1 && col == 1)
                continue;
            DrawPart(cr, s, sxs[col], sys[row], sxs[col + 1] - sxs[col], sys[row + 1] - sys[row], dxs[col],
                     dys[row], dxs[col + 1] - dxs[col], dys[row + 1] - dys[row], alpha,
                     tiled && row == 1 && col == 1, tileScale);
        }
    }
}

// A scaled rendering larger than this many surface pixels is drawn afresh
// each time instead of being kept (and than cairo's 32767-pixel surfaces).
constexpr int64_t kMaxCachedPixels = 2560 * 1600;

}  // namespace

void UIRenderUtils::DrawImage(cairo_t* cr, UIImageData& image, const UIRect& dest, const UIRect& source,
                              const UIRect& corner, uint8_t fade, bool hole, bool xtiled, bool ytiled,
                              int density) {
    if (dest.IsEmpty() || source.IsEmpty() || fade == 0)
        return;
    const double alpha = fade / 255.0;
    const bool tiled = xtiled || ytiled;
    const double scale = DeviceScale(cr);
    density = std::max(1, density);
    // Everything below is in the surface's own pixels, snapped to them.
    const UIRect dev = DeviceRect(cr, dest);
    if (dev.IsEmpty())
        return;
    // Corners are widths: a negative one would widen the middle past `dest`.
    const UIRect c{std::max(0, corner.left), std::max(0, corner.top), std::max(0, corner.right),
                   std::max(0, corner.bottom)};
    const UIRect sc{c.left * density, c.top * density, c.right * density, c.bottom * density};
    auto px = [scale](int units) { return static_cast<int>(std::lround(units * scale)); };
    const UIRect dc{px(c.left), px(c.top), px(c.right), px(c.bottom)};
    const double tileScale = scale / density;
    const bool unscaled = dev.Width() == source.Width() && dev.Height() == source.Height() && sc == dc;
    const bool huge =
        int64_t{dev.Width()} * dev.Height() > kMaxCachedPixels || dev.Width() > 8192 || dev.Height() > 8192;
    cairo_save(cr);
    cairo_identity_matrix(cr);
    if (unscaled || huge) {
        DrawNineGrid(cr, image.Surface(), dev, source, sc, dc, alpha, hole, tiled, tileScale);
        cairo_restore(cr);
        return;
    }
    // Scaling (above all shrinking with a good filter) is the expensive part
    // of a frame: render once at the size shown and copy afterwards.
    std::string key = KWStringUtils::Format(
        "%d,%d,%d,%d|%d,%d,%d,%d|%d,%d,%d,%d|%dx%d|%d%d|%ld", source.left, source.top, source.right,
        source.bottom, sc.left, sc.top, sc.right, sc.bottom, dc.left, dc.top, dc.right, dc.bottom,
        dev.Width(), dev.Height(), hole ? 1 : 0, tiled ? 1 : 0, std::lround(tileScale * 4096));
    bool opaque = false;
    cairo_surface_t* scaled = image.FindScaled(key, &opaque);
    if (!scaled) {
        scaled = cairo_image_surface_create(CAIRO_FORMAT_ARGB32, dev.Width(), dev.Height());
        cairo_t* sc2 = cairo_create(scaled);
        DrawNineGrid(sc2, image.Surface(), {0, 0, dev.Width(), dev.Height()}, source, sc, dc, 1.0, hole,
                     tiled, tileScale);
        cairo_destroy(sc2);
        image.AddScaled(key, scaled);
        image.FindScaled(key, &opaque);
    }
    cairo_set_source_surface(cr, scaled, dev.left, dev.top);
    cairo_pattern_set_filter(cairo_get_source(cr), CAIRO_FILTER_NEAREST);
    cairo_rectangle(cr, dev.left, dev.top, dev.Width(), dev.Height());
    if (alpha < 1.0) {
        cairo_clip(cr);
        cairo_paint_with_alpha(cr, alpha);
    } else {
        // A picture that covers what is below is copied, not blended: on a
        // large screen pictures are most of a frame's pixels.
        if (opaque)
            cairo_set_operator(cr, CAIRO_OPERATOR_SOURCE);
        cairo_fill(cr);
    }
    cairo_restore(cr);
}

void UIRenderUtils::PrepareFont(UIFont& font) {
    UIResourceSingleton::Instance().EnsureFonts();
    if (font.desc)
        pango_font_description_free(font.desc);
    font.desc = pango_font_description_new();
    pango_font_description_set_family(font.desc, font.face.c_str());
    // Sizes come from layout text; pango's fixed point (and any sum with a
    // size) would overflow far beyond what a screen can show.
    font.size = std::clamp(font.size, 1, kMaxFontSize);
    pango_font_description_set_absolute_size(font.desc, font.size * PANGO_SCALE);
    pango_font_description_set_weight(font.desc, font.bold ? PANGO_WEIGHT_BOLD : PANGO_WEIGHT_NORMAL);
    pango_font_description_set_style(font.desc, font.italic ? PANGO_STYLE_ITALIC : PANGO_STYLE_NORMAL);
}

void UIRenderUtils::ReleaseFont(UIFont& font) {
    if (!font.desc)
        return;
    // Cached layouts refer to the description by address.
    Layouts().Clear();
    pango_font_description_free(font.desc);
    font.desc = nullptr;
}

void UIRenderUtils::SetFontScale(UIFont& font, double scale) {
    font.scale = scale > 0 ? scale : 1.0;
}

namespace {

// The layout's logical size in layout units, rounded up: a box of that size
// holds the text whole at any scale (at fractional scales glyphs sit on the
// surface's pixels, so the size need not be whole units).
UISize LogicalSize(PangoLayout* layout) {
    PangoRectangle logical;
    pango_layout_get_extents(layout, nullptr, &logical);
    auto units = [](int pango) {
        return static_cast<int>(std::ceil(static_cast<double>(pango) / PANGO_SCALE - 1e-3));
    };
    return {units(logical.width), units(logical.height)};
}

}  // namespace

void UIRenderUtils::DrawText(cairo_t* cr, UIPaintManager* pm, const UIRect& rc, const std::string& text,
                             UIColor color, const std::string& fontName, uint32_t format) {
    if (text.empty() || rc.IsEmpty() || (color >> 24) == 0)
        return;
    const UIFont& font = ResolveFont(pm, fontName);
    // Laid out for the surface it goes to.
    PangoLayout* layout = Layouts().Get(font, text, rc.Width(), rc.Height(), format, DeviceScale(cr));
    const UISize size = LogicalSize(layout);
    double x = rc.left, y = rc.top;
    bool single = (format & DT_SINGLELINE) || !(format & DT_WORDBREAK);
    if (single && pango_layout_get_width(layout) < 0) {
        if (format & DT_CENTER)
            x += (rc.Width() - size.cx) / 2;
        else if (format & DT_RIGHT)
            x += rc.Width() - size.cx;
    }
    if (format & DT_VCENTER)
        y += (rc.Height() - size.cy) / 2;
    else if (format & DT_BOTTOM)
        y += rc.Height() - size.cy;
    cairo_save(cr);
    // Glyphs may reach a little past their advance and their line (bold ones,
    // descenders): that much is let through, so a text in a box of its own
    // size is whole.
    const int overhang = std::max(1, font.size / 8);
    ClipRect(cr, {rc.left - overhang, rc.top - overhang, rc.right + overhang, rc.bottom + overhang});
    SetSourceColor(cr, color);
    // The first line's top on a whole pixel of the surface, as hinting expects.
    cairo_user_to_device(cr, &x, &y);
    x = std::floor(x + 0.5), y = std::floor(y + 0.5);
    cairo_device_to_user(cr, &x, &y);
    cairo_move_to(cr, x, y);
    pango_cairo_show_layout(cr, layout);
    cairo_restore(cr);
}

UISize UIRenderUtils::GetTextSize(const UIFont& font, const std::string& text, uint32_t format,
                                  int maxWidth) {
    if (text.empty()) {
        PangoLayout* layout = Layouts().Get(font, " ", 0, 0, DT_SINGLELINE, font.scale);
        return {0, LogicalSize(layout).cy};
    }
    uint32_t f = format & ~DT_END_ELLIPSIS;
    if (maxWidth <= 0)
        f |= DT_SINGLELINE;
    PangoLayout* layout = Layouts().Get(font, text, (f & DT_SINGLELINE) ? 0 : maxWidth, 0,
                                        f & ~(DT_CENTER | DT_RIGHT), font.scale);
    return LogicalSize(layout);
}

UISize UIRenderUtils::GetTextSize(UIPaintManager* pm, const std::string& text, const std::string& font,
                                  uint32_t format, int maxWidth) {
    return GetTextSize(ResolveFont(pm, font), text, format, maxWidth);
}

int UIRenderUtils::ResolveFace(const std::string& face, const std::string& sample, std::string& family) {
    PangoContext* context = SharedContext();
    PangoFontDescription* desc = pango_font_description_from_string(face.c_str());
    pango_font_description_set_absolute_size(desc, 16 * PANGO_SCALE);
    family.clear();
    if (PangoFont* font = pango_font_map_load_font(pango_context_get_font_map(context), context, desc)) {
        PangoFontDescription* real = pango_font_describe(font);
        if (const char* name = pango_font_description_get_family(real))
            family = name;
        pango_font_description_free(real);
        g_object_unref(font);
    }
    PangoLayout* layout = pango_layout_new(context);
    pango_layout_set_font_description(layout, desc);
    pango_layout_set_text(layout, sample.c_str(), static_cast<int>(sample.size()));
    const int unknown = pango_layout_get_unknown_glyphs_count(layout);
    g_object_unref(layout);
    pango_font_description_free(desc);
    return unknown;
}

int UIRenderUtils::TextIndexToX(const UIFont& font, const std::string& text, size_t byteIndex) {
    PangoLayout* layout =
        Layouts().Get(font, text.empty() ? std::string(" ") : text, 0, 0, DT_SINGLELINE, font.scale);
    if (text.empty())
        return 0;
    PangoRectangle pos;
    pango_layout_index_to_pos(layout, static_cast<int>(std::min(byteIndex, text.size())), &pos);
    return PANGO_PIXELS(pos.x);
}

size_t UIRenderUtils::TextXToIndex(const UIFont& font, const std::string& text, int x) {
    if (text.empty())
        return 0;
    PangoLayout* layout = Layouts().Get(font, text, 0, 0, DT_SINGLELINE, font.scale);
    int index = 0, trailing = 0;
    pango_layout_xy_to_index(layout, x * PANGO_SCALE, 0, &index, &trailing);
    size_t i = static_cast<size_t>(index);
    // Move past the character when the point is in its right half.
    while (trailing-- > 0 && i < text.size()) {
        ++i;
        while (i < text.size() && (static_cast<unsigned char>(text[i]) & 0xC0) == 0x80)
            ++i;
    }
    return i;
}

}  // namespace KwLib
