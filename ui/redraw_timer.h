// The periodic repaint of the main window, at the preferred redraw timing.
#pragma once

struct AppState;

// Replaces the current redraw timeout, if any, with one at prefs.redraw_timing_fps.
void restart_redraw_timer(AppState& app);
// Removes the redraw timeout, if any.
void stop_redraw_timer(AppState& app);
