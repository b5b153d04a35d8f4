// The WAV button: "Export WAV" save dialog, the background export it starts, and the status
// line while it runs.
#pragma once

struct AppState;

// With no song: "No MIDI loaded". During an export: cancels it. Otherwise asks where to save.
void export_wav_button(AppState& app);

// Called on every redraw tick: the export's progress, then its final text once.
void export_poll(AppState& app);
