// Every command a user can give, as one action of the application. The skin's regions, the
// keys and the desktop's media controls only activate these, so each command is decided once.
#pragma once

#include <gio/gio.h>

struct AppState;
typedef struct _GtkApplication GtkApplication;

// Adds every action to `map` (the application; a plain action group without a display) and
// makes it the group that activate_action uses.
void install_actions(GActionMap* map, AppState& app);

// The keyboard shortcuts as accelerators of the actions.
void install_accelerators(GtkApplication* application);

// What the key of `detailed_action` ("app.open") does, in words; null for one without a key.
const char* action_title(const char* detailed_action);

// Calls `each` for every action that has keys, in the order the keys window lists them.
void list_keys(void (*each)(const char* detailed_action, const char* title, void* data),
               void* data);

// The `volume` action's state becomes app.volume, which was set elsewhere (restored at start),
// without a word on the status line.
void show_volume(AppState& app);

// The same for repeat and shuffle (restored at start).
void show_queue_modes(AppState& app);

// Activates action `name` of the installed group; `parameter` (a floating reference is taken)
// is null for the actions without one.
void activate_action(AppState& app, const char* name, GVariant* parameter = nullptr);
