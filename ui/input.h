// Pointer, keyboard and drop handlers of the drawing area. All run on the main thread with the
// AppState as user data.
#pragma once

#include <gtk/gtk.h>

struct AppState;

void on_press(GtkGestureClick* gesture, int press_count, double x, double y, gpointer data);
void on_release(GtkGestureClick* gesture, int press_count, double x, double y, gpointer data);
void on_motion(GtkEventControllerMotion* controller, double x, double y, gpointer data);
// True when the drop was taken: a file with a local path, even one that fails to load.
gboolean on_drop(GtkDropTarget* target, const GValue* value, double x, double y, gpointer data);
gboolean on_key_pressed(GtkEventControllerKey* controller, guint keyval, guint keycode,
                        GdkModifierType state, gpointer data);
// The wheel over the skin steps the volume.
gboolean on_scroll(GtkEventControllerScroll* controller, double dx, double dy, gpointer data);

// One step of the volume keys and of a wheel notch.
constexpr double kVolumeStep = 0.05;

// A song opened on its own goes into the desktop's recent files.
void add_recent_song(const char* path);

// The loading path shared by drops and the file dialog: asks the loader for the file's local
// path (an empty path loads nothing), adds it to the recent files and repaints. False when the
// file has no local path.
bool load_local_file(AppState& app, GFile* file);
