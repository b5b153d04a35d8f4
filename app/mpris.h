// Desktop media controls on the session bus (MPRIS): the same transport operations as the keys
// and buttons. Without a session bus nothing is exported and nothing is said.
#pragma once

struct AppState;

// Exports the two objects on the application's bus connection, if it has one.
void mpris_start(AppState& app);
// Called on every redraw tick: emits PropertiesChanged for what changed since; the seek
// actions emit Seeked themselves.
void mpris_poll(AppState& app);
void mpris_stop(AppState& app);
