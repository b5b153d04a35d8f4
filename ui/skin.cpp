#include "ui/skin.h"

#include <cstdio>

cairo_surface_t* load_png(const char* dir, const char* name) {
    char path[4096];
    const int length = snprintf(path, sizeof path, "%s/%s", dir, name);
    if (length < 1 || length >= static_cast<int>(sizeof path)) return nullptr;
    cairo_surface_t* surface = cairo_image_surface_create_from_png(path);
    if (cairo_surface_status(surface) != CAIRO_STATUS_SUCCESS) {
        cairo_surface_destroy(surface);
        return nullptr;
    }
    return surface;
}
