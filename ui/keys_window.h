// A small window listing every key of the application and what it does (F1, Ctrl+?).
#pragma once

struct AppState;

// Opens the keys window, or brings the open one to the front.
void keys_window_open(AppState& app);
