// The main window: undecorated, one drawing area painted from the skin, with the pointer,
// key and drop handlers connected.
#pragma once

struct AppState;
typedef struct _GtkApplication GtkApplication;

// Builds and presents the window for `application` and gives it the keyboard focus.
void build_main_window(GtkApplication* application, AppState& app);
