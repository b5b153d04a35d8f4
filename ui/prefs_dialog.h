// The modal "Preferences" window: one drop-down list per setting, "_Cancel" and "_OK".
#pragma once

#include "prefs/preferences.h"

struct AppState;
typedef struct _GtkWindow GtkWindow;
typedef struct _GtkWidget GtkWidget;
typedef struct _GtkDropDown GtkDropDown;

// Lives from prefs_dialog_open until its window is destroyed (OK, Cancel, Escape or closing
// the window), which frees it.
struct PrefsDialog {
    AppState* app = nullptr;
    GtkWindow* dialog = nullptr;
    GtkDropDown* drop_downs[kPrefFieldCount] = {};
};

// Builds and presents a new dialog, transient for the main window. Every call opens one.
void prefs_dialog_open(AppState& app);

// "_OK": puts the selected options into effect, saves them and closes the dialog.
void prefs_dialog_apply(GtkWidget* button, PrefsDialog* dialog);
