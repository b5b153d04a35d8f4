// The main window's picture: the skin scaled to the drawing area, live sprites from the atlas on
// top, painted from a DrawSnapshot so that no cairo call runs under the Player lock.
#pragma once

#include <cairo.h>

#include <functional>
#include <string>
#include <string_view>

#include "sequencer/draw_snapshot.h"
#include "ui/layout.h"

// Skin units to drawing-area pixels: one uniform scale, the skin centred (offsets rounded down).
struct ViewTransform {
    double scale = 0.0;
    double offset_x = 0.0;
    double offset_y = 0.0;
};
ViewTransform view_transform(int width, int height);

// Either image may be null: the skin's place is then filled with the panel colour, and without
// the atlas no sprite or digit is drawn.
struct DrawImages {
    cairo_surface_t* skin = nullptr;
    cairo_surface_t* atlas = nullptr;
};

// Copies the atlas frame whose top-left is `frame` 1:1 into `dest` (skin units).
void blit_sprite(cairo_t* cr, cairo_surface_t* atlas, layout::Rect dest, layout::Point frame);
// Three digits with leading zeros, hundreds at x; the value is limited to 0 to 999.
void draw_digits3(cairo_t* cr, cairo_surface_t* atlas, int value, int x, int y);
// Two digits on the counter row, tens at x; a negative value shows 00.
void draw_digits2(cairo_t* cr, cairo_surface_t* atlas, int value, int x);

// Paints one whole frame into an area of width x height pixels and returns the transform used.
ViewTransform paint_frame(cairo_t* cr, int width, int height, const DrawSnapshot& snapshot,
                          const DrawImages& images);

// The longest run of whole characters from the start of `text` (valid UTF-8) whose width fits
// in `max_width`; with `ellipsis`, a cut text ends in "…" and the ellipsis counts in the width.
std::string fit_text(std::string_view text, double max_width,
                     const std::function<double(std::string_view)>& width_of, bool ellipsis);
// The base name of `path` as valid UTF-8 for display; empty for an empty path or one ending in
// '/'.
std::string display_file_name(const char* path);
// `text` with every invalid byte sequence replaced, so a text cut inside a character still draws.
std::string valid_utf8(const char* text);

// The drawing area's draw function; `app_state` is the AppState.
typedef struct _GtkDrawingArea GtkDrawingArea;
void on_draw(GtkDrawingArea* area, cairo_t* cr, int width, int height, void* app_state);
