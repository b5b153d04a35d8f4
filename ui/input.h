// Pointer, keyboard and drop handlers of the drawing area. All run on the main thread with the
// AppState as user data.
#pragma once

#include <gtk/gtk.h>

#include "shell/play_queue.h"

struct AppState;

void on_press(GtkGestureClick* gesture, int press_count, double x, double y, gpointer data);
void on_release(GtkGestureClick* gesture, int press_count, double x, double y, gpointer data);
void on_motion(GtkEventControllerMotion* controller, double x, double y, gpointer data);
// True when the drop was taken: files (or one file) of which one has a local path, even when it
// fails to load. They replace the queue, the first playing if music was playing.
gboolean on_drop(GtkDropTarget* target, const GValue* value, double x, double y, gpointer data);
gboolean on_key_pressed(GtkEventControllerKey* controller, guint keyval, guint keycode,
                        GdkModifierType state, gpointer data);
// The wheel over the skin steps the volume.
gboolean on_scroll(GtkEventControllerScroll* controller, double dx, double dy, gpointer data);

// One step of the volume keys and of a wheel notch.
constexpr double kVolumeStep = 0.05;

// A song opened on its own goes into the desktop's recent files.
void add_recent_song(const char* path);

// The loading path shared by drops, the file dialog and a second launch: the files' local paths
// (folders too) replace the queue or, `append`ed, join its end; files go into the recent files.
// What the first new song does is `first`; appending leaves the current song alone whatever it
// says. False when no file has a local path. A drop on the queue panel passes `append`.
bool open_files(AppState& app, GSList* files, bool append, FirstSong first = FirstSong::kAsPlaying);
// The files of a drop's value (a GdkFileList or a GFile); empty for anything else. The list
// holds no references of its own: free it with g_slist_free while the value lives.
GSList* dropped_files(const GValue* value);
