// The GTK application: command line, engine start, activation and the main window.
#pragma once

struct AppState;
typedef struct _GtkApplication GtkApplication;

// Runs the application on the unchanged argument vector and returns its exit status.
// --help, --version and unknown options end it before the engine or a window exists.
int run_application(AppState& app, int argc, char** argv);

void on_activate(GtkApplication* application, AppState* app);
