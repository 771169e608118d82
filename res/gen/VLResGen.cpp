// Writes every registered PNG resource into the folder given as argument and,
// with --sheet, a contact sheet of all of them (id and size under each) for
// looking the set over in one picture.
#include <cstdio>
#include <cstring>
#include <map>
#include <string>

#include "VLResDraw.h"

namespace {

struct Rendered {
    const VLResDef* def;
    cairo_surface_t* surface;
};

// Small pictures are enlarged (without smoothing, so their pixels can be
// judged) and the backgrounds reduced.
double SheetScale(const VLResDef& def) {
    int longest = std::max(def.width, def.height);
    if (longest > 420)
        return 420.0 / longest;
    if (longest <= 40)
        return 3;
    if (longest <= 100)
        return 2;
    return 1;
}

bool WriteSheet(const std::map<int, Rendered>& images, const std::string& path) {
    const int sheetWidth = 1680, gap = 14, label = 22;
    struct Place {
        const Rendered* r;
        double x, y, scale;
    };
    std::vector<Place> places;
    double x = gap, y = gap, rowHeight = 0;
    for (const auto& [id, r] : images) {
        double s = SheetScale(*r.def);
        double w = std::max(r.def->width * s, 120.0), h = r.def->height * s + label;
        if (x + w + gap > sheetWidth) {
            x = gap;
            y += rowHeight + gap;
            rowHeight = 0;
        }
        places.push_back({&r, x, y, s});
        x += w + gap;
        rowHeight = std::max(rowHeight, h);
    }
    int height = static_cast<int>(y + rowHeight + gap);
    cairo_surface_t* sheet = cairo_image_surface_create(CAIRO_FORMAT_RGB24, sheetWidth, height);
    cairo_t* cr = cairo_create(sheet);
    VLSetColor(cr, 0xFFE4E7EA);
    cairo_paint(cr);
    cairo_select_font_face(cr, "DejaVu Sans", CAIRO_FONT_SLANT_NORMAL, CAIRO_FONT_WEIGHT_NORMAL);
    cairo_set_font_size(cr, 11);
    for (const Place& p : places) {
        double w = p.r->def->width * p.scale, h = p.r->def->height * p.scale;
        // A light checkerboard shows where the picture is transparent.
        for (int cy = 0; cy < h; cy += 6)
            for (int cx = 0; cx < w; cx += 6) {
                VLSetColor(cr, ((cx + cy) / 6) % 2 ? 0xFFFFFFFF : 0xFFF0F0F0);
                cairo_rectangle(cr, p.x + cx, p.y + cy, std::min(6.0, w - cx), std::min(6.0, h - cy));
                cairo_fill(cr);
            }
        cairo_save(cr);
        cairo_translate(cr, p.x, p.y);
        cairo_scale(cr, p.scale, p.scale);
        cairo_set_source_surface(cr, p.r->surface, 0, 0);
        cairo_pattern_set_filter(cairo_get_source(cr),
                                 p.scale > 1 ? CAIRO_FILTER_NEAREST : CAIRO_FILTER_GOOD);
        cairo_paint(cr);
        cairo_restore(cr);
        char text[64];
        std::snprintf(text, sizeof text, "%d  %dx%d%s", p.r->def->id, p.r->def->width, p.r->def->height,
                      p.scale > 1 ? (p.scale == 2 ? "  (x2)" : "  (x3)") : "");
        VLSetColor(cr, 0xFF333333);
        cairo_move_to(cr, p.x, p.y + h + 15);
        cairo_show_text(cr, text);
    }
    cairo_destroy(cr);
    bool ok = cairo_surface_write_to_png(sheet, path.c_str()) == CAIRO_STATUS_SUCCESS;
    cairo_surface_destroy(sheet);
    return ok;
}

cairo_surface_t* Render(const VLResDef& def, int density, int& failures) {
    cairo_surface_t* s =
        cairo_image_surface_create(CAIRO_FORMAT_ARGB32, def.width * density, def.height * density);
    cairo_t* cr = cairo_create(s);
    cairo_scale(cr, density, density);
    def.draw(cr);
    if (cairo_status(cr) != CAIRO_STATUS_SUCCESS) {
        std::fprintf(stderr, "resource %d at %dx: %s\n", def.id, density,
                     cairo_status_to_string(cairo_status(cr)));
        ++failures;
    }
    cairo_destroy(cr);
    return s;
}

bool Write(cairo_surface_t* s, const std::string& path) {
    if (cairo_surface_write_to_png(s, path.c_str()) == CAIRO_STATUS_SUCCESS)
        return true;
    std::fprintf(stderr, "cannot write %s\n", path.c_str());
    return false;
}

}  // namespace

int main(int argc, char** argv) {
    std::string out, sheet;
    for (int i = 1; i < argc; ++i) {
        if (std::strcmp(argv[i], "--sheet") == 0 && i + 1 < argc)
            sheet = argv[++i];
        else if (out.empty())
            out = argv[i];
    }
    if (out.empty()) {
        std::fprintf(stderr, "usage: VLResGen <output folder> [--sheet <contact sheet.png>]\n");
        return 2;
    }
    if (out.back() != '/')
        out += '/';
    int failures = 0;
    std::map<int, Rendered> images;
    for (const VLResDef& def : VLResRegistry()) {
        if (images.count(def.id)) {
            // Two pictures under one id: whichever was written last would win silently.
            std::fprintf(stderr, "resource %d is registered twice\n", def.id);
            ++failures;
            continue;
        }
        // Each picture twice: at its size, and drawn at twice the size for
        // screens that show two pixels (or more) per layout unit.
        cairo_surface_t* s = Render(def, 1, failures);
        cairo_surface_t* s2 = Render(def, 2, failures);
        failures += Write(s, out + std::to_string(def.id) + ".png") ? 0 : 1;
        failures += Write(s2, out + std::to_string(def.id) + "@2x.png") ? 0 : 1;
        cairo_surface_destroy(s2);
        images[def.id] = {&def, s};
    }
    if (!sheet.empty() && !WriteSheet(images, sheet)) {
        std::fprintf(stderr, "cannot write %s\n", sheet.c_str());
        ++failures;
    }
    for (auto& [id, r] : images)
        cairo_surface_destroy(r.surface);
    return failures == 0 ? 0 : 1;
}
