// The two images the window is painted from.
#pragma once

#include <cairo.h>

// The PNG file `dir`/`name` as a new image surface, or null when the path does not fit in
// 4095 characters or the file cannot be read as a PNG.
cairo_surface_t* load_png(const char* dir, const char* name);
