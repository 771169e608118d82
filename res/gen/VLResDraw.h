#pragma once
// Helpers and the registry of the build-time PNG resource generator. Each
// VLRes*.cpp file in this folder registers the resources of one topic:
//
//     static VLResRegistrar reg(2101, 50, 25, [](cairo_t* cr) { ... });
//
// The generator writes "<id>.png" for every registered resource.
#include <cairo.h>

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

inline void VLSetColor(cairo_t* cr, uint32_t argb) {
    cairo_set_source_rgba(cr, ((argb >> 16) & 0xFF) / 255.0, ((argb >> 8) & 0xFF) / 255.0,
                          (argb & 0xFF) / 255.0, ((argb >> 24) & 0xFF) / 255.0);
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
