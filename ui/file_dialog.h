// The "Open MIDI" dialog. Asynchronous: the chosen file is loaded once the dialog is accepted.
#pragma once

struct AppState;

void open_file_dialog(AppState& app);
