// The "Open MIDI" dialog. Asynchronous: the chosen files replace the queue once the dialog is
// accepted.
#pragma once

struct AppState;

void open_file_dialog(AppState& app);
