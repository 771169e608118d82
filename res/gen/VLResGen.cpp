// Writes every registered PNG resource into the folder given as argument.
#include <cstdio>
#include <string>

#include "VLResDraw.h"

int main(int argc, char** argv) {
    if (argc < 2) {
        std::fprintf(stderr, "usage: VLResGen <output folder>\n");
        return 2;
    }
    std::string out = argv[1];
    if (!out.empty() && out.back() != '/')
        out += '/';
    int failures = 0;
    for (const VLResDef& def : VLResRegistry()) {
        cairo_surface_t* s = cairo_image_surface_create(CAIRO_FORMAT_ARGB32, def.width, def.height);
        cairo_t* cr = cairo_create(s);
        def.draw(cr);
        cairo_destroy(cr);
        std::string path = out + std::to_string(def.id) + ".png";
        if (cairo_surface_write_to_png(s, path.c_str()) != CAIRO_STATUS_SUCCESS) {
            std::fprintf(stderr, "cannot write %s\n", path.c_str());
            ++failures;
        }
        cairo_surface_destroy(s);
    }
    return failures == 0 ? 0 : 1;
}
