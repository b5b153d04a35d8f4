#include "ui/skin.h"

#include "base/bounded_text.h"

cairo_surface_t* load_png(const char* dir, const char* name) {
    char path[kPathCapacity];
    if (!join_path(path, dir, name)) return nullptr;
    cairo_surface_t* surface = cairo_image_surface_create_from_png(path);
    if (cairo_surface_status(surface) != CAIRO_STATUS_SUCCESS) {
        cairo_surface_destroy(surface);
        return nullptr;
    }
    return surface;
}
