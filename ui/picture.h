// The main window's picture: a drawing area whose frames are built from one render node per
// picture element, kept while the element's key stays the same, so the toolkit's comparison of
// frames repaints only what changed. The skin is prescaled for the surface's scale.
#pragma once

#include <gtk/gtk.h>

struct AppState;

// A GtkDrawingArea (AppState::surface) painting `app`.
GtkWidget* picture_new(AppState& app);

// The redraw timer's tick: queues a frame only when the picture would differ from the one
// shown (a brief snapshot of its own; the frame takes the one it paints).
void picture_tick(GtkWidget* picture);
