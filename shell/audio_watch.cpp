#include "shell/audio_watch.h"

#include <glib.h>

#include "audio/audio_status.h"
#include "prefs/preferences.h"
#include "shell/app_state.h"
#include "shell/initial_song.h"

namespace {

gboolean on_audio_watch(gpointer data) {
    audio_watch_tick(*static_cast<AppState*>(data));
    return G_SOURCE_CONTINUE;
}

} // namespace

bool start_audio(AppState& app) {
    const auto rate = static_cast<uint32_t>(app.prefs.output_frequency_hz);
    const bool started =
        audio_output_start(app.audio, app.player, rate, prefs_latency_frames(app.prefs, rate));
    app.audio_failed = started ? 0 : 1;
    if (!started) player_set_status(app.player, kAudioFailedText);
    return started;
}

namespace {

// A running stream whose daemon hangs asks for no blocks, and nothing else says so.
void watch_blocks(AppState& app) {
    const uint64_t blocks = audio_output_blocks(app.audio);
    const int64_t now = g_get_monotonic_time();
    const TransportState state = player_transport(app.player);
    const bool playing = state.active && !state.paused;
    if (blocks != app.audio_blocks_seen || app.audio_blocks_moved_us == 0) {
        app.audio_blocks_seen = blocks;
        app.audio_blocks_moved_us = now;
        if (app.audio_stalled != 0 && playing && state.status == kAudioStalledText)
            player_set_status(app.player, "Playing");
        app.audio_stalled = 0;
        return;
    }
    if (app.audio_stalled == 0 && playing && now - app.audio_blocks_moved_us > kAudioStallUs) {
        app.audio_stalled = 1;
        player_set_status(app.player, kAudioStalledText);
    }
}

} // namespace

void audio_watch_tick(AppState& app) {
    if (app.audio_failed == 0) {
        if (!audio_output_lost(app.audio)) {
            watch_blocks(app);
            return;
        }
        // The stream said so on its own thread already; say it again in case that raced a
        // status written here. The retry waits for the next tick: the daemon has just gone.
        app.audio_failed = 1;
        app.audio_stalled = 0;
        app.audio_blocks_moved_us = 0;
        player_set_status(app.player, kAudioLostText);
        audio_output_stop(app.audio);
        return;
    }
    // The transport keeps its position meanwhile, so the song goes on from there once the
    // stream runs.
    const auto rate = static_cast<uint32_t>(app.prefs.output_frequency_hz);
    const bool started =
        audio_output_start(app.audio, app.player, rate, prefs_latency_frames(app.prefs, rate));
    if (!started) return;
    app.audio_failed = 0;
    player_set_status(app.player, kAudioRestoredText);
}

void note_play_without_output(AppState& app) {
    if (app.audio_failed == 0) return;
    if (player_transport(app.player).status == "Playing")
        player_set_status(app.player, kPlayingWithoutOutputText);
}

void start_audio_watch(AppState& app) {
    if (app.audio_watch_id == 0)
        app.audio_watch_id = g_timeout_add(kAudioRetryIntervalMs, on_audio_watch, &app);
}

void stop_audio_watch(AppState& app) {
    if (app.audio_watch_id != 0) g_source_remove(app.audio_watch_id);
    app.audio_watch_id = 0;
}
