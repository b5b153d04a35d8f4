#include "app/engine_restart.h"

#include <cstring>
#include <mutex>

#include "app/app_state.h"
#include "app/initial_song.h"
#include "app/resources.h"
#include "prefs/prefs_apply.h"
#include "sequencer/load_song.h"
#include "sequencer/transport.h"
#include "song/midi_reader.h"
#include "synth/synth.h"

EngineRestartResult restart_engine(AppState& app, int32_t frequency) {
    Player& player = app.player;
    char path[kPathCapacity] = {};
    bool resume = false;
    {
        std::lock_guard<std::mutex> guard(player.lock);
        copy_song_path(path, player.song_path);
        resume = player.active && !player.paused;
    }

    // From here until the output starts again no audio callback runs. The lock itself is
    // never rebuilt: synth_init resets everything else in the Player.
    audio_output_stop(app.audio);
    {
        std::lock_guard<std::mutex> guard(player.lock);
        free_song(player.song);
        synth_init(player, frequency);
        synth_select_instrument_set(player.synth, app.prefs.instrument_set);
    }

    EngineRestartResult result;
    if (!audio_output_start(app.audio, player, static_cast<uint32_t>(frequency))) {
        result.audio_failed = true;
        std::lock_guard<std::mutex> guard(player.lock);
        player_set_status(player, kAudioFailedText);
    }
    app.audio_failed = result.audio_failed ? 1 : 0;

    if (path[0] != '\0') {
        result.reload_failed = !load_song(player, path);
    } else if (app.initial_song_path[0] != '\0') {
        result.reload_failed = !load_song(player, app.initial_song_path);
    } else {
        result.reload_failed = !load_default_song(app);
    }
    // With no song back there is nothing to resume, and the loader's text must stay.
    if (resume && !result.reload_failed) start_playback(player);
    return result;
}

void apply_preferences(AppState& app, const PrefsApplyPlan& plan) {
    app.prefs = plan.prefs;
    int save_error = 0;
    const bool saved = prefs_save(app.prefs, save_error);
    EngineRestartResult restart;
    if (plan.restart_engine) restart = restart_engine(app, app.prefs.output_frequency_hz);

    std::lock_guard<std::mutex> guard(app.player.lock);
    const int32_t set_number =
        synth_select_instrument_set(app.player.synth, app.prefs.instrument_set);
    char summary[kPrefsSummaryCapacity];
    format_prefs_summary(summary, app.prefs, set_number);
    // After a failed reload the status line still holds the loader's own text.
    char loader_text[kStatusCapacity];
    memcpy(loader_text, app.player.status_text, sizeof loader_text);
    // A failed save keeps the settings in memory as confirmed.
    char save_failure[kPrefsSummaryCapacity];
    format_prefs_save_failure(save_failure, save_error);
    player_set_status(app.player,
                      prefs_status_text(restart.audio_failed, saved ? nullptr : save_failure,
                                        restart.reload_failed, loader_text, summary));
}
