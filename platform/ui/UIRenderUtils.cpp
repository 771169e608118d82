#include "platform/ui/UIRenderUtils.h"

#include <pango/pangocairo.h>

#include <cmath>
#include <unordered_map>

#include "platform/common/KWStringUtils.h"
#include "platform/ui/UIPaintManager.h"
#include "platform/ui/UIResource.h"

namespace KwLib {

namespace {

PangoContext* SharedContext() {
    static PangoContext* context = [] {
        UIResourceSingleton::Instance().EnsureFonts();
        PangoFontMap* map = pango_cairo_font_map_get_default();
        PangoContext* ctx = pango_font_map_create_context(map);
        cairo_font_options_t* opts = cairo_font_options_create();
        cairo_font_options_set_antialias(opts, CAIRO_ANTIALIAS_GRAY);
        cairo_font_options_set_hint_style(opts, CAIRO_HINT_STYLE_SLIGHT);
        cairo_font_options_set_hint_metrics(opts, CAIRO_HINT_METRICS_ON);
        pango_cairo_context_set_font_options(ctx, opts);
        cairo_font_options_destroy(opts);
        return ctx;
    }();
    return context;
}

// Shaping is the expensive part of text, and most labels never change, so
// finished layouts are kept by (text, font, box, flags).
class LayoutCache {
public:
    PangoLayout* Get(const UIFont& font, const std::string& text, int width, int height, uint32_t format) {
        std::string key;
        key.reserve(text.size() + 48);
        key.append(text).push_back('\x1f');
        key.append(std::to_string(reinterpret_cast<uintptr_t>(font.desc))).push_back(',');
        key.append(std::to_string(width)).push_back(',');
        key.append(std::to_string(height)).push_back(',');
        key.append(std::to_string(format));
        auto it = m_layouts.find(key);
        if (it != m_layouts.end())
            return it->second;
        if (m_layouts.size() > 4096)
            Clear();
        PangoLayout* layout = Make(font, text, width, height, format);
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
                             uint32_t format) {
        PangoLayout* layout = pango_layout_new(SharedContext());
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

void UIRenderUtils::SetSourceColor(cairo_t* cr, UIColor c) {
    cairo_set_source_rgba(cr, ((c >> 16) & 0xFF) / 255.0, ((c >> 8) & 0xFF) / 255.0, (c & 0xFF) / 255.0,
                          ((c >> 24) & 0xFF) / 255.0);
}

void UIRenderUtils::FillRect(cairo_t* cr, const UIRect& rc, UIColor color) {
    if (rc.IsEmpty() || (color >> 24) == 0)
        return;
    SetSourceColor(cr, color);
    cairo_rectangle(cr, rc.left, rc.top, rc.Width(), rc.Height());
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

void UIRenderUtils::FillRoundRect(cairo_t* cr, const UIRect& rc, int radius, UIColor color) {
    if (rc.IsEmpty() || (color >> 24) == 0)
        return;
    SetSourceColor(cr, color);
    RoundRectPath(cr, rc.left, rc.top, rc.Width(), rc.Height(), radius);
    cairo_fill(cr);
}

void UIRenderUtils::DrawBorder(cairo_t* cr, const UIRect& rc, int size, UIColor color, int radius) {
    if (size <= 0 || rc.IsEmpty() || (color >> 24) == 0)
        return;
    SetSourceColor(cr, color);
    double half = size / 2.0;
    RoundRectPath(cr, rc.left + half, rc.top + half, rc.Width() - size, rc.Height() - size,
                  std::max(0.0, radius - half));
    cairo_set_line_width(cr, size);
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
    auto image = UIResourceSingleton::Instance().GetImage(a.key);
    if (!image)
        return false;
    UIRect source = a.hasSource ? a.source : UIRect{0, 0, image->Width(), image->Height()};
    source = source.Intersect({0, 0, image->Width(), image->Height()});
    UIRect dest = rcItem;
    if (a.hasDest) {
        dest = a.dest;
        dest.Offset(rcItem.left, rcItem.top);
        // A destination outside the control is clipped to it, on every side.
        dest = dest.Intersect(rcItem);
    }
    DrawImage(cr, *image, dest, source, a.corner, a.fade, a.hole, a.xtiled, a.ytiled);
    return true;
}

namespace {

void DrawPart(cairo_t* cr, cairo_surface_t* surface, double sx, double sy, double sw, double sh, double dx,
              double dy, double dw, double dh, double alpha, bool tiled) {
    if (sw <= 0 || sh <= 0 || dw <= 0 || dh <= 0)
        return;
    cairo_save(cr);
    cairo_rectangle(cr, dx, dy, dw, dh);
    cairo_clip(cr);
    cairo_pattern_t* p = cairo_pattern_create_for_surface(surface);
    cairo_matrix_t m;
    if (tiled) {
        // Tile the source part at its own size.
        cairo_surface_t* sub = cairo_surface_create_for_rectangle(surface, sx, sy, sw, sh);
        cairo_pattern_destroy(p);
        p = cairo_pattern_create_for_surface(sub);
        cairo_surface_destroy(sub);
        cairo_pattern_set_extend(p, CAIRO_EXTEND_REPEAT);
        cairo_matrix_init_translate(&m, -dx, -dy);
    } else {
        double scaleX = sw / dw, scaleY = sh / dh;
        cairo_matrix_init(&m, scaleX, 0, 0, scaleY, sx - dx * scaleX, sy - dy * scaleY);
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

}  // namespace

namespace {

// Draws the image part by part (nine-grid) into `cr`, `dest` in cr's space.
void DrawNineGrid(cairo_t* cr, cairo_surface_t* s, const UIRect& dest, const UIRect& source, const UIRect& c,
                  double alpha, bool hole, bool tiled) {
    // Corners are widths: a negative one would widen the middle past `dest`.
    int sl = std::max(0, c.left), st = std::max(0, c.top), sr = std::max(0, c.right),
        sb = std::max(0, c.bottom);
    if (sl == 0 && st == 0 && sr == 0 && sb == 0) {
        DrawPart(cr, s, source.left, source.top, source.Width(), source.Height(), dest.left, dest.top,
                 dest.Width(), dest.Height(), alpha, tiled);
        return;
    }
    // Corners keep their size, edges stretch one way, the middle both.
    int dl = std::min(sl, dest.Width()), dr = std::min(sr, std::max(0, dest.Width() - dl));
    int dt = std::min(st, dest.Height()), db = std::min(sb, std::max(0, dest.Height() - dt));
    double sxs[4] = {double(source.left), double(source.left + sl), double(source.right - sr),
                     double(source.right)};
    double sys[4] = {double(source.top), double(source.top + st), double(source.bottom - sb),
                     double(source.bottom)};
    double dxs[4] = {double(dest.left), double(dest.left + dl), double(dest.right - dr), double(dest.right)};
    double dys[4] = {double(dest.top), double(dest.top + dt), double(dest.bottom - db), double(dest.bottom)};
    for (int row = 0; row < 3; ++row) {
        for (int col = 0; col < 3; ++col) {
            if (hole && row == 1 && col == 1)
                continue;
            DrawPart(cr, s, sxs[col], sys[row], sxs[col + 1] - sxs[col], sys[row + 1] - sys[row], dxs[col],
                     dys[row], dxs[col + 1] - dxs[col], dys[row + 1] - dys[row], alpha,
                     tiled && row == 1 && col == 1);
        }
    }
}

}  // namespace

void UIRenderUtils::DrawImage(cairo_t* cr, UIImageData& image, const UIRect& dest, const UIRect& source,
                              const UIRect& corner, uint8_t fade, bool hole, bool xtiled, bool ytiled) {
    if (dest.IsEmpty() || source.IsEmpty() || fade == 0)
        return;
    double alpha = fade / 255.0;
    bool tiled = xtiled || ytiled;
    bool unscaled = dest.Width() == source.Width() && dest.Height() == source.Height();
    // Larger than a cached rendering should be (and than cairo's 32767-pixel
    // surfaces): drawn directly each time.
    bool huge =
        int64_t{dest.Width()} * dest.Height() > 1024 * 1024 || dest.Width() > 8192 || dest.Height() > 8192;
    if (unscaled || huge) {
        DrawNineGrid(cr, image.Surface(), dest, source, corner, alpha, hole, tiled);
        return;
    }
    // Scaling (above all shrinking with a good filter) is the expensive part
    // of a frame: render once at the size shown and copy afterwards.
    std::string key =
        KWStringUtils::Format("%d,%d,%d,%d|%d,%d,%d,%d|%dx%d|%d%d", source.left, source.top, source.right,
                              source.bottom, corner.left, corner.top, corner.right, corner.bottom,
                              dest.Width(), dest.Height(), hole ? 1 : 0, tiled ? 1 : 0);
    cairo_surface_t* scaled = image.FindScaled(key);
    if (!scaled) {
        scaled = cairo_image_surface_create(CAIRO_FORMAT_ARGB32, dest.Width(), dest.Height());
        cairo_t* sc = cairo_create(scaled);
        DrawNineGrid(sc, image.Surface(), {0, 0, dest.Width(), dest.Height()}, source, corner, 1.0, hole,
                     tiled);
        cairo_destroy(sc);
        image.AddScaled(key, scaled);
    }
    cairo_save(cr);
    cairo_set_source_surface(cr, scaled, dest.left, dest.top);
    cairo_pattern_set_filter(cairo_get_source(cr), CAIRO_FILTER_NEAREST);
    cairo_rectangle(cr, dest.left, dest.top, dest.Width(), dest.Height());
    cairo_clip(cr);
    if (alpha < 1.0)
        cairo_paint_with_alpha(cr, alpha);
    else
        cairo_paint(cr);
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

void UIRenderUtils::DrawText(cairo_t* cr, UIPaintManager* pm, const UIRect& rc, const std::string& text,
                             UIColor color, const std::string& fontName, uint32_t format) {
    if (text.empty() || rc.IsEmpty() || (color >> 24) == 0)
        return;
    const UIFont& font = ResolveFont(pm, fontName);
    PangoLayout* layout = Layouts().Get(font, text, rc.Width(), rc.Height(), format);
    PangoRectangle ink, logical;
    pango_layout_get_pixel_extents(layout, &ink, &logical);
    double x = rc.left, y = rc.top;
    bool single = (format & DT_SINGLELINE) || !(format & DT_WORDBREAK);
    if (single && pango_layout_get_width(layout) < 0) {
        if (format & DT_CENTER)
            x += (rc.Width() - logical.width) / 2;
        else if (format & DT_RIGHT)
            x += rc.Width() - logical.width;
    }
    if (format & DT_VCENTER)
        y += (rc.Height() - logical.height) / 2;
    else if (format & DT_BOTTOM)
        y += rc.Height() - logical.height;
    cairo_save(cr);
    cairo_rectangle(cr, rc.left, rc.top, rc.Width(), rc.Height());
    cairo_clip(cr);
    SetSourceColor(cr, color);
    cairo_move_to(cr, std::floor(x), std::floor(y));
    pango_cairo_show_layout(cr, layout);
    cairo_restore(cr);
}

UISize UIRenderUtils::GetTextSize(const UIFont& font, const std::string& text, uint32_t format,
                                  int maxWidth) {
    if (text.empty()) {
        PangoLayout* layout = Layouts().Get(font, " ", 0, 0, DT_SINGLELINE);
        PangoRectangle logical;
        pango_layout_get_pixel_extents(layout, nullptr, &logical);
        return {0, logical.height};
    }
    uint32_t f = format & ~DT_END_ELLIPSIS;
    if (maxWidth <= 0)
        f |= DT_SINGLELINE;
    PangoLayout* layout =
        Layouts().Get(font, text, (f & DT_SINGLELINE) ? 0 : maxWidth, 0, f & ~(DT_CENTER | DT_RIGHT));
    PangoRectangle logical;
    pango_layout_get_pixel_extents(layout, nullptr, &logical);
    return {logical.width, logical.height};
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
    PangoLayout* layout = Layouts().Get(font, text.empty() ? std::string(" ") : text, 0, 0, DT_SINGLELINE);
    if (text.empty())
        return 0;
    PangoRectangle pos;
    pango_layout_index_to_pos(layout, static_cast<int>(std::min(byteIndex, text.size())), &pos);
    return PANGO_PIXELS(pos.x);
}

size_t UIRenderUtils::TextXToIndex(const UIFont& font, const std::string& text, int x) {
    if (text.empty())
        return 0;
    PangoLayout* layout = Layouts().Get(font, text, 0, 0, DT_SINGLELINE);
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
