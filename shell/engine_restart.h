// Putting confirmed preferences into effect, including the engine restart that a new output
// frequency needs. Main thread only; none of this needs a window.
#pragma once

#include <cstdint>

struct AppState;
struct PrefsApplyPlan;

struct EngineRestartResult {
    bool audio_failed = false;  // the output did not start again: the program is silent
    bool reload_failed = false; // the song did not load again; the loader wrote why
};

// Stops the audio output, builds the Player again for `frequency`, starts the output and
// reloads the song (the loaded one, else the named one, else the demo song). The song comes
// back at the same moment (in time), playing, paused or stopped as it was, every mute kept.
EngineRestartResult restart_engine(AppState& app, int32_t frequency);

// Starts the audio output again with the preferences' latency, keeping the song as it is.
// False, with the failure on the status line, when it did not start.
bool restart_audio(AppState& app);

// Takes the plan's settings into effect and saves them: restart if the frequency changed,
// instrument set, status line. The caller re-arms the redraw timer when the plan says so.
void apply_preferences(AppState& app, const PrefsApplyPlan& plan);
