// The main window's picture: the skin scaled to the drawing area, live sprites from the atlas on
// top, painted from a DrawSnapshot so that no cairo call runs under the Player lock.
#pragma once

#include <cairo.h>

#include <functional>
#include <string>
#include <vector>

#include "sequencer/draw_snapshot.h"
#include "ui/layout.h"

// Skin units to drawing-area pixels: one uniform scale, the skin centred (offsets rounded down to
// whole device pixels, `device_scale` of them to a drawing-area pixel).
struct ViewTransform {
    double scale = 0.0;
    double offset_x = 0.0;
    double offset_y = 0.0;
};
ViewTransform view_transform(int width, int height, double device_scale = 1.0);

// Either image may be null: the skin's place is then filled with the panel colour, and without
// the atlas no sprite or digit is drawn.
struct DrawImages {
    cairo_surface_t* skin = nullptr;
    cairo_surface_t* atlas = nullptr;
};

// One line of the queue panel.
struct QueueRow {
    std::string title;  // the song's title, else its file name
    std::string length; // "4:56"; empty while not yet read
    bool current = false;
    bool selected = false; // the keyboard's choice while the panel has the focus
    friend bool operator==(const QueueRow&, const QueueRow&) = default;
};

// What the window shows besides the Player's snapshot, gathered on the main thread.
struct FrameText {
    std::string title; // the song's title, else its file name
    std::string copyright;
    std::string lyric; // the line of the song's words being sung, and the one after it
    std::string next_lyric;
    size_t lyric_sung = 0;       // bytes of `lyric` sung so far, drawn brighter than the rest
    bool has_words = false;      // false: the keys show where the words would be
    std::vector<QueueRow> queue; // the rows in view, top first
    double volume = 1.0;         // 0 to 1
    int repeat = 0;              // 0 off, 1 the queue, 2 one song
    bool shuffle = false;
    friend bool operator==(const FrameText&, const FrameText&) = default;
};

// Copies the atlas frame whose top-left is `frame` 1:1 into `dest` (skin units).
void blit_sprite(cairo_t* cr, cairo_surface_t* atlas, layout::Rect dest, layout::Point frame);
// Three digits with leading zeros, hundreds at x; the value is limited to 0 to 999.
void draw_digits3(cairo_t* cr, cairo_surface_t* atlas, int value, int x, int y);

// Paints one whole frame into an area of width x height pixels and returns the transform used;
// the target has `device_scale` device pixels to a pixel (cairo_surface_set_device_scale).
ViewTransform paint_frame(cairo_t* cr, int width, int height, const DrawSnapshot& snapshot,
                          const DrawImages& images, const FrameText& text = {},
                          double device_scale = 1.0);

// The pieces of a frame above the skin, in painting order; they do not overlap. paint_frame is
// the skin, then each element's paint in skin space: a repaint of only the elements whose key
// changed gives the same pixels.
struct PictureElement {
    layout::Rect bounds;                 // skin units; nothing is painted outside
    std::string key;                     // equal keys paint equal pixels
    std::function<void(cairo_t*)> paint; // in skin space; may refer to the arguments
};
std::vector<PictureElement> picture_elements(const DrawSnapshot& snapshot, const DrawImages& images,
                                             const FrameText& text);
// Drawing-area pixels to skin units (cairo_translate and cairo_scale by `view`, no antialias);
// returns the matrix before the scale.
cairo_matrix_t enter_skin_space(cairo_t* cr, const ViewTransform& view);
// The skin, scaled once to device pixels (nearest neighbour) and copied 1:1; without it the panel
// colour.
void paint_skin(cairo_t* cr, cairo_surface_t* skin, const ViewTransform& view, double device_scale);

// The clock's glyphs for `text` (digits and colons) from x, top at y; returns their width.
int draw_clock(cairo_t* cr, cairo_surface_t* atlas, const char* text, int x, int y);
int clock_width(const char* text);
// The base name of `path` as valid UTF-8 for display; empty for an empty path or one ending in
// '/'.
std::string display_file_name(const char* path);
// `text` with every invalid byte sequence replaced, so a text cut inside a character still draws.
std::string valid_utf8(const char* text);

// The texts of the window for the application's current state.
struct AppState;
FrameText frame_text(const AppState& app, const DrawSnapshot& snapshot);
