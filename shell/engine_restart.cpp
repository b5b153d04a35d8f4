#include "shell/engine_restart.h"

#include <string>

#include "audio/audio_status.h"
#include "prefs/prefs_apply.h"
#include "sequencer/load_song.h"
#include "sequencer/transport.h"
#include "shell/app_state.h"
#include "shell/audio_watch.h"
#include "shell/initial_song.h"
#include "shell/loudness_level.h"
#include "shell/resources.h"
#include "shell/song_words.h"
#include "song/midi_reader.h"
#include "synth/synth.h"

EngineRestartResult restart_engine(AppState& app, int32_t frequency) {
    Player& player = app.player;
    const TransportState before = player_transport(player);
    char path[kPathCapacity] = {};
    copy_song_path(path, before.path.c_str());
    const uint16_t mutes = player_mutes(player);
    // The same moment at the new rate, whole frames towards the start; after the end, the top.
    uint64_t place = 0;
    if (!before.ended && before.rate > 0)
        place = static_cast<uint64_t>(static_cast<unsigned __int128>(before.position) *
                                      static_cast<uint32_t>(frequency) /
                                      static_cast<uint32_t>(before.rate));

    // From here until the output starts again no audio callback runs. The lock itself is
    // never rebuilt: synth_init resets everything else in the Player.
    audio_output_stop(app.audio);
    player_release_song(player);
    synth_init(player, frequency);
    player_set_mutes(player, mutes);
    player_select_instrument_set(player, app.prefs.instrument_set);
    player_set_auto_detune(player, app.prefs.auto_detune_mode != 0);

    EngineRestartResult result;
    const auto rate = static_cast<uint32_t>(frequency);
    if (!audio_output_start(app.audio, player, rate, prefs_latency_frames(app.prefs, rate))) {
        result.audio_failed = true;
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
    refresh_song_words(app);
    // With no song back there is nothing to resume, and the loader's text must stay.
    if (result.reload_failed) return result;
    if (place != 0) seek_to_frame(player, place);
    if (before.active) start_playback(player);
    if (before.active && before.paused) toggle_pause(player);
    return result;
}

bool restart_audio(AppState& app) {
    // The transport is left alone: the song goes on from where the old stream stopped it.
    audio_output_stop(app.audio);
    return start_audio(app);
}

void apply_preferences(AppState& app, const PrefsApplyPlan& plan) {
    const Preferences before = app.prefs;
    app.prefs = plan.prefs;
    int save_error = 0;
    const bool saved = prefs_save(app.prefs, save_error);
    // Songs loaded from now on follow it, among them one the restart loads again.
    player_set_song_loops(app.player, app.prefs.song_loops);
    EngineRestartResult restart;
    if (plan.restart_engine) restart = restart_engine(app, app.prefs.output_frequency_hz);
    if (plan.restart_audio) restart.audio_failed = !restart_audio(app);

    const int32_t set_number = player_select_instrument_set(app.player, app.prefs.instrument_set);
    player_set_auto_detune(app.player, app.prefs.auto_detune_mode != 0);
    // Measured again at the new settings; a song reloaded by the restart, too.
    if (plan.restart_engine || before.loudness_levelling != app.prefs.loudness_levelling ||
        before.instrument_set != app.prefs.instrument_set)
        loudness_level_song(app);
    char summary[kPrefsSummaryCapacity];
    format_prefs_summary(summary, app.prefs, set_number);
    // After a failed reload the status line still holds the loader's own text.
    const std::string loader_text = player_transport(app.player).status;
    // A failed save keeps the settings in memory as confirmed.
    char save_failure[kPrefsSummaryCapacity];
    format_prefs_save_failure(save_failure, save_error);
    player_set_status(app.player,
                      prefs_status_text(restart.audio_failed, saved ? nullptr : save_failure,
                                        restart.reload_failed, loader_text.c_str(), summary));
}
