// The queue panel: which songs are in view, and what the wheel, a click and the keys do there.
// The picture is painted from queue_rows; every change of the queue goes through actions.
#pragma once

#include <cstdint>
#include <vector>

#include "ui/draw.h"

struct AppState;

// The rows in view, top first, the current song and the keyboard's choice marked.
std::vector<QueueRow> queue_rows(const AppState& app);

// Keeps the view on the current song when it changes (a song's end, next, a click), and
// within the queue when it shrinks.
void follow_current_song(AppState& app);

// Moves the view by `rows` (negative: up), limited to the queue.
void scroll_queue_panel(AppState& app, int rows);

// The view moved just enough for entry `index` to be in it.
void show_queue_entry(AppState& app, int32_t index);

// The entry in the view's first row.
int32_t queue_panel_top(const AppState& app);
