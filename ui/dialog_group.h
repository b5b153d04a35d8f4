// The dialogs belong to the application as the main window does, so that a dock shows them as
// the program's windows and groups them with it.
#pragma once

#include <functional>

struct AppState;
typedef struct _GtkWindow GtkWindow;

// `dialog` becomes one of the application's windows (nothing without an application).
void join_application(AppState& app, GtkWindow* dialog);

// Runs `open`; every window the toolkit makes meanwhile (a file chooser's) joins the
// application before it is shown.
void adopting_toolkit_windows(AppState& app, const std::function<void()>& open);
